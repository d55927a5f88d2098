#include "strobe/strobe_rules.h"

#include <cstdio>

#include <opencv2/imgcodecs.hpp>

#include "video/output_naming.h"

void layOverTypeA(cv::Mat& base, cv::Mat& sample, const cv::Mat& next, int threshold)
{
    CV_Assert(base.type() == CV_8UC3 && sample.type() == CV_8UC3 && next.type() == CV_8UC3);
    CV_Assert(base.size() == sample.size() && base.size() == next.size());
    for (int y = 0; y < base.rows; ++y) {
        uchar* b = base.ptr<uchar>(y);
        uchar* s = sample.ptr<uchar>(y);
        const uchar* x = next.ptr<uchar>(y);
        for (int i = 0; i < base.cols * 3; i += 3) {
            // Both distances are taken before anything at this position changes.
            const bool likeBase = colourDistance(b + i, s + i) < threshold;
            const bool likeNext = colourDistance(s + i, x + i) < threshold;
            if (likeBase || likeNext) {
                s[i] = s[i + 1] = s[i + 2] = 0;
                continue;
            }
            if (isSetPixel(s + i)) {
                b[i] = s[i];
                b[i + 1] = s[i + 1];
                b[i + 2] = s[i + 2];
            }
        }
    }
}

void maskStrobeImage(const cv::Mat& prev, cv::Mat& cur, const cv::Mat& next, int threshold)
{
    CV_Assert(prev.type() == CV_8UC3 && cur.type() == CV_8UC3 && next.type() == CV_8UC3);
    CV_Assert(prev.size() == cur.size() && cur.size() == next.size());
    for (int y = 0; y < cur.rows; ++y) {
        const uchar* p = prev.ptr<uchar>(y);
        uchar* c = cur.ptr<uchar>(y);
        const uchar* x = next.ptr<uchar>(y);
        for (int i = 0; i < cur.cols * 3; i += 3) {
            if (colourDistance(p + i, c + i) < threshold ||
                colourDistance(c + i, x + i) < threshold)
                c[i] = c[i + 1] = c[i + 2] = 0;
        }
    }
}

void copySetPixels(const cv::Mat& src, cv::Mat& dst)
{
    CV_Assert(src.type() == CV_8UC3 && dst.type() == CV_8UC3 && src.size() == dst.size());
    for (int y = 0; y < src.rows; ++y) {
        const uchar* s = src.ptr<uchar>(y);
        uchar* d = dst.ptr<uchar>(y);
        for (int i = 0; i < src.cols * 3; i += 3) {
            if (isSetPixel(s + i)) {
                d[i] = s[i];
                d[i + 1] = s[i + 1];
                d[i + 2] = s[i + 2];
            }
        }
    }
}

std::string strobeImageName(int offset)
{
    char name[64];
    std::snprintf(name, sizeof name, "temp%cimg_%d.png", pathSeparator(), offset);
    return name;
}

bool writeStrobeImage(int offset, const cv::Mat& image)
{
    try {
        return cv::imwrite(strobeImageName(offset), image);
    } catch (const cv::Exception&) {
        return false;
    }
}

bool readStrobeImage(int offset, cv::Size size, cv::Mat& image)
{
    try {
        image = cv::imread(strobeImageName(offset), cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        image.release();
    }
    return !image.empty() && image.size() == size && image.type() == CV_8UC3;
}
