#pragma once

// A lift-like test movie: a still, textured gym background with a figure, a
// bar and two plates moving up and down over it; the moving parts cover about
// a tenth of the frame.

#include <algorithm>
#include <cmath>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace liftscene
{

inline cv::Mat background(cv::Size size)
{
    cv::Mat bg(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y) {
        cv::Vec3b* row = bg.ptr<cv::Vec3b>(y);
        for (int x = 0; x < size.width; ++x)
            row[x] = cv::Vec3b(static_cast<uchar>(70 + 40 * std::sin(x * 0.02) + (y % 37)),
                               static_cast<uchar>(90 + 30 * std::cos(y * 0.015) + (x % 23)),
                               static_cast<uchar>(100 + ((x / 40 + y / 40) % 2) * 40));
    }
    return bg;
}

inline cv::Mat frame(const cv::Mat& bg, int index)
{
    cv::Mat f = bg.clone();
    const double w = f.cols, h = f.rows;
    // Bar height over a 100-frame lift cycle.
    const double lift = 0.5 - 0.5 * std::cos(2 * CV_PI * index / 100.0);
    const int barY = static_cast<int>(h * (0.78 - 0.45 * lift));
    const int cx = static_cast<int>(w / 2 + w * 0.02 * std::sin(index * 0.1));
    // Figure: body from the floor to just under the bar.
    cv::rectangle(f,
                  cv::Rect(cx - static_cast<int>(w * 0.05), barY + static_cast<int>(h * 0.02),
                           static_cast<int>(w * 0.10), static_cast<int>(h * 0.95) - barY),
                  cv::Scalar(40, 60, 150), cv::FILLED);
    cv::circle(f, cv::Point(cx, barY - static_cast<int>(h * 0.05)), static_cast<int>(h * 0.04),
               cv::Scalar(120, 160, 210), cv::FILLED);
    // Bar and plates.
    cv::rectangle(
        f, cv::Rect(cx - static_cast<int>(w * 0.30), barY - 3, static_cast<int>(w * 0.60), 7),
        cv::Scalar(200, 200, 200), cv::FILLED);
    for (int side : {-1, 1})
        cv::circle(f, cv::Point(cx + side * static_cast<int>(w * 0.25), barY),
                   static_cast<int>(h * 0.10), cv::Scalar(30, 30, 200), cv::FILLED);
    return f;
}

// The right plate's outer rim at frame 0, with the background beside it: a
// small target, a twentieth of the frame's height, that the tracker can follow
// through the lift.
inline cv::Rect target(cv::Size size)
{
    const int side = std::max(16, size.height / 20);
    const int rimX =
        size.width / 2 + static_cast<int>(size.width * 0.25) + static_cast<int>(size.height * 0.10);
    const int barY = static_cast<int>(size.height * 0.78);
    return cv::Rect(rimX - side / 2, barY - side / 2, side, side);
}

inline bool write(const std::string& path, int count, cv::Size size, double fps = 30.0)
{
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, size, true);
    if (!writer.isOpened())
        return false;
    const cv::Mat bg = background(size);
    for (int i = 0; i < count; ++i)
        writer.write(frame(bg, i));
    return true;
}

} // namespace liftscene
