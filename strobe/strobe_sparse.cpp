#include "strobe/strobe_sparse.h"

#include "strobe/strobe_rules.h"

namespace {

template <typename Keep>
SparsePixels collect(const cv::Mat& cur, Keep keep)
{
    SparsePixels out;
    out.size = cur.size();
    out.rowStart.resize(static_cast<size_t>(cur.rows) + 1);
    for (int y = 0; y < cur.rows; ++y) {
        out.rowStart[y] = static_cast<int>(out.col.size());
        const uchar* c = cur.ptr<uchar>(y);
        for (int x = 0; x < cur.cols; ++x) {
            const int i = 3 * x;
            if (keep(y, i)) {
                out.col.push_back(x);
                out.bgr.insert(out.bgr.end(), c + i, c + i + 3);
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
    return collect(sample, [&](int y, int i) {
        const uchar* s = sample.ptr<uchar>(y) + i;
        return isSetPixel(s) && colourDistance(s, next.ptr<uchar>(y) + i) >= threshold;
    });
}

SparsePixels strobePixels(const cv::Mat& prev, const cv::Mat& cur, const cv::Mat& next, int threshold)
{
    CV_Assert(prev.type() == CV_8UC3 && cur.type() == CV_8UC3 && next.type() == CV_8UC3);
    CV_Assert(prev.size() == cur.size() && cur.size() == next.size());
    return collect(cur, [&](int y, int i) {
        const uchar* c = cur.ptr<uchar>(y) + i;
        return isSetPixel(c) && colourDistance(prev.ptr<uchar>(y) + i, c) >= threshold
               && colourDistance(c, next.ptr<uchar>(y) + i) >= threshold;
    });
}

cv::Mat denseImage(const SparsePixels& pixels)
{
    cv::Mat image(pixels.size, CV_8UC3, cv::Scalar::all(0));
    copySparse(image, pixels, 0, image.rows);
    return image;
}

void layOverSparse(cv::Mat& base, const SparsePixels& sample, int threshold, int y0, int y1)
{
    for (int y = y0; y < y1; ++y) {
        uchar* row = base.ptr<uchar>(y);
        const int end = sample.rowStart[y + 1];
        for (int k = sample.rowStart[y]; k < end; ++k) {
            uchar* b = row + 3 * sample.col[k];
            const uchar* s = &sample.bgr[3 * static_cast<size_t>(k)];
            if (colourDistance(b, s) >= threshold) {
                b[0] = s[0];
                b[1] = s[1];
                b[2] = s[2];
            }
        }
    }
}

void copySparse(cv::Mat& dst, const SparsePixels& image, int y0, int y1)
{
    for (int y = y0; y < y1; ++y) {
        uchar* row = dst.ptr<uchar>(y);
        const int end = image.rowStart[y + 1];
        for (int k = image.rowStart[y]; k < end; ++k) {
            uchar* d = row + 3 * image.col[k];
            const uchar* s = &image.bgr[3 * static_cast<size_t>(k)];
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
}
