#pragma once

// Movies made at run time for the movie tests and benchmarks: a still,
// slightly shaded background with a textured target moving along a known
// path, and the frame index written into the bottom-left corner as a row of
// black and white blocks, so a test can tell which frame it is looking at
// after lossy compression.

#include <cmath>
#include <functional>

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace fixtures
{

constexpr int kMarkBits = 12;

inline cv::Size targetSize(cv::Size frame)
{
    return cv::Size(std::max(16, frame.width / 20), std::max(12, frame.height / 20));
}

// Top-left corner of the target in frame k: a smooth loop around the centre,
// moving less than half a target size per frame.
inline cv::Point targetTopLeft(int k, cv::Size frame)
{
    const cv::Size t = targetSize(frame);
    const double cx = frame.width / 2.0 + 0.3 * frame.width * std::sin(k / 15.0);
    const double cy = frame.height / 2.0 - 0.25 * frame.height * std::sin(k / 11.0);
    return cv::Point(static_cast<int>(std::lround(cx - t.width / 2.0)),
                     static_cast<int>(std::lround(cy - t.height / 2.0)));
}

// Where the analysis should find the target's centre in frame k.
inline cv::Point2f targetCentre(int k, cv::Size frame)
{
    const cv::Size t = targetSize(frame);
    const cv::Point tl = targetTopLeft(k, frame);
    return cv::Point2f(static_cast<float>(tl.x + t.width * 0.5),
                       static_cast<float>(tl.y + t.height * 0.5));
}

inline int markBlock(cv::Size frame)
{
    return std::max(10, frame.width / 40);
}

inline void drawTarget(cv::Mat& image, cv::Rect r)
{
    image(r).setTo(cv::Scalar(40, 40, 210));
    cv::rectangle(image, cv::Rect(r.x, r.y, r.width / 2, r.height / 2), cv::Scalar(255, 255, 255),
                  cv::FILLED);
    cv::rectangle(image, cv::Rect(r.x + r.width / 2, r.y + r.height / 2, r.width / 2, r.height / 2),
                  cv::Scalar(0, 0, 0), cv::FILLED);
    cv::rectangle(image, cv::Rect(r.x, r.y + r.height * 2 / 3, r.width, r.height / 6),
                  cv::Scalar(30, 200, 30), cv::FILLED);
}

// Frame k of a movie of `size`; `withTarget` false gives the background alone.
inline cv::Mat syntheticFrame(int k, cv::Size size, bool withTarget = true)
{
    cv::Mat image(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y)
        image.row(y).setTo(cv::Scalar(90 + 40 * y / size.height, 100, 110 - 30 * y / size.height));
    if (withTarget)
        drawTarget(image, cv::Rect(targetTopLeft(k, size), targetSize(size)));
    const int b = markBlock(size);
    for (int bit = 0; bit < kMarkBits; ++bit) {
        const bool on = (k >> bit) & 1;
        image(cv::Rect(2 + bit * b, size.height - b - 2, b, b))
            .setTo(on ? cv::Scalar::all(255) : cv::Scalar::all(0));
    }
    return image;
}

// The frame index written by syntheticFrame, read back from a BGR or RGB image.
inline int frameMark(const cv::Mat& image)
{
    if (image.empty())
        return -1;
    const int b = markBlock(image.size());
    int k = 0;
    for (int bit = 0; bit < kMarkBits; ++bit) {
        const cv::Vec3b px = image.at<cv::Vec3b>(image.rows - b / 2 - 2, 2 + bit * b + b / 2);
        if ((px[0] + px[1] + px[2]) / 3 > 128)
            k |= 1 << bit;
    }
    return k;
}

inline bool writeMjpgMovie(const std::string& path, int frames, cv::Size size, double fps = 25.0,
                           const std::function<cv::Mat(int)>& frameAt = {})
{
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, size, true);
    if (!writer.isOpened())
        return false;
    for (int k = 0; k < frames; ++k)
        writer.write(frameAt ? frameAt(k) : syntheticFrame(k, size));
    writer.release();
    return true;
}

// Re-encodes an AVI as MPEG-4 part 2 with keyframes `gop` frames apart.
inline bool convertToMpeg4(const QString& ffmpeg, const QString& in, const QString& out, int gop)
{
    if (ffmpeg.isEmpty())
        return false;
    QProcess process;
    process.start(ffmpeg, QStringList{"-y", "-loglevel", "error", "-i", in, "-c:v", "mpeg4", "-g",
                                      QString::number(gop), "-q:v", "2", out});
    if (!process.waitForFinished(600000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

inline QString ffmpegPath()
{
    return QString::fromLocal8Bit(qgetenv("KESTROVA_FFMPEG"));
}

} // namespace fixtures
