#include "strobe/strobe_sparse.h"

#include <algorithm>
#include <cstring>

#include "strobe/strobe_rules.h"

namespace
{

// Collects the pixels of `cur` that `keep(y, byteOffset)` accepts. Where
// `cur` has the same bytes as `same` (or as `alsoSame`) for 8 pixels in a row
// those pixels are at distance 0 from it, so with a positive threshold none
// of them can be kept: a still background is skipped 8 pixels at a time.
template <typename Keep>
SparsePixels collect(const cv::Mat& cur, const cv::Mat& same, const cv::Mat* alsoSame,
                     bool skipEqual, Keep keep)
{
    SparsePixels out;
    out.size = cur.size();
    out.rowStart.resize(static_cast<size_t>(cur.rows) + 1);
    constexpr int kRun = 8;
    for (int y = 0; y < cur.rows; ++y) {
        out.rowStart[y] = static_cast<int>(out.col.size());
        const uchar* c = cur.ptr<uchar>(y);
        const uchar* a = same.ptr<uchar>(y);
        const uchar* b = alsoSame ? alsoSame->ptr<uchar>(y) : nullptr;
        int x = 0;
        while (x < cur.cols) {
            if (skipEqual && x + kRun <= cur.cols) {
                const int i = 3 * x;
                if (std::memcmp(c + i, a + i, 3 * kRun) == 0 ||
                    (b && std::memcmp(c + i, b + i, 3 * kRun) == 0)) {
                    x += kRun;
                    continue;
                }
            }
            const int end = std::min(cur.cols, x + kRun);
            for (; x < end; ++x) {
                const int i = 3 * x;
                if (keep(y, i)) {
                    out.col.push_back(x);
                    out.bgr.insert(out.bgr.end(), c + i, c + i + 3);
                }
            }
        }
    }
    out.rowStart[cur.rows] = static_cast<int>(out.col.size());
    return out;
}

} // namespace

SparsePixels movingPixels(const cv::Mat& sample, const cv::Mat& next, int threshold)
{
    CV_Assert(sample.type() == CV_8UC3 && next.type() == CV_8UC3 && sample.size() == next.size());
    return collect(sample, next, nullptr, threshold > 0, [&](int y, int i) {
        const uchar* s = sample.ptr<uchar>(y) + i;
        return isSetPixel(s) && colourDistance(s, next.ptr<uchar>(y) + i) >= threshold;
    });
}

SparsePixels strobePixels(const cv::Mat& prev, const cv::Mat& cur, const cv::Mat& next,
                          int threshold)
{
    CV_Assert(prev.type() == CV_8UC3 && cur.type() == CV_8UC3 && next.type() == CV_8UC3);
    CV_Assert(prev.size() == cur.size() && cur.size() == next.size());
    return collect(cur, prev, &next, threshold > 0, [&](int y, int i) {
        const uchar* c = cur.ptr<uchar>(y) + i;
        return isSetPixel(c) && colourDistance(prev.ptr<uchar>(y) + i, c) >= threshold &&
               colourDistance(c, next.ptr<uchar>(y) + i) >= threshold;
    });
}

Layer compactLayer(SparsePixels pixels)
{
    Layer layer;
    const size_t denseBytes = pixels.size.area() * size_t(3);
    if (pixels.bytes() > denseBytes) {
        layer.dense = cv::Mat(pixels.size, CV_8UC3, cv::Scalar::all(0));
        layOver(layer.dense, Layer{std::move(pixels), {}}, 0, 0, layer.dense.rows);
        return layer;
    }
    // The lists grew by doubling: keep no more than the pixels take, so that
    // bytes() is what the layer costs.
    pixels.col.shrink_to_fit();
    pixels.bgr.shrink_to_fit();
    layer.sparse = std::move(pixels);
    return layer;
}

cv::Mat layerImage(const Layer& layer)
{
    if (layer.isDense())
        return layer.dense;
    cv::Mat image(layer.size(), CV_8UC3, cv::Scalar::all(0));
    layOver(image, layer, 0, 0, image.rows);
    return image;
}

namespace
{

// No distance is below 0: with threshold 0 (Type B's strobe images, and the
// lowest threshold of Type A) the pixel is copied without measuring it.
inline void layPixel(uchar* b, const uchar* s, int threshold)
{
    if (threshold <= 0 || colourDistance(b, s) >= threshold) {
        b[0] = s[0];
        b[1] = s[1];
        b[2] = s[2];
    }
}

} // namespace

void layOver(cv::Mat& base, const Layer& layer, int threshold, int y0, int y1)
{
    for (int y = y0; y < y1; ++y) {
        uchar* row = base.ptr<uchar>(y);
        if (layer.isDense()) {
            const uchar* s = layer.dense.ptr<uchar>(y);
            for (int i = 0; i < 3 * base.cols; i += 3)
                if (isSetPixel(s + i))
                    layPixel(row + i, s + i, threshold);
            continue;
        }
        const SparsePixels& sparse = layer.sparse;
        const int end = sparse.rowStart[y + 1];
        for (int k = sparse.rowStart[y]; k < end; ++k)
            layPixel(row + 3 * sparse.col[k], &sparse.bgr[3 * static_cast<size_t>(k)], threshold);
    }
}
