#pragma once

#include <opencv2/core.hpp>

// Where the trackers look for the target and how they match it. The live
// trace and the automatic analysis search the same way: the whole frame for
// the first match, then three template sizes around the previous point.

// The part of a frame searched, in frame pixels, before truncation.
struct SearchWindow {
    double x = 0.0;
    double y = 0.0;
    double w = 0.0;
    double h = 0.0;
};

// Without a previous point the whole frame. Otherwise three template sizes
// centred on (px, py) and pushed back inside the frame, the lower bound first;
// a template wider or taller than a third of the frame gives a window that
// starts left of or above it.
SearchWindow searchWindow(bool hasPreviousPoint, double px, double py, int templateWidth,
                          int templateHeight, int frameWidth, int frameHeight);

// Whether the window lies inside the frame and (truncated to whole pixels)
// still holds the template. Every test fails for a NaN, so a path point that
// is not a number is never searched around.
bool windowFits(const SearchWindow& window, int frameWidth, int frameHeight, int templateWidth,
                int templateHeight);

// The pixels searched: each value truncated toward zero.
cv::Rect windowRect(const SearchWindow& window);

// The centre of a rectangle `rectW` x `rectH` whose top-left corner stands at
// the best match `match` (relative to the window, whose untruncated origin
// counts). The live trace centres the rectangle the user dragged, the
// automatic analysis the template itself.
cv::Point2f centreFromMatch(cv::Point match, double rectW, double rectH,
                            const SearchWindow& window);

// Searches `templ` in the window of `frame` by the normalised correlation
// coefficient and stores the location of the best score, relative to the
// window; there is no score threshold. Returns false, leaving `location`
// alone, when the window does not fit or the pixel types differ.
bool matchInWindow(const cv::Mat& frame, const cv::Mat& templ, const SearchWindow& window,
                   cv::Point& location);
