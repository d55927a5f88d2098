#include "test_support.h"

#include <QApplication>
#include <QGraphicsView>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <opencv2/videoio.hpp>

bool FakeCamera::read(cv::Mat& out)
{
    const int index = script_->reads++;
    if (!opened_ || !script_->frame) {
        out.release();
        return false;
    }
    out = script_->frame(index);
    return !out.empty();
}

FakeRig installFakeRig(std::function<cv::Mat(int)> frame, bool cameraOpens)
{
    FakeRig rig;
    rig.camera->opens = cameraOpens;
    rig.camera->frame = std::move(frame);
    Environment& env = environment();
    auto script = rig.camera;
    env.makeCamera = [script] { return std::make_unique<FakeCamera>(script); };
    auto clock = rig.clock;
    env.nowMs = [clock] { return clock->now; };
    env.cameraWarmUpMs = 0;
    return rig;
}

cv::Mat solidFrame(int width, int height, cv::Scalar bgr)
{
    return cv::Mat(height, width, CV_8UC3, bgr);
}

void closeNextModalBox()
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->done(0);
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

std::vector<cv::Mat> readAllFrames(const QString& path)
{
    std::vector<cv::Mat> frames;
    cv::VideoCapture capture(path.toStdString());
    cv::Mat frame;
    while (capture.read(frame))
        frames.push_back(frame.clone());
    return frames;
}

cv::Mat noiseFrame(int width, int height, int seed)
{
    cv::Mat frame(height, width, CV_8UC3);
    cv::RNG rng(static_cast<uint64_t>(seed));
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    return frame;
}

void dragOnView(QGraphicsView* view, QPoint from, QPoint to)
{
    QWidget* vp = view->viewport();
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, from);
    for (int i = 1; i <= 4; ++i)
        QTest::mouseMove(vp, from + (to - from) * i / 4);
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, to);
}
