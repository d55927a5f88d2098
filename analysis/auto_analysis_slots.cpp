#include <algorithm>
#include <cstdio>
#include <vector>

#include <QFile>
#include <QGraphicsLineItem>
#include <QLabel>
#include <QPen>

#include "analysis/auto_analysis.h"
#include "analysis/lift_results.h"
#include "analysis/measurement.h"
#include "analysis/plate_finder.h"
#include "app/mainwindow.h"
#include "app/prompts.h"
#include "app/work_progress.h"
#include "video/diagnostics.h"
#include "video/frame_display.h"
#include "video/movie_reader.h"
#include "video/movie_writer.h"
#include "video/output_naming.h"
#include "video/read_ahead.h"

namespace
{
constexpr double kAnalysedMovieFps = 30.0;
} // namespace

void MainWindow::applyAutoStep(AutoStep step)
{
    if (step == AutoStep::SetStartFrame || step == AutoStep::SetEndFrame) {
        applyRangeStep(asRangeStep(step), kPromptAutoDragTarget);
    } else if (step == AutoStep::DragTarget) {
        promptLabel_->setText(kPromptAutoConfirm);
        flow_.goTo(AutoStep::ConfirmStart);
    } else if (step == AutoStep::ConfirmStart) {
        // Without a movie or a usable target the press is refused and the step
        // stays, so a drag and another Apply start the analysis.
        if (!autoAnalysisReady())
            return;
        flow_.goTo(AutoStep::Analysed);
        barPathAnalysisMode();
    }
}

void MainWindow::findAutoPlate(const cv::Rect& target)
{
    PlateFit fit;
    const cv::Point2f centre(target.x + target.width / 2.0f, target.y + target.height / 2.0f);
    measure_.autoPlatePixel_ =
        findPlate(movie_.currentFrameMat, centre, cv::Size2f(target.size()), fit) ? fit.heightPx
                                                                                  : 0.0f;
    diag("  plate around the target: %.1f px\n", static_cast<double>(measure_.autoPlatePixel_));
}

bool MainWindow::autoAnalysisReady()
{
    const cv::Mat& templ = live_.templateMat;
    if (!movie_.movieCapture1.isOpened()) {
        diag("  no movie open\n");
        promptLabel_->setText(kPromptNoMovie);
        return false;
    }
    if (templ.empty()) {
        diag("  no target\n");
        promptLabel_->setText(kPromptNoTarget);
        return false;
    }
    if (templ.type() != CV_8UC3 || templ.cols > movie_.movieWidth ||
        templ.rows > movie_.movieHeight) {
        diag("  target %dx%d does not fit the movie\n", templ.cols, templ.rows);
        promptLabel_->setText(kPromptTargetTooLarge);
        return false;
    }
    return true;
}

void MainWindow::barPathAnalysisMode()
{
    diag("barPathAnalysisMode()\n");
    if (!autoAnalysisReady())
        return;

    const std::string fname = makeOutputFileName("avi");
    const cv::Size frameSize(movie_.movieWidth, movie_.movieHeight);
    if (!openMovieWriter(movie_.videoWriter_, fname, kAnalysedMovieFps, frameSize))
        diag("  video writer not opened: %s\n", fname.c_str());
    live_.restartPath();
    AutoRun run = runAutoAnalysis(frameSize);
    finishAutoAnalysis(run, fname);
    diag("barPathAnalysisMode() END\n");
}

AutoRun MainWindow::runAutoAnalysis(cv::Size frameSize)
{
    AutoRun run;
    // The scene shows only the last analysed frame, without the burned-in
    // path. Rather than a picture made for every frame, each frame keeps a
    // copy of the pixels its path covers, and the clean picture of the last
    // one is put together once at the end.
    PathBurner burner;
    // The frames are decoded ahead while the ones before are searched, drawn
    // and handed to the writer.
    const int first = flow_.analysis_start_frame;
    const int count = std::max(0, flow_.analysis_end_frame - first);
    // Each frame's timestamp in the file, written by the reading thread before
    // it hands the frame over: phone videos often have no fixed frame rate.
    std::vector<double> decoderMs(static_cast<size_t>(count), -1.0);
    cv::VideoCapture& capture = movie_.movieCapture1;
    ReadAhead frames(
        [&capture, first, &decoderMs](int i, cv::Mat& f) {
            if (!readMovieFrame(capture, first + i, f))
                return false;
            decoderMs[static_cast<size_t>(i)] = capture.get(cv::CAP_PROP_POS_MSEC);
            return true;
        },
        count);
    run.rows.reserve(static_cast<size_t>(count));
    WorkProgress progress(this, "Analysing frame", flow_.analysis_end_frame - first, true);
    for (int k = first; k < flow_.analysis_end_frame; ++k) {
        diag("  k = %d\n", k);
        if (!progress.update(k - first)) {
            run.cancelled = true;
            break;
        }
        cv::Mat decoded;
        if (!frames.next(decoded)) {
            run.undecodable = k;
            break;
        }
        movie_.makeMovieFrameCurrent(decoded);
        cv::Mat frame = decoded;
        if (live_.barX_.empty())
            burner.reset(frame.size());
        const TraceRow* previous = run.rows.empty() ? nullptr : &run.rows.back();
        const double timeS =
            frameTimeS(decoderMs[static_cast<size_t>(k - first)], k, movie_.movieFPS, previous);
        run.rows.push_back(analyseFrame(frame, live_.templateMat, live_, k, timeS, measure_.baseY_,
                                        measure_.autoPlatePixel_, settings_.barCenterInitPos_,
                                        previous));
        burner.addPoint(live_.barX_.back(), live_.barY_.back());

        run.lastFrame = frame;
        run.lastPatch = burner.burnInto(frame);
        if (run.lastPatch.area.empty() && live_.barX_.size() >= 2) {
            // A frame of another size than the first: drawn line by line.
            run.lastPatch = savePathArea(frame, live_.barX_, live_.barY_);
            drawPathIntoFrame(frame, live_.barX_, live_.barY_);
        }
        // Each frame is decoded into a buffer of its own and not changed
        // after this, so the writer takes it without a copy.
        if (movie_.videoWriter_.isOpened())
            movie_.videoWriter_.writeShared(fitToFrameSize(frame, frameSize));
    }
    return run;
}

void MainWindow::finishAutoAnalysis(AutoRun& run, const std::string& fname)
{
    if (!run.lastFrame.empty()) {
        movie_.replaceFramePicture(&autoScene_,
                                   frameToPixmap(withPatch(run.lastFrame, run.lastPatch)));
        // One screen pixel wide whatever the view's scale.
        QPen pen(Qt::cyan);
        pen.setCosmetic(true);
        const std::deque<float>& xs = live_.barX_;
        const std::deque<float>& ys = live_.barY_;
        for (size_t i = 0; i + 1 < xs.size(); ++i)
            autoScene_.addLine(xs[i], ys[i], xs[i + 1], ys[i + 1], pen);
    }
    // A frame the disk would not take is a movie not written, not one saved;
    // that outranks a frame that could not be decoded, whose movie is kept.
    // Counted once the encoders have drained: frames handed over may still be
    // on their way to the file until then.
    const bool written = movie_.videoWriter_.isOpened() && movie_.videoWriter_.release();
    const int framesWritten = movie_.videoWriter_.framesWritten();
    bool kept = written;
    if (!written) {
        promptLabel_->setText(kMovieNotWritten);
    } else if (run.cancelled) {
        kept = framesWritten > 0;
        // What was analysed is kept as a complete movie; nothing is no movie.
        if (framesWritten == 0)
            QFile::remove(QString::fromLocal8Bit(fname.c_str()));
        promptLabel_->setText(framesWritten > 0 ? kPromptAutoCancelledKept
                                                : kPromptAutoCancelledEmpty);
    } else if (run.undecodable >= 0) {
        diag("  frame %d cannot be decoded: analysis stopped\n", run.undecodable);
        char message[160];
        std::snprintf(message, sizeof message, kPromptFrameUndecodable, run.undecodable);
        promptLabel_->setText(message);
    }
    if (!kept)
        return;
    // Only frames that went into the movie have rows.
    run.rows.resize(std::min(run.rows.size(), static_cast<size_t>(std::max(framesWritten, 0))));
    keepLiftResults(fname, run.rows,
                    plateCalibrated(measure_.autoPlatePixel_) ? QString()
                                                              : QString(kWhyNoPlateFound));
}
