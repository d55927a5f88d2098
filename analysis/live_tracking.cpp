#include "analysis/live_tracking.h"

#include <algorithm>

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
