#include <chrono>
#include <cstdio>
#include <thread>

#include <QGraphicsLineItem>
#include <QLabel>
#include <QPen>

#include "analysis/drag_selection.h"
#include "analysis/lift_results.h"
#include "analysis/manual_analysis.h"
#include "analysis/measurement.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "app/prompts.h"
#include "app/selection_state.h"
#include "app/work_progress.h"
#include "video/diagnostics.h"
#include "video/frame_display.h"
#include "video/movie_reader.h"
#include "video/movie_writer.h"
#include "video/output_naming.h"

void MainWindow::positionSelected()
{
    auto* view = qobject_cast<MyGraphicsView*>(sender());
    if (view && (view == liveView_ || view == autoView_))
        return;
    diag("MainWindow::positionSelected\n");

    // Only the manual view shows a movie frame; any other sender has none.
    const bool onManualView = view && view == manualView_;
    const SelectionOffset offset_ =
        selectionOffset(shell_.viewWidth_, shell_.viewHeight_, onManualView ? movie_.movieWidth : 0,
                        onManualView ? movie_.movieHeight : 0);
    const ViewPoint press = selectionState().pressPos_;
    const float sx = static_cast<float>(press.x);
    const float sy = static_cast<float>(press.y);
    const int x = static_cast<int>(sx - offset_.x);
    const int y = static_cast<int>(sy - offset_.y);
    diag("  position_: %d, %d\n", x, y);

    if (flow_.stepAs<ManualStep>() != ManualStep::ClickBar)
        return;
    manual_.manualRows_.push_back(addClick(live_, x, y, manual_.manualFrame_, movie_.movieFPS,
                                           manual_.manualShownFrame_, manual_.manualShownTimeS_,
                                           measure_.platePixel_, settings_.barCenterInitPos_));
}

void MainWindow::applyManualStep(ManualStep step)
{
    if (step == ManualStep::SetStartFrame || step == ManualStep::SetEndFrame) {
        applyRangeStep(asRangeStep(step), kPromptDragSamplingArea);
        return;
    }
    if (step == ManualStep::DragSamplingArea) {
        flow_.goTo(ManualStep::ClickBar);
        promptLabel_->setText(kPromptClickBar);
        manual_.manualFrame_ = flow_.analysis_start_frame;
        manual_.frameList_.clear();
        live_.clearHistories();
        manual_.manualRows_.clear();
        if (manualPhaseOver(manual_.manualFrame_, flow_.analysis_end_frame,
                            movie_.movie_frame_num)) {
            diag("  no frame between %d and %d (movie of %d frames)\n", flow_.analysis_start_frame,
                 flow_.analysis_end_frame, movie_.movie_frame_num);
            flow_.goTo(ManualStep::WriteMovie);
            promptLabel_->setText(kPromptNoFrameInRange);
        }
        return;
    }
    if (step == ManualStep::ClickBar) {
        barPathAnalysisManualNextFrame();
        return;
    }
    if (step == ManualStep::WriteMovie)
        writeManualMovie();
}

void MainWindow::barPathAnalysisManualNextFrame()
{
    if (!barPathAnalysisManualMode(manual_.manualFrame_)) {
        // The movie said it had this frame but gives none: the frames shown so
        // far are all there is, and they can still be written.
        flow_.goTo(ManualStep::WriteMovie);
        char text[160];
        std::snprintf(text, sizeof text, kPromptFrameUnreadable, manual_.manualFrame_);
        promptLabel_->setText(text);
        return;
    }
    ++manual_.manualFrame_;
    if (manualPhaseOver(manual_.manualFrame_, flow_.analysis_end_frame, movie_.movie_frame_num))
        flow_.goTo(ManualStep::WriteMovie);
}

bool MainWindow::barPathAnalysisManualMode(int k)
{
    diag("barPathAnalysisManualMode(%d)\n", k);
    cv::Mat decoded;
    if (!readMovieFrame(movie_.movieCapture1, k, decoded)) {
        diag("  frame %d cannot be decoded\n", k);
        return false;
    }
    movie_.makeMovieFrameCurrent(decoded);
    const cv::Mat& frame = decoded;
    manual_.manualShownFrame_ = k;
    manual_.manualShownTimeS_ =
        frameTimeS(movie_.movieCapture1.get(cv::CAP_PROP_POS_MSEC), k, movie_.movieFPS,
                   manual_.manualRows_.empty() ? nullptr : &manual_.manualRows_.back());

    // Clearing deletes the slider's picture and the sampling-area rectangle;
    // clearScene forgets them so nothing touches them later. The picture added
    // here is not taken as framePixmapItem_: the next slider move puts its own
    // picture over this step's drawing.
    movie_.clearScene(&manualScene_);
    manualScene_.addPixmap(frameToPixmap(frame));

    QPen pathPen(Qt::green);
    pathPen.setWidth(5);
    const std::deque<float>& xs = live_.barX_;
    const std::deque<float>& ys = live_.barY_;
    for (size_t i = 0; i + 1 < xs.size(); ++i)
        manualScene_.addLine(xs[i], ys[i], xs[i + 1], ys[i + 1], pathPen);

    if (live_.templateMat.rows > 0) {
        measureClicks(measure_, live_, settings_.barCenterInitPos_);
        drawTextAreaBoxToScene(&manualScene_);
    }

    // The movie's own area, from the scene's origin: items reaching left of or
    // above the picture must not move it within the frame.
    manual_.frameList_.push_back(
        sceneSnapshot(&manualScene_, true, QRectF(0, 0, movie_.movieWidth, movie_.movieHeight)));
    diag("barPathAnalysisManualMode() END\n");
    return true;
}

void MainWindow::writeManualMovie()
{
    flow_.goTo(ManualStep::Written);
    const std::vector<cv::Mat>& frames = manual_.frameList_;
    const int firstWidth = frames.empty() ? 0 : frames.front().cols;
    const int firstHeight = frames.empty() ? 0 : frames.front().rows;
    diag("movieWidth=%d, movieHeight=%d, movieFPS=%.0f\n", movie_.movieWidth, movie_.movieHeight,
         movie_.movieFPS);
    diag("Width=%d, Height=%d, n=%d\n", firstWidth, firstHeight, static_cast<int>(frames.size()));
    if (frames.empty()) {
        // Nothing was shown, so there is nothing to write; an empty file
        // would look like a movie that failed.
        promptLabel_->setText(kPromptNoFrameShown);
        return;
    }

    const std::string fname = makeOutputFileName("avi");
    const cv::Size size(movie_.movieWidth, movie_.movieHeight);
    MjpegAviWriter& writer = movie_.videoWriter_;
    openMovieWriter(writer, fname, movie_.movieFPS, size);
    diag("cvCreateVideoWriter\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));

    const bool opened = writer.isOpened();
    WorkProgress progress(this, "Writing frame", static_cast<int>(frames.size()), false);
    for (size_t i = 0; i < frames.size(); ++i) {
        progress.update(static_cast<int>(i));
        const cv::Mat& image = frames[i];
        if (opened)
            writer.write(fitToFrameSize(image, size));
        diag("cvWriteFrame[%d]:%d, %d\r", static_cast<int>(i), image.cols, image.rows);
    }
    diag("\n");
    // A frame the disk would not take is a movie not written, not one saved.
    const bool complete = writer.release();
    if (!opened || !complete) {
        promptLabel_->setText(kMovieNotWritten);
        return;
    }
    keepLiftResults(fname, manual_.manualRows_,
                    measure_.calibrated() ? QString() : QString(kWhySamplingAreaNoScale));
}
