#include "video/movie_reader.h"

#include <opencv2/imgproc.hpp>

bool readMovieFrame(cv::VideoCapture& capture, int index, cv::Mat& frame)
{
    if (!capture.isOpened() || index < 0)
        return false;
    cv::Mat decoded;
    try {
        const double position = capture.get(cv::CAP_PROP_POS_FRAMES);
        if (position < 0 || static_cast<int>(position) != index)
            capture.set(cv::CAP_PROP_POS_FRAMES, index);
        if (!capture.read(decoded) || decoded.empty())
            return false;
    } catch (const cv::Exception&) {
        return false;
    }
    if (decoded.type() == CV_8UC1)
        cv::cvtColor(decoded, decoded, cv::COLOR_GRAY2BGR);
    else if (decoded.type() == CV_8UC4)
        cv::cvtColor(decoded, decoded, cv::COLOR_BGRA2BGR);
    else if (decoded.type() != CV_8UC3)
        return false;
    frame = decoded;
    return true;
}
