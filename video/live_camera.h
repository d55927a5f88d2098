#pragma once

#include <memory>

#include <opencv2/core.hpp>

#include "video/camera_source.h"

// The live camera and the time grid its loop paces itself on. The loop owns
// it; the recording and the FPS menu start the grid again through
// restartGrid(), since a new rate or a new file counts its frames from now.
struct LiveCamera {
    std::unique_ptr<CameraSource> cap;
    // 1 when the camera did not open at construction.
    int noCamera_ = 0;
    // The latest camera frame; the first one is read at construction.
    cv::Mat camera_frame;
    // The size of the first camera frame (0 without a camera); it sizes the tabs.
    int cameraWidth_ = 0;
    int cameraHeight_ = 0;
    // The live clock counts from the window's first reading of it.
    bool clockStarted_ = false;
    double clockOriginMs_ = 0.0;
    int timerInterval_ = 1;
    // Processed ticks since the grid's origin at startTime_ (ms).
    int frameCount_ = 0;
    float startTime_ = 0.0f;
    double prevTime_ = 0.0;

    void restartGrid() { frameCount_ = 0; }
    // Milliseconds since this camera's first reading of the clock, given the
    // clock's reading `nowMs`.
    double clockMs(double nowMs);
};
