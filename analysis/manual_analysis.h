#pragma once

#include <deque>
#include <vector>

#include <opencv2/core.hpp>

#include "video/trace_row.h"

struct LiveTrace;
struct Measurement;

// A manual analysis under way: the frame shown next, the snapshot of each
// step, and a row per click. Only the manual analysis writes it.
struct ManualSession {
    int manualFrame_ = 0;
    // The snapshot of each step, written as the manual movie at the end.
    std::vector<cv::Mat> frameList_;
    // One row per click, and the frame the clicks fall on with its time.
    std::vector<TraceRow> manualRows_;
    int manualShownFrame_ = 0;
    double manualShownTimeS_ = 0.0;
};

// The arithmetic of the manual bar path analysis: the time between clicks and
// the frames it may show. Heights and velocities in cm are the measurement
// module's.

// Vertical velocity in pixels per second between two clicks recorded on
// frames `frame0` and `frame1` of a movie of `fps` frames per second. Two
// clicks on the same frame (or a movie without a frame rate) have no time
// between them: the function then returns false and leaves `vy` alone.
bool clickVelocity(int frame0, float y0, int frame1, float y1, float fps, float& vy);

// The exclusive end of the frames a manual analysis can show: the chosen end
// frame, but never past the last frame of the movie.
int manualRangeEnd(int endFrame, int frameCount);

// Whether the frame-by-frame phase is over once the next frame to show is
// `nextFrame`. A range that ends at or before its start is over at once, so
// the steps never ask for frames the movie does not have.
bool manualPhaseOver(int nextFrame, int endFrame, int frameCount);

// A click at (x, y) on the frame `frame` of a movie of `fps` frames per second:
// a point of the path, and its velocity from the click before when there was
// time between them. Returns the click's row: heights count from the first
// click, `platePixel` gives the scale.
TraceRow addClick(LiveTrace& trace, int x, int y, int frame, float fps, int shownFrame,
                  double shownTimeS, float platePixel, float barCenterInit);

// The box of a manual step: heights from the first click (which becomes the
// height reference), velocities from the clicks', as the box shows them.
void measureClicks(Measurement& measure, const LiveTrace& trace, float barCenterInit);
