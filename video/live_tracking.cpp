#include "video/live_tracking.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <opencv2/imgproc.hpp>

namespace {

double framePeriodMs(float fps)
{
    return (1.0 / fps) * 1000.0;
}

} // namespace

bool frameDue(double nowMs, float startTimeMs, int frameCount, float fps)
{
    return !(nowMs - startTimeMs < frameCount * framePeriodMs(fps));
}

float frameDelayMs(double nowMs, float startTimeMs, int frameCount, float fps)
{
    return static_cast<float>((nowMs - startTimeMs) - framePeriodMs(fps) * frameCount);
}

std::string timeLabelText(double nowMs, float startTimeMs, float delayMs, float fps)
{
    const double elapsed = (nowMs - startTimeMs) * 0.001;
    char text[64];
    if (delayMs > 1000.0f / fps)
        std::snprintf(text, sizeof text, "%.2f[s] delay:%.0f[ms]", elapsed,
                      static_cast<double>(delayMs));
    else
        std::snprintf(text, sizeof text, "%.2f[s]", elapsed);
    return text;
}

SearchWindow searchWindow(const std::deque<float>& barX, const std::deque<float>& barY,
                          int templCols, int templRows, int frameWidth, int frameHeight)
{
    const bool hasPath = !barX.empty() && !barY.empty();
    return searchWindow(hasPath, hasPath ? barX.back() : 0.0, hasPath ? barY.back() : 0.0,
                        templCols, templRows, frameWidth, frameHeight);
}

TrackPoint centreFromMatch(cv::Point match, float rectW, float rectH, const SearchWindow& window)
{
    return {static_cast<float>(match.x) + rectW / 2 + static_cast<float>(window.x),
            static_cast<float>(match.y) + rectH / 2 + static_cast<float>(window.y)};
}

bool trackTarget(const cv::Mat& frame, const cv::Mat& templ, const std::deque<float>& barX,
                 const std::deque<float>& barY, float rectW, float rectH, TrackPoint& centre)
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

float cmPerPixel(float platePixel)
{
    if (!(platePixel > 0.0f) || !std::isfinite(platePixel))
        return 0.0f;
    return 45.0f / platePixel;
}

bool measureHeight(const std::deque<float>& barY, int baseY, float platePixel, float barCenterInit,
                   float& height, float& maxHeight)
{
    if (barY.empty())
        return false;
    const float scale = cmPerPixel(platePixel);
    if (scale == 0.0f) {
        height = 0.0f;
        maxHeight = 0.0f;
        return true;
    }
    float rise = 0.0f;
    for (float y : barY)
        rise = std::max(rise, static_cast<float>(baseY) - y);
    height = barCenterInit - (barY.back() - static_cast<float>(baseY)) / platePixel * 45.0f;
    maxHeight = barCenterInit + rise / platePixel * 45.0f;
    return true;
}

bool measureVelocity(const std::deque<float>& barVy, float platePixel, float& vy, float& maxVy)
{
    if (barVy.empty())
        return false;
    const float scale = cmPerPixel(platePixel);
    if (scale == 0.0f) {
        vy = 0.0f;
        maxVy = 0.0f;
        return true;
    }
    float up = 0.0f;
    for (float v : barVy)
        up = std::max(up, -v);
    vy = -barVy.back() / platePixel * 45.0f;
    maxVy = up / platePixel * 45.0f;
    return true;
}
