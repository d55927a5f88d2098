#pragma once

#include <deque>

#include <opencv2/core.hpp>

// The arithmetic of the automatic bar path analysis, kept free of widgets so
// that the numbers can be pinned down on their own.

// Burns the path into a frame of the analysed movie: a cyan line, thickness 3,
// 8-connected, between consecutive points, the coordinates truncated.
void drawPathIntoFrame(cv::Mat& frame, const std::deque<float>& xs, const std::deque<float>& ys);

// The smallest rectangle of a frame of `frameSize` that drawPathIntoFrame can
// change for this path; empty when the path has no line.
cv::Rect pathArea(const std::deque<float>& xs, const std::deque<float>& ys, cv::Size frameSize);

// The pixels of a frame under its path, kept before the path is burned in so
// that the clean frame can be put together again.
struct CleanPatch {
    cv::Rect area;
    cv::Mat pixels;
};

CleanPatch savePathArea(const cv::Mat& frame, const std::deque<float>& xs,
                        const std::deque<float>& ys);

// `frame` with the patch put back: a new image when there is a patch,
// `frame` itself otherwise.
cv::Mat withPatch(const cv::Mat& frame, const CleanPatch& patch);

// Burns a growing path into successive frames: the same pixels as
// drawPathIntoFrame with every point so far, but each segment is rasterised
// once into a mask instead of once per frame, so a long range does not cost
// the square of its length. Only the area the path covers is touched.
class PathBurner
{
public:
    // Starts an empty path for frames of `frameSize`.
    void reset(cv::Size frameSize);
    // Appends a point (coordinates truncated as drawPathIntoFrame does); from
    // the second point on, adds the segment from the previous one.
    void addPoint(float x, float y);
    // Burns the path into a frame of the size given to reset() and returns the
    // pixels it covered before. A frame of another size is left alone and an
    // empty patch returned.
    CleanPatch burnInto(cv::Mat& frame) const;

private:
    cv::Mat mask_;
    cv::Size size_;
    int points_ = 0;
    cv::Point last_;
    int left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
};
