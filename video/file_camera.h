#pragma once

#include <functional>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "video/camera_source.h"

// A movie file played as a camera would deliver it. Its time starts at the
// first read and runs on the live loop's clock: a read gives the frame of the
// current moment, skipping the frames the loop had no time for (so live
// velocities stay right at any rate up to the file's), and gives a frame
// again when the loop reads faster than the file's rate. At the end the file
// starts again when looping, or reads nothing, as an unplugged camera does.
class FileCamera : public CameraSource
{
public:
    FileCamera(std::string path, bool loop, std::function<double()> nowMs);
    bool open(int device) override;
    bool isOpened() const override { return capture_.isOpened(); }
    bool read(cv::Mat& frame) override;
    bool restarted() override;
    // Why open() failed, for the user.
    const std::string& error() const { return error_; }

private:
    std::string path_;
    bool loop_;
    std::function<double()> nowMs_;
    cv::VideoCapture capture_;
    double fps_ = 0.0;
    double startMs_ = 0.0;
    bool started_ = false;
    bool restarted_ = false;
    int next_ = 0; // index of the frame the capture decodes next
    cv::Mat last_;
    std::string error_;
};

// The frame of a file at `fps` shown `elapsedMs` after its first frame.
int fileFrameAt(double elapsedMs, double fps);
