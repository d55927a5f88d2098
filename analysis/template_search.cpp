#include "analysis/template_search.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

SearchWindow searchWindow(bool hasPreviousPoint, double px, double py, int templateWidth,
                          int templateHeight, int frameWidth, int frameHeight)
{
    SearchWindow window;
    if (!hasPreviousPoint) {
        window.w = frameWidth;
        window.h = frameHeight;
        return window;
    }
    window.w = 3.0 * templateWidth;
    window.h = 3.0 * templateHeight;
    window.x = std::min(std::max(px - window.w / 2, 0.0), frameWidth - window.w);
    window.y = std::min(std::max(py - window.h / 2, 0.0), frameHeight - window.h);
    return window;
}

bool windowFits(const SearchWindow& window, int frameWidth, int frameHeight, int templateWidth,
                int templateHeight)
{
    const bool inside = window.x >= 0 && window.y >= 0 && window.w > 0 && window.w <= frameWidth &&
                        window.h > 0 && window.h <= frameHeight &&
                        window.x + window.w <= frameWidth && window.y + window.h <= frameHeight;
    return inside && templateWidth > 0 && templateHeight > 0 &&
           templateWidth <= static_cast<int>(window.w) &&
           templateHeight <= static_cast<int>(window.h);
}

cv::Rect windowRect(const SearchWindow& window)
{
    return cv::Rect(static_cast<int>(window.x), static_cast<int>(window.y),
                    static_cast<int>(window.w), static_cast<int>(window.h));
}

cv::Point2f centreFromMatch(cv::Point match, double rectW, double rectH, const SearchWindow& window)
{
    return cv::Point2f(static_cast<float>(rectW * 0.5 + match.x + window.x),
                       static_cast<float>(rectH * 0.5 + match.y + window.y));
}

bool matchInWindow(const cv::Mat& frame, const cv::Mat& templ, const SearchWindow& window,
                   cv::Point& location)
{
    if (frame.empty() || templ.empty() || frame.type() != templ.type() ||
        !windowFits(window, frame.cols, frame.rows, templ.cols, templ.rows))
        return false;
    cv::Mat scores;
    cv::matchTemplate(frame(windowRect(window)), templ, scores, cv::TM_CCOEFF_NORMED);
    cv::Point best(0, 0);
    cv::minMaxLoc(scores, nullptr, nullptr, nullptr, &best);
    location = best;
    return true;
}
