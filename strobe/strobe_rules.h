#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

// The pixel rules and the frame arithmetic of the strobe movies. Frames are
// 8-bit BGR images of one size; the rules change their pixels in place.

// |dB| + |dG| + |dR| of two BGR pixels, 0 to 765.
inline int colourDistance(const uchar* p, const uchar* q)
{
    return std::abs(p[0] - q[0]) + std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]);
}

// A black pixel marks "nothing to lay over", so only set pixels are ever
// transferred; a truly black pixel of the movie therefore never moves.
inline bool isSetPixel(const uchar* p)
{
    return p[0] + p[1] + p[2] > 0;
}

// Type A, one sample: every pixel of `sample` that differs by at least
// `threshold` from the pixel of `base` (as `base` stands, with what earlier
// samples laid over it) and from the pixel of `next`, and is not black, is
// copied onto `base`. `sample` is blackened where it is not laid over, as the
// composition does in the sample's own buffer.
void layOverTypeA(cv::Mat& base, cv::Mat& sample, const cv::Mat& next, int threshold);

// Type B, one strobe image: the pixels of `cur` alike (distance below
// `threshold`) to `prev` or to `next` become black; the rest is kept.
void maskStrobeImage(const cv::Mat& prev, cv::Mat& cur, const cv::Mat& next, int threshold);

// Copies every set (non-black) pixel of `src` onto `dst`.
void copySetPixels(const cv::Mat& src, cv::Mat& dst);

// K: the number of sample steps in a range of `range` frames.
inline int strobeSampleSteps(int range, int step)
{
    return step > 0 && range > 0 ? range / step : 0;
}

// Frames Type A writes: the N build-up frames on base 0 and one per further
// base while K - N > 0; with N = 0 the plain bases 1 to K - 1.
inline int typeAFrameCount(int sampleSteps, int number)
{
    if (sampleSteps - number <= 0)
        return 0;
    return number > 0 ? number + (sampleSteps - number - 1) : sampleSteps - 1;
}

// Output frame rate of Type A: the range lasts as long as in the movie.
inline double typeAFrameRate(double movieFps, int step)
{
    return movieFps / step;
}

// The strobe images Type B lays over output frame `offset`: [*first, *end) as
// indices into `imageOffsets` (ascending sample offsets). `*end` counts the
// leading entries at most `offset`; at most the `number` newest of them are used.
inline void strobeImagesForFrame(const std::vector<int>& imageOffsets, int offset, int number,
                                 int* first, int* end)
{
    int j = 0;
    while (j < static_cast<int>(imageOffsets.size()) && imageOffsets[j] <= offset)
        ++j;
    *end = j;
    *first = j > number ? j - number : 0;
}

// "temp<sep>img_<offset>.png", relative to the working directory.
std::string strobeImageName(int offset);

// Writes the strobe image of sample offset `offset` as its PNG file; false
// when the file could not be written.
bool writeStrobeImage(int offset, const cv::Mat& image);

// Reads the strobe image of `offset` back; false unless it is a colour image
// of `size`.
bool readStrobeImage(int offset, cv::Size size, cv::Mat& image);
