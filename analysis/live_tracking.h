#pragma once

#include <deque>

#include <QRectF>

#include <opencv2/core.hpp>

#include "analysis/template_search.h"
#include "video/trace_row.h"

struct Measurement;

// The arithmetic of the live trace: where it looks for the target, how a
// match becomes a point of the path and how the path gives velocities.
// Heights and velocities in cm are the measurement module's.

// The target and the path shared by the live trace and the automatic and
// manual analyses: frame pixels, oldest first. The guided analysis writes it;
// the live loop through trackAndMeasure() and restartPath().
struct LiveTrace {
    // The rectangle on the live scene: the dragged selection, then the tracked target.
    QRectF liveRect_ = QRectF(0, 0, 0, 0);
    cv::Mat templateMat;
    // 50 points 0, 10, ..., 490 and still velocities before the first trace.
    std::deque<float> barX_ = startRamp();
    std::deque<float> barY_ = startRamp();
    std::deque<float> barVy_ = std::deque<float>(kStartPoints, 0.0f);
    // The frame of each manual click.
    std::deque<int> barFrame_ = std::deque<int>(kStartPoints, -1);
    // The points the live loop keeps; the automatic analysis keeps its whole path.
    int trailMax_ = kStartPoints;

    // A new target, or a source that started again: the path starts anew, so
    // that the jump gives no velocity.
    void restartPath();
    // A new manual analysis: no point, velocity or frame is left.
    void clearHistories();

    static constexpr int kStartPoints = 50;
    static std::deque<float> startRamp();
};

// What one processed live tick gives: whether and where the target was
// found, and the tick's row, which the box, the chart and the recording all
// take. The row has the values the box shows, once a plate gives the scale.
struct LiveTick {
    bool tracked = false;
    cv::Point2f centre;
    TraceRow row;
};

// Track and measure: unless a drag is under way or there is no template,
// finds the target in `frame`, moves the rectangle there and extends the path
// and its velocities (at `fps`); then, with a template, measures height and
// velocity into `measure` as the box shows them. `tick` and `nowMs` (the live
// clock) place the row.
LiveTick trackAndMeasure(const cv::Mat& frame, LiveTrace& trace, Measurement& measure,
                         float barCenterInit, float fps, bool dragging, int tick, double nowMs);

// The whole frame while the path is empty; otherwise three template sizes
// around the last centre, pushed inside the frame where it can be.
SearchWindow searchWindow(const std::deque<float>& barX, const std::deque<float>& barY,
                          int templCols, int templRows, int frameWidth, int frameHeight);

// The whole step: window, match and the centre of the dragged rectangle
// (rectW x rectH) placed there. False when the window does not fit or the
// frame and template cannot be matched (different pixel types).
bool trackTarget(const cv::Mat& frame, const cv::Mat& templ, const std::deque<float>& barX,
                 const std::deque<float>& barY, float rectW, float rectH, cv::Point2f& centre);

// Appends a centre, keeping at most `cap` entries: when both lists are full
// the oldest entry of each goes first. The two lists stay equally long.
void appendCentre(std::deque<float>& barX, std::deque<float>& barY, float cx, float cy, int cap);

// Pixels per second between two rows one frame period apart (y downwards).
float verticalVelocity(float previousY, float y, float fps);

// Appends a velocity, dropping the oldest entry when `cap` are held.
void appendVelocity(std::deque<float>& barVy, float v, int cap);
