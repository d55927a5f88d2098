#include <algorithm>

#include <QFont>
#include <QGraphicsTextItem>
#include <QPen>

#include <opencv2/core.hpp>

#include "analysis/lift_chart.h"
#include "analysis/live_tracking.h"
#include "app/environment.h"
#include "app/mainwindow.h"
#include "app/selection_state.h"
#include "video/diagnostics.h"
#include "video/frame_display.h"
#include "video/time_grid.h"

void MainWindow::updateCamera()
{
    if (currentTab() != Tab::Live)
        return;
    if (camera_.noCamera_ == 1)
        close();
    const double now = camera_.clockMs(environment().nowMs());
    double a_time = 0.0;
    if (!liveTickDue(now, a_time))
        return;

    // How late this tick is: the diagnostics and the time label both show it.
    const float delay = frameDelayMs(now, camera_.startTime_, camera_.frameCount_, settings_.FPS_);
    readCameraFrame(a_time, delay);
    showCameraFrame();
    const LiveTick tick =
        trackAndMeasure(camera_.camera_frame, live_, measure_, settings_.barCenterInitPos_,
                        settings_.FPS_, selectionState().dragging_ != 0, camera_.frameCount_, now);
    drawLiveScene(now, delay);
    if (!live_.templateMat.empty())
        chartWindow_->appendLiveRow(tick.row);
    recordLiveTick(tick.row);
    ++camera_.frameCount_;
}

bool MainWindow::liveTickDue(double now, double& a_time)
{
    if (camera_.frameCount_ == 0)
        camera_.startTime_ = static_cast<float>(now);
    else if (!frameDue(now, camera_.startTime_, camera_.frameCount_, settings_.FPS_))
        return false;
    a_time = now - camera_.prevTime_;
    camera_.prevTime_ = now;
    return true;
}

void MainWindow::readCameraFrame(double a_time, float delay)
{
    cv::Mat& frame = camera_.camera_frame;
    camera_.cap->read(frame);
    if (camera_.cap->restarted())
        live_.restartPath();
    if (settings_.viewFlip_ == 1 && !frame.empty())
        cv::flip(frame, frame, 1);
    diag("a_time: %.0f[ms], FPS: %.1f, delay %.0f, rec:%d, %d, %d\n", a_time, 1 / (0.001 * a_time),
         static_cast<double>(delay), rec_.recState_, frame.cols, frame.rows);
}

void MainWindow::showCameraFrame()
{
    const cv::Mat& frame = camera_.camera_frame;
    const bool haveFrame = frame.cols > 0 && frame.rows > 0;
    // Cleared also when the camera gave nothing: piling each tick's items on
    // the last picture would grow the scene without bound while a camera is
    // unplugged, and an empty view tells the user the picture is gone.
    movie_.clearScene(&liveScene_);
    if (haveFrame && camera_.cameraWidth_ == 0) {
        // No picture came during the start-up wait: the first one sizes the tabs.
        camera_.cameraWidth_ = frame.cols;
        camera_.cameraHeight_ = frame.rows;
        diag("camera_frame came after the start-up wait: %d, %d\n", frame.cols, frame.rows);
        sizeTabsToCamera();
        keepOnScreen();
    }
    if (haveFrame) {
        movie_.takeCameraFrame(frame);
        liveScene_.addPixmap(frameToPixmap(frame));
    }
}

void MainWindow::drawLiveScene(double now, float delay)
{
    drawLiveTrail();
    liveScene_.addRect(live_.liveRect_, QPen(Qt::red, 5), Qt::NoBrush);
    const int W = camera_.camera_frame.cols;
    const int H = camera_.camera_frame.rows;
    const QPen crossPen(Qt::black, 1);
    liveScene_.addLine(W / 2, 0, W / 2, H, crossPen);
    liveScene_.addLine(0, H / 2, W, H / 2, crossPen);

    QFont timeFont;
    timeFont.setPixelSize(30);
    const std::string timeText = timeLabelText(now, camera_.startTime_, delay, settings_.FPS_);
    QGraphicsTextItem* timeLabel =
        liveScene_.addText(QString::fromLatin1(timeText.c_str()), timeFont);
    timeLabel->setPos(5, 5);
    timeLabel->setDefaultTextColor(Qt::green);

    drawTextAreaBoxToScene(&liveScene_);
}

void MainWindow::drawLiveTrail()
{
    const QPen pen(Qt::magenta, 5);
    const std::deque<float>& xs = live_.barX_;
    const std::deque<float>& ys = live_.barY_;
    const size_t n = std::min(xs.size(), ys.size());
    for (size_t i = 0; i + 1 < n; ++i)
        liveScene_.addLine(xs[i], ys[i], xs[i + 1], ys[i + 1], pen);
}

void MainWindow::recordLiveTick(const TraceRow& row)
{
    if (rec_.recState_ == 1) {
        // The snapshot is taken before the label, so recordings never show it.
        recordTick(row);
    }
    // A full buffer ends the recording inside recordTick; then there is
    // nothing to label.
    if (rec_.recState_ == 1) {
        QFont recFont;
        recFont.setPixelSize(50);
        QGraphicsTextItem* rec = liveScene_.addText("Rec", recFont);
        rec->setPos(500, 5);
        rec->setDefaultTextColor(Qt::red);
    }
}
