#include "support.h"

#include <algorithm>
#include <cmath>
#include <csignal>

#include <sys/resource.h>

#include <QProcess>

#include <opencv2/videoio.hpp>

#include "analysis/drag_selection.h"

namespace
{
struct FakeCamera : CameraSource {
    std::shared_ptr<FakeCameraScript> script;
    bool opened = false;
    explicit FakeCamera(std::shared_ptr<FakeCameraScript> s) : script(std::move(s)) {}
    bool open(int) override { return opened = script->opens; }
    bool isOpened() const override { return opened; }
    bool read(cv::Mat& out) override
    {
        const int index = script->reads++;
        out = opened && script->frame ? script->frame(index) : cv::Mat();
        return !out.empty();
    }
};

constexpr int kMarkBits = 12;
const auto markBlock = [](cv::Size frame) { return std::max(10, frame.width / 40); };
} // namespace

FakeRig installFakeRig(std::function<cv::Mat(int)> frame, bool cameraOpens)
{
    FakeRig rig;
    rig.camera->opens = cameraOpens;
    rig.camera->frame = std::move(frame);
    Environment& env = environment();
    env.makeCamera = [script = rig.camera] { return std::make_unique<FakeCamera>(script); };
    env.nowMs = [clock = rig.clock] { return *clock; };
    env.cameraWarmUpMs = 0;
    return rig;
}

void advance(FakeRig& rig, double ms)
{
    *rig.clock += ms;
    QTest::qWait(5);
}

void nextTick(FakeRig& rig, double ms)
{
    const int reads = rig.camera->reads;
    *rig.clock += ms;
    QTRY_VERIFY(rig.camera->reads > reads);
}

cv::Mat solidFrame(int width, int height, cv::Scalar bgr)
{
    return cv::Mat(height, width, CV_8UC3, bgr);
}

cv::Mat noiseFrame(int width, int height, int seed)
{
    cv::Mat frame(height, width, CV_8UC3);
    cv::RNG rng(static_cast<uint64_t>(seed));
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    return frame;
}

cv::Size targetSize(cv::Size frame)
{
    return cv::Size(std::max(16, frame.width / 20), std::max(12, frame.height / 20));
}

// A smooth loop around the centre, moving less than half a target a frame.
cv::Point targetTopLeft(int k, cv::Size frame)
{
    const cv::Size t = targetSize(frame);
    const double cx = frame.width / 2.0 + 0.3 * frame.width * std::sin(k / 15.0);
    const double cy = frame.height / 2.0 - 0.25 * frame.height * std::sin(k / 11.0);
    return cv::Point(static_cast<int>(std::lround(cx - t.width / 2.0)),
                     static_cast<int>(std::lround(cy - t.height / 2.0)));
}

cv::Point2f targetCentre(int k, cv::Size frame)
{
    const cv::Size t = targetSize(frame);
    const cv::Point tl = targetTopLeft(k, frame);
    return cv::Point2f(static_cast<float>(tl.x + t.width * 0.5),
                       static_cast<float>(tl.y + t.height * 0.5));
}

cv::Mat syntheticFrame(int k, cv::Size size, bool withTarget)
{
    cv::Mat image(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y)
        image.row(y).setTo(cv::Scalar(90 + 40 * y / size.height, 100, 110 - 30 * y / size.height));
    if (withTarget) {
        const cv::Rect r(targetTopLeft(k, size), targetSize(size));
        image(r).setTo(cv::Scalar(40, 40, 210));
        cv::rectangle(image, cv::Rect(r.x, r.y, r.width / 2, r.height / 2),
                      cv::Scalar(255, 255, 255), cv::FILLED);
        cv::rectangle(image,
                      cv::Rect(r.x + r.width / 2, r.y + r.height / 2, r.width / 2, r.height / 2),
                      cv::Scalar(0, 0, 0), cv::FILLED);
        cv::rectangle(image, cv::Rect(r.x, r.y + r.height * 2 / 3, r.width, r.height / 6),
                      cv::Scalar(30, 200, 30), cv::FILLED);
    }
    const int b = markBlock(size);
    for (int bit = 0; bit < kMarkBits; ++bit)
        image(cv::Rect(2 + bit * b, size.height - b - 2, b, b))
            .setTo(cv::Scalar::all(((k >> bit) & 1) ? 255 : 0));
    return image;
}

int frameMark(const cv::Mat& image)
{
    if (image.empty())
        return -1;
    const int b = markBlock(image.size());
    int k = 0;
    for (int bit = 0; bit < kMarkBits; ++bit) {
        const cv::Vec3b px = image.at<cv::Vec3b>(image.rows - b / 2 - 2, 2 + bit * b + b / 2);
        if ((px[0] + px[1] + px[2]) / 3 > 128)
            k |= 1 << bit;
    }
    return k;
}

bool writeMjpgMovie(const std::string& path, int frames, cv::Size size, double fps,
                    const std::function<cv::Mat(int)>& frameAt)
{
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, size, true);
    if (!writer.isOpened())
        return false;
    for (int k = 0; k < frames; ++k)
        writer.write(frameAt ? frameAt(k) : syntheticFrame(k, size));
    return true;
}

QString ffmpegPath()
{
    return QStandardPaths::findExecutable("ffmpeg");
}

bool convertToMpeg4(const QString& in, const QString& out, int gop)
{
    if (ffmpegPath().isEmpty())
        return false;
    QProcess process;
    process.start(ffmpegPath(), {"-y", "-loglevel", "error", "-i", in, "-c:v", "mpeg4", "-g",
                                 QString::number(gop), "-q:v", "2", out});
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
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

QString WorkDir::movie(const QString& name, int frames, cv::Size size, bool mpeg4, int gop) const
{
    const QString mjpg = path(mpeg4 ? name + ".mjpg.avi" : name);
    if (!writeMjpgMovie(mjpg.toStdString(), frames, size))
        return QString();
    if (!mpeg4)
        return mjpg;
    return convertToMpeg4(mjpg, path(name), gop) ? path(name) : QString();
}

QStringList WorkDir::outputMovies() const
{
    return QDir(path("output")).entryList({"cap1_*.avi"}, QDir::Files, QDir::Name);
}

FileSizeLimit::FileSizeLimit(unsigned long bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    old_ = limit.rlim_cur;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = old_;
    setrlimit(RLIMIT_FSIZE, &limit);
}

void cancelProgressAt(int done)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, done] {
        for (QWidget* widget : QApplication::allWidgets())
            if (auto* dialog = qobject_cast<QProgressDialog*>(widget);
                dialog && dialog->value() >= done) {
                dialog->cancel();
                timer->deleteLater();
            }
    });
    timer->start(1);
}

QPushButton* findButton(MainWindow& w, const QString& text)
{
    for (QPushButton* b : w.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

void answerNextFileDialog(const QString& path)
{
    auto answered = std::make_shared<QPointer<QFileDialog>>();
    // Kept apart from `answered`, which turns null once the dialog is gone:
    // the timer must then stop instead of answering the next dialog too.
    auto seen = std::make_shared<bool>(false);
    auto tries = std::make_shared<int>(0);
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (*seen) {
            // Refused while listing: the dialog's complaint is dismissed and
            // the name given again.
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                box->done(0);
                return;
            }
            if (!*answered || dialog != *answered || ++*tries > 100) {
                if (*answered && dialog == *answered)
                    dialog->reject();
                timer->stop();
                timer->deleteLater();
                return;
            }
        } else if (!dialog) {
            return;
        }
        *seen = true;
        *answered = dialog;
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->selectFile(path);
        if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit"))
            edit->setText(path);
        // Queued: a refusal shows its complaint in a nested loop, which this
        // timer could not reach from inside its own tick.
        QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
    });
    timer->start();
}

void dragOnView(QGraphicsView* view, QPoint from, QPoint to)
{
    QWidget* vp = view->viewport();
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, from);
    for (int i = 1; i <= 4; ++i)
        QTest::mouseMove(vp, from + (to - from) * i / 4);
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, to);
}

void dragOverFrame(const MainWindow& w, QGraphicsView* view, cv::Rect area, cv::Size frame)
{
    dragOnView(
        view, viewPointFor(w, area.x, area.y, frame.width, frame.height),
        viewPointFor(w, area.x + area.width, area.y + area.height, frame.width, frame.height));
}

void openMovieRange(MainWindow& w, Tab tab, QAction* action, const QString& movie, int first,
                    int last, int frames)
{
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.tabWidget_->setCurrentIndex(int(tab));
    answerNextFileDialog(movie);
    action->trigger();
    QTest::mouseClick(findButton(w, "Analysis"), Qt::LeftButton);
    for (int k : {first, last}) {
        w.animeSlider_->setValue((k * 1000 + frames - 1) / frames);
        QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
    }
}

QPoint viewPointFor(const MainWindow& w, int fx, int fy, int frameW, int frameH)
{
    const SelectionOffset off =
        selectionOffset(w.shell_.viewWidth_, w.shell_.viewHeight_, frameW, frameH);
    return QPoint(static_cast<int>(std::ceil(fx + off.x)), static_cast<int>(std::ceil(fy + off.y)));
}

int shownFrame(const MainWindow& w)
{
    if (!w.movie_.framePixmapItem_)
        return -1;
    const QImage image =
        w.movie_.framePixmapItem_->pixmap().toImage().convertToFormat(QImage::Format_RGB888);
    const cv::Mat rgb(image.height(), image.width(), CV_8UC3, const_cast<uchar*>(image.bits()),
                      static_cast<size_t>(image.bytesPerLine()));
    return frameMark(rgb);
}

double liftHeightAt(const std::vector<LiftMove>& moves, double t)
{
    double h = moves.empty() ? 0.0 : moves.front().fromCm;
    for (const LiftMove& m : moves) {
        if (t >= m.start + m.duration)
            h = m.toCm;
        else if (t > m.start)
            return m.fromCm +
                   (m.toCm - m.fromCm) * (1 - std::cos(M_PI * (t - m.start) / m.duration)) / 2;
    }
    return h;
}

QStringList csvLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
}
