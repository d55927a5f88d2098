#pragma once

#include <memory>

#include <opencv2/core.hpp>

// Where the live loop takes its pictures from: the web camera, or a movie
// file played as one.
class CameraSource
{
public:
    virtual ~CameraSource() = default;
    virtual bool open(int device) = 0;
    virtual bool isOpened() const = 0;
    // Reads the next frame; an unopened or unplugged camera yields an empty matrix.
    virtual bool read(cv::Mat& frame) = 0;
    // True once after the source jumped back to its start (a looping movie):
    // the path drawn so far does not go on from there.
    virtual bool restarted() { return false; }
};

std::unique_ptr<CameraSource> makeOpenCvCamera();
