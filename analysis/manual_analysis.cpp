#include "analysis/manual_analysis.h"

#include <algorithm>
#include <cmath>

#include "analysis/lift_results.h"
#include "analysis/live_tracking.h"
#include "analysis/measurement.h"
#include "analysis/overlay.h"
#include "video/diagnostics.h"

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

TraceRow addClick(LiveTrace& trace, int x, int y, int frame, float fps, int shownFrame,
                  double shownTimeS, float platePixel, float barCenterInit)
{
    trace.barX_.push_back(static_cast<float>(x));
    trace.barY_.push_back(static_cast<float>(y));
    trace.barFrame_.push_back(frame);
    const size_t n = trace.barX_.size();
    bool newVelocity = false;
    if (n > 1) {
        float vy = 0.0f;
        // A second click on the same frame corrects the point but has no time
        // to give a velocity; the next click's velocity is taken from it.
        newVelocity = clickVelocity(trace.barFrame_[n - 2], trace.barY_[n - 2],
                                    trace.barFrame_[n - 1], trace.barY_[n - 1], fps, vy);
        if (newVelocity)
            trace.barVy_.push_back(vy);
        else
            diag("  no velocity: no time between the last two clicks\n");
    }
    // Heights count from the first click, the velocity is the one the box shows.
    TraceRow row =
        movieTraceRow(shownFrame, shownTimeS, trace.barX_.back(), trace.barY_.back(),
                      static_cast<int>(trace.barY_.front()), platePixel, barCenterInit, nullptr);
    if (newVelocity && plateCalibrated(platePixel))
        row.velocityCmS = upwardVelocityCm(trace.barVy_.back(), platePixel);
    return row;
}

void measureClicks(Measurement& measure, const LiveTrace& trace, float barCenterInit)
{
    const bool calibrated = measure.calibrated();
    if (!trace.barX_.empty()) {
        measure.baseY_ = static_cast<int>(trace.barY_.front());
        if (calibrated) {
            const float maxRise = maxRisePixels(trace.barY_, measure.baseY_);
            measure.height_ = currentHeightCm(barCenterInit, trace.barY_.back(), measure.baseY_,
                                              measure.platePixel_);
            measure.maxHeight_ = maxHeightCm(barCenterInit, maxRise, measure.platePixel_);
        }
    }
    if (!trace.barVy_.empty() && calibrated) {
        measure.vy_ = upwardVelocityCm(trace.barVy_.back(), measure.platePixel_);
        measure.maxVy_ =
            upwardVelocityCm(-maxUpwardVelocityPixels(trace.barVy_), measure.platePixel_);
    }
    if (!calibrated)
        diag("  no calibration: nothing measured\n");
    measure = shownMeasurement(measure);
}
