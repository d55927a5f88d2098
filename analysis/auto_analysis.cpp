#include "analysis/auto_analysis.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "analysis/lift_results.h"
#include "analysis/live_tracking.h"
#include "video/diagnostics.h"

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

TraceRow analyseFrame(const cv::Mat& frame, const cv::Mat& templ, LiveTrace& trace, int k,
                      double timeS, int baseY, float platePixel, float barCenterInit,
                      const TraceRow* previous)
{
    const int tw = templ.cols;
    const int th = templ.rows;
    const SearchWindow window =
        searchWindow(trace.barX_, trace.barY_, tw, th, frame.cols, frame.rows);
    diag("roi: %.1f, %.1f, %.1f, %.1f\n", window.x, window.y, window.w, window.h);
    cv::Point best(0, 0);
    const bool matched = matchInWindow(frame, templ, window, best);
    TraceRow row;
    if (matched || trace.barX_.empty()) {
        const cv::Point2f point = centreFromMatch(best, tw, th, window);
        trace.barX_.push_back(point.x);
        trace.barY_.push_back(point.y);
        row = matched ? movieTraceRow(k, timeS, point.x, point.y, baseY, platePixel, barCenterInit,
                                      previous)
                      : movieTraceRow(k, timeS, NAN, NAN, 0, 0.0f, 0.0f, nullptr);
    } else {
        // No search was possible in this frame (the window of a template
        // wider or taller than a third of the frame lies partly outside
        // it): the target is taken to stand where it was last found.
        trace.barX_.push_back(trace.barX_.back());
        trace.barY_.push_back(trace.barY_.back());
        row = movieTraceRow(k, timeS, NAN, NAN, 0, 0.0f, 0.0f, nullptr);
    }
    trace.trailMax_ = static_cast<int>(trace.barX_.size());
    return row;
}
