#pragma once

// An independent, deliberately plain strobe composition over frames already
// decoded into memory, used as the reference for the program's composition
// and in the benchmarks as the cost of doing it the straightforward way.

#include <map>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace oracle {

inline int dist(const cv::Vec3b& a, const cv::Vec3b& b)
{
    int d = 0;
    for (int c = 0; c < 3; ++c)
        d += a[c] > b[c] ? a[c] - b[c] : b[c] - a[c];
    return d;
}

inline bool black(const cv::Vec3b& a)
{
    return a[0] == 0 && a[1] == 0 && a[2] == 0;
}

// Frame `index`, or false past the decoded frames (as a capture at the end).
inline bool frameAt(const std::vector<cv::Mat>& frames, int index, cv::Mat& out)
{
    if (index < 0 || index >= static_cast<int>(frames.size()))
        return false;
    out = frames[index].clone();
    return true;
}

struct Result {
    std::vector<cv::Mat> frames;
    std::map<int, cv::Mat> images; // Type B strobe images by sample offset
};

inline Result typeA(const std::vector<cv::Mat>& movie, int S, int E, int step, int N, int thr)
{
    Result r;
    const int K = E > S ? (E - S) / step : 0;
    for (int e = 0; e < K - N; ++e) {
        cv::Mat base;
        if (!frameAt(movie, S + e * step, base))
            return r;
        for (int M = 1; M <= N; ++M) {
            cv::Mat s, x;
            if (!frameAt(movie, S + (e + M) * step, s) || !frameAt(movie, S + (e + M + 1) * step, x))
                return r;
            for (int y = 0; y < base.rows; ++y)
                for (int c = 0; c < base.cols; ++c) {
                    cv::Vec3b& b = base.at<cv::Vec3b>(y, c);
                    const cv::Vec3b sp = s.at<cv::Vec3b>(y, c);
                    const cv::Vec3b xp = x.at<cv::Vec3b>(y, c);
                    if (dist(b, sp) >= thr && dist(sp, xp) >= thr && !black(sp))
                        b = sp;
                }
            if (e == 0)
                r.frames.push_back(base.clone());
        }
        if (e > 0)
            r.frames.push_back(base.clone());
    }
    return r;
}

// `unreadable` lists offsets whose image is treated as lost on disk.
inline Result typeB(const std::vector<cv::Mat>& movie, int S, int E, int step, int N, int thr,
                    const std::vector<int>& unreadable = {})
{
    Result r;
    const int R = E - S;
    const int K = R > 0 ? R / step : 0;
    std::vector<int> offsets;
    for (int V = 1; V < K; ++V) {
        cv::Mat p, c, x;
        if (!frameAt(movie, S + (V - 1) * step, p) || !frameAt(movie, S + V * step, c)
            || !frameAt(movie, S + (V + 1) * step, x))
            break;
        for (int y = 0; y < c.rows; ++y)
            for (int col = 0; col < c.cols; ++col) {
                cv::Vec3b& cp = c.at<cv::Vec3b>(y, col);
                if (dist(p.at<cv::Vec3b>(y, col), cp) < thr || dist(cp, x.at<cv::Vec3b>(y, col)) < thr)
                    cp = cv::Vec3b(0, 0, 0);
            }
        offsets.push_back(V * step);
        r.images[V * step] = c;
    }
    for (int X = 0; X < R; ++X) {
        cv::Mat out;
        if (!frameAt(movie, S + X, out))
            break;
        int j = 0;
        while (j < static_cast<int>(offsets.size()) && offsets[j] <= X)
            ++j;
        for (int i = (j > N ? j - N : 0); i < j; ++i) {
            bool lost = false;
            for (int u : unreadable)
                lost = lost || u == offsets[i];
            if (lost)
                continue;
            const cv::Mat& img = r.images[offsets[i]];
            for (int y = 0; y < out.rows; ++y)
                for (int col = 0; col < out.cols; ++col)
                    if (!black(img.at<cv::Vec3b>(y, col)))
                        out.at<cv::Vec3b>(y, col) = img.at<cv::Vec3b>(y, col);
        }
        r.frames.push_back(out);
    }
    return r;
}

} // namespace oracle

// Synthetic lift scenes written as MJPG AVI files, and their decoded frames.
namespace strobescene {

// A still textured background with three blocks moving over it: a red one to
// the right, a green one downwards and a pure black one to the left.
inline cv::Mat frame(int index, cv::Size size = cv::Size(64, 48))
{
    cv::Mat f(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            f.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(60 + (x * 5) % 120),
                                              static_cast<uchar>(90 + (y * 7) % 100),
                                              static_cast<uchar>(70 + ((x + y) * 3) % 110));
    const int w = size.width, h = size.height;
    cv::rectangle(f, cv::Rect((index * 3) % w, h / 6, w / 8, h / 6), cv::Scalar(30, 40, 230), cv::FILLED);
    cv::rectangle(f, cv::Rect(w / 2, (index * 2) % h, w / 10, h / 8), cv::Scalar(40, 220, 50), cv::FILLED);
    cv::rectangle(f, cv::Rect(w - 1 - (index * 2) % w, (2 * h) / 3, w / 8, h / 6), cv::Scalar(0, 0, 0),
                  cv::FILLED);
    return f;
}

// Writes `count` frames at `fps` to `path` (MJPG) and returns whether it worked.
inline bool write(const std::string& path, int count, double fps = 25.0,
                  cv::Size size = cv::Size(64, 48))
{
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, size, true);
    if (!writer.isOpened())
        return false;
    for (int i = 0; i < count; ++i)
        writer.write(frame(i, size));
    return true;
}

// Every frame of the file as OpenCV decodes it.
inline std::vector<cv::Mat> decodeAll(const std::string& path)
{
    std::vector<cv::Mat> frames;
    cv::VideoCapture capture(path);
    cv::Mat f;
    while (capture.read(f))
        frames.push_back(f.clone());
    return frames;
}

} // namespace strobescene
