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
    SearchWindow win;
    if (barX.empty() || barY.empty()) {
        win.w = frameWidth;
        win.h = frameHeight;
        return win;
    }
    win.w = 3.0 * templCols;
    win.h = 3.0 * templRows;
    const double lx = barX.back();
    const double ly = barY.back();
    win.x = std::min(std::max(lx - win.w / 2, 0.0), frameWidth - win.w);
    win.y = std::min(std::max(ly - win.h / 2, 0.0), frameHeight - win.h);
    return win;
}

bool windowFits(const SearchWindow& window, int frameWidth, int frameHeight, int templCols,
                int templRows)
{
    // Each test is written so that a NaN (a path point that is not a number)
    // fails it. With x <= W - w the truncated window stays inside as well.
    const bool inside = window.x >= 0 && window.y >= 0 && window.w > 0 && window.w <= frameWidth &&
                        window.h > 0 && window.h <= frameHeight &&
                        window.x + window.w <= frameWidth && window.y + window.h <= frameHeight;
    return inside && templCols > 0 && templRows > 0 && templCols <= static_cast<int>(window.w) &&
           templRows <= static_cast<int>(window.h);
}

cv::Rect windowRect(const SearchWindow& window)
{
    return cv::Rect(static_cast<int>(window.x), static_cast<int>(window.y),
                    static_cast<int>(window.w), static_cast<int>(window.h));
}

cv::Point bestMatch(const cv::Mat& frame, const cv::Rect& window, const cv::Mat& templ)
{
    cv::Mat score;
    cv::matchTemplate(frame(window), templ, score, cv::TM_CCOEFF_NORMED);
    cv::Point best;
    cv::minMaxLoc(score, nullptr, nullptr, nullptr, &best);
    return best;
}

TrackPoint centreFromMatch(cv::Point match, float rectW, float rectH, const SearchWindow& window)
{
    return {static_cast<float>(match.x) + rectW / 2 + static_cast<float>(window.x),
            static_cast<float>(match.y) + rectH / 2 + static_cast<float>(window.y)};
}

bool trackTarget(const cv::Mat& frame, const cv::Mat& templ, const std::deque<float>& barX,
                 const std::deque<float>& barY, float rectW, float rectH, TrackPoint& centre)
{
    if (frame.empty() || templ.empty() || frame.type() != templ.type())
        return false;
    const SearchWindow win =
        searchWindow(barX, barY, templ.cols, templ.rows, frame.cols, frame.rows);
    if (!windowFits(win, frame.cols, frame.rows, templ.cols, templ.rows))
        return false;
    centre = centreFromMatch(bestMatch(frame, windowRect(win), templ), rectW, rectH, win);
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
