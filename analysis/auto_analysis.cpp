#include "analysis/auto_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <QFile>
#include <QGraphicsLineItem>
#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QPen>

#include <opencv2/imgproc.hpp>

#include "analysis/lift_results.h"
#include "analysis/live_tracking.h"
#include "analysis/measurement.h"
#include "analysis/plate_finder.h"
#include "app/diagnostics.h"
#include "app/mainwindow.h"
#include "app/work_progress.h"
#include "video/movie_reader.h"
#include "video/movie_writer.h"
#include "video/read_ahead.h"

namespace
{
constexpr double kAnalysedMovieFps = 30.0;
} // namespace

void drawPathIntoFrame(cv::Mat& frame, const std::deque<float>& xs, const std::deque<float>& ys)
{
    const size_t n = std::min(xs.size(), ys.size());
    for (size_t i = 0; i + 1 < n; ++i) {
        const cv::Point from(static_cast<int>(xs[i]), static_cast<int>(ys[i]));
        const cv::Point to(static_cast<int>(xs[i + 1]), static_cast<int>(ys[i + 1]));
        cv::line(frame, from, to, cv::Scalar(255, 255, 0), 3, cv::LINE_8, 0);
    }
}

cv::Rect pathArea(const std::deque<float>& xs, const std::deque<float>& ys, cv::Size frameSize)
{
    const size_t n = std::min(xs.size(), ys.size());
    if (n < 2)
        return cv::Rect();
    int left = static_cast<int>(xs[0]);
    int right = left;
    int top = static_cast<int>(ys[0]);
    int bottom = top;
    for (size_t i = 1; i < n; ++i) {
        const int x = static_cast<int>(xs[i]);
        const int y = static_cast<int>(ys[i]);
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    // A line of thickness 3 reaches one pixel beside its axis; two more
    // pixels leave room for the rounding of its caps.
    constexpr int margin = 3;
    const cv::Rect area(left - margin, top - margin, right - left + 2 * margin + 1,
                        bottom - top + 2 * margin + 1);
    return area & cv::Rect(cv::Point(0, 0), frameSize);
}

CleanPatch savePathArea(const cv::Mat& frame, const std::deque<float>& xs,
                        const std::deque<float>& ys)
{
    CleanPatch patch;
    patch.area = pathArea(xs, ys, frame.size());
    if (!patch.area.empty())
        frame(patch.area).copyTo(patch.pixels);
    return patch;
}

cv::Mat withPatch(const cv::Mat& frame, const CleanPatch& patch)
{
    if (patch.area.empty() || patch.pixels.empty())
        return frame;
    cv::Mat clean = frame.clone();
    patch.pixels.copyTo(clean(patch.area));
    return clean;
}

void PathBurner::reset(cv::Size frameSize)
{
    size_ = frameSize;
    mask_ = cv::Mat::zeros(frameSize, CV_8UC1);
    points_ = 0;
}

void PathBurner::addPoint(float x, float y)
{
    const cv::Point p(static_cast<int>(x), static_cast<int>(y));
    if (points_ == 0) {
        left_ = right_ = p.x;
        top_ = bottom_ = p.y;
    } else {
        cv::line(mask_, last_, p, cv::Scalar(255), 3, cv::LINE_8, 0);
        left_ = std::min(left_, p.x);
        right_ = std::max(right_, p.x);
        top_ = std::min(top_, p.y);
        bottom_ = std::max(bottom_, p.y);
    }
    last_ = p;
    ++points_;
}

CleanPatch PathBurner::burnInto(cv::Mat& frame) const
{
    CleanPatch patch;
    if (points_ < 2 || frame.size() != size_ || frame.type() != CV_8UC3)
        return patch;
    // The same margin as pathArea: the thick line's reach beside its axis.
    constexpr int margin = 3;
    patch.area = cv::Rect(left_ - margin, top_ - margin, right_ - left_ + 2 * margin + 1,
                          bottom_ - top_ + 2 * margin + 1) &
                 cv::Rect(cv::Point(0, 0), size_);
    if (patch.area.empty())
        return patch;
    frame(patch.area).copyTo(patch.pixels);
    frame(patch.area).setTo(cv::Scalar(255, 255, 0), mask_(patch.area));
    return patch;
}

void MainWindow::applyAutoStep(int step)
{
    if (step == 0 || step == 1) {
        applyRangeStep(step, "Please set target area by drag and press [Apply]:");
    } else if (step == 2) {
        promptLabel_->setText("Please press apply to strat:");
        step_ = 3;
    } else if (step == 3) {
        // Without a movie or a usable target the press is refused and the step
        // stays, so a drag and another Apply start the analysis.
        if (!autoAnalysisReady())
            return;
        step_ = 4;
        barPathAnalysisMode();
    }
}

void MainWindow::findAutoPlate(const cv::Rect& target)
{
    PlateFit fit;
    const cv::Point2f centre(target.x + target.width / 2.0f, target.y + target.height / 2.0f);
    autoPlatePixel_ =
        findPlate(currentFrameMat, centre, cv::Size2f(target.size()), fit) ? fit.heightPx : 0.0f;
    diag("  plate around the target: %.1f px\n", static_cast<double>(autoPlatePixel_));
}

bool MainWindow::autoAnalysisReady()
{
    if (!movieCapture1.isOpened()) {
        diag("  no movie open\n");
        promptLabel_->setText("No movie is open: please open a movie file first.");
        return false;
    }
    if (templateMat.empty()) {
        diag("  no target\n");
        promptLabel_->setText("No target area yet: please drag target area and press [Apply]:");
        return false;
    }
    if (templateMat.type() != CV_8UC3 || templateMat.cols > movieWidth ||
        templateMat.rows > movieHeight) {
        diag("  target %dx%d does not fit the movie\n", templateMat.cols, templateMat.rows);
        promptLabel_->setText(
            "Target area does not fit the movie: please drag target area and press [Apply]:");
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
    const cv::Size frameSize(movieWidth, movieHeight);
    if (!openMovieWriter(videoWriter_, fname, kAnalysedMovieFps, frameSize))
        diag("  video writer not opened: %s\n", fname.c_str());

    barX_.clear();
    barY_.clear();
    const int tw = templateMat.cols;
    const int th = templateMat.rows;
    // The scene shows only the last analysed frame, without the burned-in
    // path. Rather than a picture made for every frame, each frame keeps a
    // copy of the pixels its path covers, and the clean picture of the last
    // one is put together once at the end.
    cv::Mat lastFrame;
    CleanPatch lastPatch;
    PathBurner burner;
    int undecodable = -1;

    // The frames are decoded ahead while the ones before are searched, drawn
    // and handed to the writer.
    const int first = analysis_start_frame;
    const int count = std::max(0, analysis_end_frame - first);
    // Each frame's timestamp in the file, written by the reading thread before
    // it hands the frame over: phone videos often have no fixed frame rate.
    std::vector<double> decoderMs(static_cast<size_t>(count), -1.0);
    ReadAhead frames(
        [this, first, &decoderMs](int i, cv::Mat& f) {
            if (!readMovieFrame(movieCapture1, first + i, f))
                return false;
            decoderMs[static_cast<size_t>(i)] = movieCapture1.get(cv::CAP_PROP_POS_MSEC);
            return true;
        },
        count);
    std::vector<TraceRow> rows;
    rows.reserve(static_cast<size_t>(count));
    WorkProgress progress(this, "Analysing frame", analysis_end_frame - first, true);
    bool cancelled = false;
    for (int k = analysis_start_frame; k < analysis_end_frame; ++k) {
        diag("  k = %d\n", k);
        if (!progress.update(k - first)) {
            cancelled = true;
            break;
        }
        cv::Mat decoded;
        if (!frames.next(decoded)) {
            undecodable = k;
            break;
        }
        makeMovieFrameCurrent(decoded);
        cv::Mat frame = decoded;
        if (barX_.empty())
            burner.reset(frame.size());

        const SearchWindow window = searchWindow(barX_, barY_, tw, th, frame.cols, frame.rows);
        diag("roi: %.1f, %.1f, %.1f, %.1f\n", window.x, window.y, window.w, window.h);
        cv::Point best(0, 0);
        const bool matched = matchInWindow(frame, templateMat, window, best);
        const TraceRow* previous = rows.empty() ? nullptr : &rows.back();
        const double timeS =
            frameTimeS(decoderMs[static_cast<size_t>(k - first)], k, movieFPS, previous);
        if (matched || barX_.empty()) {
            const cv::Point2f point = centreFromMatch(best, tw, th, window);
            barX_.push_back(point.x);
            barY_.push_back(point.y);
            rows.push_back(matched ? movieTraceRow(k, timeS, point.x, point.y, baseY_,
                                                   autoPlatePixel_, barCenterInitPos_, previous)
                                   : movieTraceRow(k, timeS, NAN, NAN, 0, 0.0f, 0.0f, nullptr));
        } else {
            // No search was possible in this frame (the window of a template
            // wider or taller than a third of the frame lies partly outside
            // it): the target is taken to stand where it was last found.
            barX_.push_back(barX_.back());
            barY_.push_back(barY_.back());
            rows.push_back(movieTraceRow(k, timeS, NAN, NAN, 0, 0.0f, 0.0f, nullptr));
        }
        trailMax_ = static_cast<int>(barX_.size());
        burner.addPoint(barX_.back(), barY_.back());

        lastFrame = frame;
        lastPatch = burner.burnInto(frame);
        if (lastPatch.area.empty() && barX_.size() >= 2) {
            // A frame of another size than the first: drawn line by line.
            lastPatch = savePathArea(frame, barX_, barY_);
            drawPathIntoFrame(frame, barX_, barY_);
        }
        // Each frame is decoded into a buffer of its own and not changed
        // after this, so the writer takes it without a copy.
        if (videoWriter_.isOpened())
            videoWriter_.writeShared(fitToFrameSize(frame, frameSize));
    }

    if (!lastFrame.empty()) {
        replaceFramePicture(&autoScene_, frameToPixmap(withPatch(lastFrame, lastPatch)));
        // One screen pixel wide whatever the view's scale.
        QPen pen(Qt::cyan);
        pen.setCosmetic(true);
        for (size_t i = 0; i + 1 < barX_.size(); ++i)
            autoScene_.addLine(barX_[i], barY_[i], barX_[i + 1], barY_[i + 1], pen);
    }
    // A frame the disk would not take is a movie not written, not one saved;
    // that outranks a frame that could not be decoded, whose movie is kept.
    // Counted once the encoders have drained: frames handed over may still be
    // on their way to the file until then.
    const bool written = videoWriter_.isOpened() && videoWriter_.release();
    const int framesWritten = videoWriter_.framesWritten();
    bool kept = written;
    if (!written) {
        promptLabel_->setText(kMovieNotWritten);
    } else if (cancelled) {
        kept = framesWritten > 0;
        // What was analysed is kept as a complete movie; nothing is no movie.
        if (framesWritten == 0)
            QFile::remove(QString::fromLocal8Bit(fname.c_str()));
        promptLabel_->setText(framesWritten > 0 ? "The analysis was cancelled: the movie holds "
                                                  "the frames analysed so far."
                                                : "The analysis was cancelled: no movie written.");
    } else if (undecodable >= 0) {
        diag("  frame %d cannot be decoded: analysis stopped\n", undecodable);
        char message[160];
        std::snprintf(message, sizeof message,
                      "Frame %d cannot be decoded: the analysis stopped there.", undecodable);
        promptLabel_->setText(message);
    }
    // Only frames that went into the movie have rows.
    rows.resize(std::min(rows.size(), static_cast<size_t>(std::max(framesWritten, 0))));
    if (kept)
        keepLiftResults(fname, rows,
                        plateCalibrated(autoPlatePixel_)
                            ? QString()
                            : QString("No plate was found around the target: the analysis has "
                                      "pixels only."));
    diag("barPathAnalysisMode() END\n");
}
