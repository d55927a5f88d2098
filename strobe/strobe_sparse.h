#pragma once

#include <vector>

#include <opencv2/core.hpp>

// A frame kept as the short list of its pixels that matter (the moving parts
// of a sample), row by row. The moving parts of a lift are a small part of
// the frame, so a strobe movie keeps many samples at the cost of a few frames.
struct SparsePixels {
    cv::Size size;
    std::vector<int> rowStart; // rows + 1 entries into col/bgr
    std::vector<int> col;
    std::vector<uchar> bgr; // 3 bytes per entry

    size_t count() const { return col.size(); }
    size_t bytes() const
    {
        return rowStart.size() * sizeof(int) + col.size() * sizeof(int) + bgr.size();
    }
};

// Type A: the pixels of `sample` that may be laid over any base: set, and at
// least `threshold` away from `next`. (Whether one is laid over also depends
// on the base; that test is left to layOverSparse.)
SparsePixels movingPixels(const cv::Mat& sample, const cv::Mat& next, int threshold);

// Type B: the set pixels of the strobe image of `cur`, that is those at least
// `threshold` away from both `prev` and `next`.
SparsePixels strobePixels(const cv::Mat& prev, const cv::Mat& cur, const cv::Mat& next,
                          int threshold);

// The dense strobe image: black, with the sparse pixels in place.
cv::Mat denseImage(const SparsePixels& pixels);

// layOverTypeA for a sample given by its moving pixels, over rows [y0, y1).
void layOverSparse(cv::Mat& base, const SparsePixels& sample, int threshold, int y0, int y1);

// copySetPixels for a strobe image given by its set pixels, over rows [y0, y1).
void copySparse(cv::Mat& dst, const SparsePixels& image, int y0, int y1);
