#include "video/movie_writer.h"

#include <cmath>

#include "video/diagnostics.h"

int movieFourcc()
{
    return cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
}

bool openMovieWriter(MjpegAviWriter& writer, const std::string& path, double fps, cv::Size size)
{
    if (!std::isfinite(fps) || fps <= 0.0) {
        diag("  frame rate %.3f unusable, writing at 30 fps\n", fps);
        fps = 30.0;
    }
    writer.release();
    return writer.open(path, fps, size);
}

cv::Mat fitToFrameSize(const cv::Mat& image, cv::Size size)
{
    if (image.size() == size && image.type() == CV_8UC3)
        return image;
    cv::Mat fitted(size, CV_8UC3, cv::Scalar::all(0));
    if (image.empty())
        return fitted;
    cv::Mat source = image;
    if (source.type() != CV_8UC3) {
        // Writers take 8-bit BGR only; anything else is shown as black rather
        // than handed over in the wrong format.
        return fitted;
    }
    const int w = std::min(size.width, source.cols);
    const int h = std::min(size.height, source.rows);
    source(cv::Rect(0, 0, w, h)).copyTo(fitted(cv::Rect(0, 0, w, h)));
    return fitted;
}
