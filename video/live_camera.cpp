#include <algorithm>

#include <QFont>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QPen>
#include <QTabWidget>

#include <opencv2/core.hpp>

#include "analysis/live_tracking.h"
#include "analysis/measurement.h"
#include "app/diagnostics.h"
#include "app/mainwindow.h"
#include "app/selection_state.h"
#include "video/time_grid.h"

void MainWindow::applyLiveStep(int step)
{
    if (step == 0) {
        promptLabel_->setText("Please drag target area and press Apply:");
        step_ = 1;
    } else if (step == 1) {
        promptLabel_->setText("Trace mode is activated:");
        step_ = 2;
    }
}

double MainWindow::liveClockMs()
{
    // The grid origin is kept in single precision. Counted from the first
    // reading of this window rather than from the machine's boot, the clock
    // stays small enough for that to hold it to well under a millisecond.
    const double now = environment().nowMs();
    if (!liveClockStarted_) {
        liveClockOrigin_ = now;
        liveClockStarted_ = true;
    }
    return now - liveClockOrigin_;
}

void MainWindow::updateCamera()
{
    if (tabWidget_->currentIndex() != 0)
        return;
    if (noCamera_ == 1)
        close();

    const double now = liveClockMs();
    if (frameCount_ == 0)
        startTime_ = static_cast<float>(now);
    else if (!frameDue(now, startTime_, frameCount_, FPS_))
        return;
    const double a_time = now - prevTime_;
    prevTime_ = now;

    cap->read(camera_frame);
    if (cap->restarted()) {
        // A movie played as the camera started again: as after a drag, the
        // path starts anew, so that the jump gives no velocity.
        barX_.clear();
        barY_.clear();
    }
    if (viewFlip_ == 1 && !camera_frame.empty())
        cv::flip(camera_frame, camera_frame, 1);
    const int W = camera_frame.cols;
    const int H = camera_frame.rows;
    const bool haveFrame = W > 0 && H > 0;

    const float delay = frameDelayMs(now, startTime_, frameCount_, FPS_);
    diag("a_time: %.0f[ms], FPS: %.1f, delay %.0f, rec:%d, %d, %d\n", a_time, 1 / (0.001 * a_time),
         static_cast<double>(delay), recState_, W, H);

    // Cleared also when the camera gave nothing: piling each tick's items on
    // the last picture would grow the scene without bound while a camera is
    // unplugged, and an empty view tells the user the picture is gone.
    clearScene(&liveScene_);
    if (haveFrame && cameraWidth_ == 0) {
        // No picture came during the start-up wait: the first one sizes the tabs.
        cameraWidth_ = W;
        cameraHeight_ = H;
        diag("camera_frame came after the start-up wait: %d, %d\n", W, H);
        sizeTabsToCamera();
        keepOnScreen();
    }
    if (haveFrame) {
        // currentFrameMat may still be a header over a movie frame; the camera
        // picture must not be written into a buffer it shares with anything.
        if (!currentFrameMat.u || currentFrameMat.u->refcount > 1)
            currentFrameMat.release();
        camera_frame.copyTo(currentFrameMat);
        liveScene_.addPixmap(frameToPixmap(camera_frame));
    }

    const bool tracked =
        haveFrame && !templateMat.empty() && selectionState().dragging_ == 0 && trackLiveTarget();
    drawLiveTrail();

    liveScene_.addRect(liveRect_, QPen(Qt::red, 5), Qt::NoBrush);
    const QPen crossPen(Qt::black, 1);
    liveScene_.addLine(W / 2, 0, W / 2, H, crossPen);
    liveScene_.addLine(0, H / 2, W, H / 2, crossPen);

    QFont timeFont;
    timeFont.setPixelSize(30);
    const std::string timeText = timeLabelText(now, startTime_, delay, FPS_);
    QGraphicsTextItem* timeLabel =
        liveScene_.addText(QString::fromLatin1(timeText.c_str()), timeFont);
    timeLabel->setPos(5, 5);
    timeLabel->setDefaultTextColor(Qt::green);

    if (templateMat.rows > 0) {
        measureHeight(barY_, baseY_, platePixel_, barCenterInitPos_, height_, maxHeight_);
        measureVelocity(barVy_, platePixel_, vy_, maxVy_);
    }
    drawTextAreaBoxToScene(&liveScene_);
    noteLiveRow(tracked, now);

    if (recState_ == 1) {
        // The snapshot is taken before the label, so recordings never show it.
        recordTick();
    }
    // A full buffer ends the recording inside recordTick; then there is
    // nothing to label.
    if (recState_ == 1) {
        QFont recFont;
        recFont.setPixelSize(50);
        QGraphicsTextItem* rec = liveScene_.addText("Rec", recFont);
        rec->setPos(500, 5);
        rec->setDefaultTextColor(Qt::red);
    }
    ++frameCount_;
}

bool MainWindow::trackLiveTarget()
{
    const auto w = static_cast<float>(liveRect_.width());
    const auto h = static_cast<float>(liveRect_.height());
    cv::Point2f c;
    if (!trackTarget(camera_frame, templateMat, barX_, barY_, w, h, c))
        return false;
    liveRect_ = QRectF(c.x - w / 2, c.y - h / 2, w, h);
    appendCentre(barX_, barY_, c.x, c.y, trailMax_);
    const size_t n = barX_.size();
    if (n > 1)
        appendVelocity(barVy_, verticalVelocity(barY_[n - 2], barY_[n - 1], FPS_), trailMax_);
    return true;
}

void MainWindow::drawLiveTrail()
{
    const QPen pen(Qt::magenta, 5);
    const size_t n = std::min(barX_.size(), barY_.size());
    for (size_t i = 0; i + 1 < n; ++i)
        liveScene_.addLine(barX_[i], barY_[i], barX_[i + 1], barY_[i + 1], pen);
}
