#include "analysis/live_tracking.h"

#include <algorithm>

#include "analysis/measurement.h"
#include "analysis/overlay.h"

SearchWindow searchWindow(const std::deque<float>& barX, const std::deque<float>& barY,
                          int templCols, int templRows, int frameWidth, int frameHeight)
{
    const bool hasPath = !barX.empty() && !barY.empty();
    return searchWindow(hasPath, hasPath ? barX.back() : 0.0, hasPath ? barY.back() : 0.0,
                        templCols, templRows, frameWidth, frameHeight);
}

bool trackTarget(const cv::Mat& frame, const cv::Mat& templ, const std::deque<float>& barX,
                 const std::deque<float>& barY, float rectW, float rectH, cv::Point2f& centre)
{
    const SearchWindow win =
        searchWindow(barX, barY, templ.cols, templ.rows, frame.cols, frame.rows);
    cv::Point match;
    if (!matchInWindow(frame, templ, win, match))
        return false;
    centre = centreFromMatch(match, rectW, rectH, win);
    return true;
}

void appendCentre(std::deque<float>& barX, std::deque<float>& barY, float cx, float cy, int cap)
{
    const size_t limit = cap > 0 ? static_cast<size_t>(cap) : 0;
    if (barX.size() < limit && barY.size() < limit) {
        barX.push_back(cx);
        barY.push_back(cy);
    } else if (barX.size() >= limit && barY.size() >= limit) {
        // A cap of 0 leaves nothing to drop from an empty path.
        if (!barX.empty() && !barY.empty()) {
            barX.pop_front();
            barY.pop_front();
        }
        barX.push_back(cx);
        barY.push_back(cy);
    }
}

float verticalVelocity(float previousY, float y, float fps)
{
    return (y - previousY) / (1.0f / fps);
}

void appendVelocity(std::deque<float>& barVy, float v, int cap)
{
    if (!barVy.empty() && barVy.size() >= static_cast<size_t>(std::max(cap, 0)))
        barVy.pop_front();
    barVy.push_back(v);
}

std::deque<float> LiveTrace::startRamp()
{
    std::deque<float> ramp;
    for (int i = 0; i < kStartPoints; ++i)
        ramp.push_back(10.0f * i);
    return ramp;
}

void LiveTrace::restartPath()
{
    barX_.clear();
    barY_.clear();
}

void LiveTrace::clearHistories()
{
    barX_.clear();
    barY_.clear();
    barVy_.clear();
    barFrame_.clear();
}

namespace
{

// Window, match, path and velocity of one tick; false when the target was not found.
bool trackOnce(const cv::Mat& frame, LiveTrace& trace, float fps, cv::Point2f& c)
{
    const auto w = static_cast<float>(trace.liveRect_.width());
    const auto h = static_cast<float>(trace.liveRect_.height());
    if (!trackTarget(frame, trace.templateMat, trace.barX_, trace.barY_, w, h, c))
        return false;
    trace.liveRect_ = QRectF(c.x - w / 2, c.y - h / 2, w, h);
    appendCentre(trace.barX_, trace.barY_, c.x, c.y, trace.trailMax_);
    const size_t n = trace.barX_.size();
    if (n > 1)
        appendVelocity(trace.barVy_, verticalVelocity(trace.barY_[n - 2], trace.barY_[n - 1], fps),
                       trace.trailMax_);
    return true;
}

} // namespace

LiveTick trackAndMeasure(const cv::Mat& frame, LiveTrace& trace, Measurement& measure,
                         float barCenterInit, float fps, bool dragging, int tick, double nowMs)
{
    LiveTick out;
    const bool haveFrame = frame.cols > 0 && frame.rows > 0;
    out.tracked = haveFrame && !trace.templateMat.empty() && !dragging &&
                  trackOnce(frame, trace, fps, out.centre);
    if (trace.templateMat.rows > 0) {
        measureHeight(trace.barY_, measure.baseY_, measure.platePixel_, barCenterInit,
                      measure.height_, measure.maxHeight_);
        measureVelocity(trace.barVy_, measure.platePixel_, measure.vy_, measure.maxVy_);
    }
    measure = shownMeasurement(measure);

    TraceRow& row = out.row;
    row.frame = tick;
    row.timeS = nowMs / 1000.0;
    row.measured = out.tracked && !trace.barX_.empty() && !trace.barY_.empty();
    if (row.measured) {
        row.x = trace.barX_.back();
        row.y = trace.barY_.back();
        // What the box shows, once it is calibrated.
        if (measure.calibrated()) {
            row.heightCm = measure.height_;
            row.velocityCmS = measure.vy_;
        }
    }
    return out;
}
