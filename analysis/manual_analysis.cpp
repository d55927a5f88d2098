#include "analysis/manual_analysis.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include <QGraphicsLineItem>
#include <QLabel>
#include <QPen>

#include "analysis/drag_selection.h"
#include "analysis/lift_results.h"
#include "analysis/measurement.h"
#include "app/diagnostics.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "app/selection_state.h"
#include "app/work_progress.h"
#include "video/movie_reader.h"
#include "video/movie_writer.h"

bool clickVelocity(int frame0, float y0, int frame1, float y1, float fps, float& vy)
{
    const float dt = static_cast<float>(frame1 - frame0) / fps;
    if (!std::isfinite(dt) || dt == 0.0f)
        return false;
    const float v = (y1 - y0) / dt;
    if (!std::isfinite(v))
        return false;
    vy = v;
    return true;
}

int manualRangeEnd(int endFrame, int frameCount)
{
    return std::min(endFrame, frameCount);
}

bool manualPhaseOver(int nextFrame, int endFrame, int frameCount)
{
    return nextFrame >= manualRangeEnd(endFrame, frameCount);
}

void MainWindow::positionSelected()
{
    auto* view = qobject_cast<MyGraphicsView*>(sender());
    if (view && (view == liveView_ || view == autoView_))
        return;
    diag("MainWindow::positionSelected\n");

    // Only the manual view shows a movie frame; any other sender has none.
    const bool onManualView = view && view == manualView_;
    const SelectionOffset offset_ = selectionOffset(
        viewWidth_, viewHeight_, onManualView ? movieWidth : 0, onManualView ? movieHeight : 0);
    const ViewPoint press = selectionState().pressPos_;
    const float sx = static_cast<float>(press.x);
    const float sy = static_cast<float>(press.y);
    const int x = static_cast<int>(sx - offset_.x);
    const int y = static_cast<int>(sy - offset_.y);
    diag("  position_: %d, %d\n", x, y);

    if (step_ != 3)
        return;
    barX_.push_back(static_cast<float>(x));
    barY_.push_back(static_cast<float>(y));
    barFrame_.push_back(manualFrame_);
    const size_t n = barX_.size();
    bool newVelocity = false;
    if (n > 1) {
        float vy = 0.0f;
        // A second click on the same frame corrects the point but has no time
        // to give a velocity; the next click's velocity is taken from it.
        newVelocity = clickVelocity(barFrame_[n - 2], barY_[n - 2], barFrame_[n - 1], barY_[n - 1],
                                    movieFPS, vy);
        if (newVelocity)
            barVy_.push_back(vy);
        else
            diag("  no velocity: no time between the last two clicks\n");
    }
    // The click's row: heights count from the first click, the velocity is
    // the one the box shows.
    TraceRow row =
        movieTraceRow(manualShownFrame_, manualShownTimeS_, barX_.back(), barY_.back(),
                      static_cast<int>(barY_.front()), platePixel_, barCenterInitPos_, nullptr);
    if (newVelocity && plateCalibrated(platePixel_))
        row.velocityCmS = upwardVelocityCm(barVy_.back(), platePixel_);
    manualRows_.push_back(row);
}

void MainWindow::applyManualStep(int step)
{
    if (step == 0 || step == 1) {
        applyRangeStep(step, "Please drag sampling area and press [Apply]:");
        return;
    }
    if (step == 2) {
        step_ = 3;
        promptLabel_->setText("Please press apply to progress:");
        manualFrame_ = analysis_start_frame;
        frameList_.clear();
        barX_.clear();
        barY_.clear();
        barVy_.clear();
        barFrame_.clear();
        manualRows_.clear();
        if (manualPhaseOver(manualFrame_, analysis_end_frame, movie_frame_num)) {
            diag("  no frame between %d and %d (movie of %d frames)\n", analysis_start_frame,
                 analysis_end_frame, movie_frame_num);
            step_ = 4;
            promptLabel_->setText(
                "No frame between start and end position: press [Analysis] to choose again.");
        }
        return;
    }
    if (step == 3) {
        barPathAnalysisManualNextFrame();
        return;
    }
    if (step == 4)
        writeManualMovie();
}

void MainWindow::barPathAnalysisManualNextFrame()
{
    if (!barPathAnalysisManualMode(manualFrame_)) {
        // The movie said it had this frame but gives none: the frames shown so
        // far are all there is, and they can still be written.
        step_ = 4;
        char text[160];
        std::snprintf(text, sizeof text,
                      "Frame %d cannot be read: press [Apply] to write the movie of the frames "
                      "shown.",
                      manualFrame_);
        promptLabel_->setText(text);
        return;
    }
    ++manualFrame_;
    if (manualPhaseOver(manualFrame_, analysis_end_frame, movie_frame_num))
        step_ = 4;
}

bool MainWindow::barPathAnalysisManualMode(int k)
{
    diag("barPathAnalysisManualMode(%d)\n", k);
    cv::Mat decoded;
    if (!readMovieFrame(movieCapture1, k, decoded)) {
        diag("  frame %d cannot be decoded\n", k);
        return false;
    }
    makeMovieFrameCurrent(decoded);
    const cv::Mat& frame = decoded;
    manualShownFrame_ = k;
    manualShownTimeS_ = frameTimeS(movieCapture1.get(cv::CAP_PROP_POS_MSEC), k, movieFPS,
                                   manualRows_.empty() ? nullptr : &manualRows_.back());

    // Clearing deletes the slider's picture and the sampling-area rectangle;
    // clearScene forgets them so nothing touches them later. The picture added
    // here is not taken as framePixmapItem_: the next slider move puts its own
    // picture over this step's drawing.
    clearScene(&manualScene_);
    manualScene_.addPixmap(frameToPixmap(frame));

    QPen pathPen(Qt::green);
    pathPen.setWidth(5);
    for (size_t i = 0; i + 1 < barX_.size(); ++i)
        manualScene_.addLine(barX_[i], barY_[i], barX_[i + 1], barY_[i + 1], pathPen);

    if (templateMat.rows > 0) {
        if (!barX_.empty()) {
            baseY_ = static_cast<int>(barY_.front());
            if (plateCalibrated(platePixel_)) {
                const float maxRise = maxRisePixels(barY_, baseY_);
                height_ = currentHeightCm(barCenterInitPos_, barY_.back(), baseY_, platePixel_);
                maxHeight_ = maxHeightCm(barCenterInitPos_, maxRise, platePixel_);
            }
        }
        if (!barVy_.empty() && plateCalibrated(platePixel_)) {
            vy_ = upwardVelocityCm(barVy_.back(), platePixel_);
            maxVy_ = upwardVelocityCm(-maxUpwardVelocityPixels(barVy_), platePixel_);
        }
        if (!plateCalibrated(platePixel_))
            diag("  no calibration: nothing measured\n");
        drawTextAreaBoxToScene(&manualScene_);
    }

    // The movie's own area, from the scene's origin: items reaching left of or
    // above the picture must not move it within the frame.
    frameList_.push_back(sceneSnapshot(&manualScene_, true, QRectF(0, 0, movieWidth, movieHeight)));
    diag("barPathAnalysisManualMode() END\n");
    return true;
}

void MainWindow::writeManualMovie()
{
    step_ = 5;
    const int firstWidth = frameList_.empty() ? 0 : frameList_.front().cols;
    const int firstHeight = frameList_.empty() ? 0 : frameList_.front().rows;
    diag("movieWidth=%d, movieHeight=%d, movieFPS=%.0f\n", movieWidth, movieHeight, movieFPS);
    diag("Width=%d, Height=%d, n=%d\n", firstWidth, firstHeight,
         static_cast<int>(frameList_.size()));
    if (frameList_.empty()) {
        // Nothing was shown, so there is nothing to write; an empty file
        // would look like a movie that failed.
        promptLabel_->setText("No frame was shown: no movie written.");
        return;
    }

    const std::string fname = makeOutputFileName("avi");
    const cv::Size size(movieWidth, movieHeight);
    openMovieWriter(videoWriter_, fname, movieFPS, size);
    diag("cvCreateVideoWriter\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));

    const bool opened = videoWriter_.isOpened();
    WorkProgress progress(this, "Writing frame", static_cast<int>(frameList_.size()), false);
    for (size_t i = 0; i < frameList_.size(); ++i) {
        progress.update(static_cast<int>(i));
        const cv::Mat& image = frameList_[i];
        if (opened)
            videoWriter_.write(fitToFrameSize(image, size));
        diag("cvWriteFrame[%d]:%d, %d\r", static_cast<int>(i), image.cols, image.rows);
    }
    diag("\n");
    // A frame the disk would not take is a movie not written, not one saved.
    const bool complete = videoWriter_.release();
    if (!opened || !complete) {
        promptLabel_->setText(kMovieNotWritten);
        return;
    }
    keepLiftResults(
        fname, manualRows_,
        plateCalibrated(platePixel_)
            ? QString()
            : QString("The sampling area gives no scale: the analysis has pixels only."));
}
