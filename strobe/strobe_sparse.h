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
// on the base; that test is left to layOver.)
SparsePixels movingPixels(const cv::Mat& sample, const cv::Mat& next, int threshold);

// Type B: the set pixels of the strobe image of `cur`, that is those at least
// `threshold` away from both `prev` and `next`.
SparsePixels strobePixels(const cv::Mat& prev, const cv::Mat& cur, const cv::Mat& next,
                          int threshold);

// The pixels a sample lays over a frame, kept in the smaller of two forms:
// sparse, or dense as an image that is black where nothing is laid over. The
// pixels laid over are never black, so the dense form loses nothing; it takes
// 3 bytes a pixel where the sparse one takes 7, which is what a low threshold
// or a shaking camera make of a sample.
struct Layer {
    SparsePixels sparse; // the layer while dense is empty
    cv::Mat dense;

    bool isDense() const { return !dense.empty(); }
    cv::Size size() const { return isDense() ? dense.size() : sparse.size; }
    size_t bytes() const { return isDense() ? dense.total() * dense.elemSize() : sparse.bytes(); }
};

Layer compactLayer(SparsePixels pixels);

// The layer as an image: black, with its pixels in place (the strobe image of
// Type B).
cv::Mat layerImage(const Layer& layer);

// layOverTypeA for a sample given by its layer, over rows [y0, y1). With
// threshold 0 every pixel of the layer is taken, as copySetPixels takes the
// set pixels of a strobe image.
void layOver(cv::Mat& base, const Layer& layer, int threshold, int y0, int y1);
