#pragma once

#include <deque>
#include <vector>

#include <opencv2/core.hpp>

#include "video/trace_row.h"

struct LiveTrace;

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

// One frame of the automatic analysis: searches the template around the last
// point of the path (the whole frame for the first), appends where the target
// is to the path, which keeps every point, and returns the frame's row. A
// frame where no search was possible keeps the last point, and a row that
// measured nothing. Heights count up from `baseY`; without a usable
// `platePixel` the cm fields stay empty.
TraceRow analyseFrame(const cv::Mat& frame, const cv::Mat& templ, LiveTrace& trace, int k,
                      double timeS, int baseY, float platePixel, float barCenterInit,
                      const TraceRow* previous);

// What an analysis run leaves for its end: the last frame (with the pixels
// its burned-in path covers, so the clean picture can be shown), the rows of
// the frames analysed, and why it stopped early, if it did.
struct AutoRun {
    cv::Mat lastFrame;
    CleanPatch lastPatch;
    std::vector<TraceRow> rows;
    // The frame that could not be decoded; -1 when every frame could.
    int undecodable = -1;
    bool cancelled = false;
};
