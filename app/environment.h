#pragma once

#include <functional>
#include <memory>

#include "video/camera_source.h"

// The two things the window takes from the machine that a test machine does
// not have: the web camera and a real clock for the live loop. Everything
// else (files, ffmpeg, widgets) is used for real, also in tests.

struct Environment {
    std::function<std::unique_ptr<CameraSource>()> makeCamera = makeOpenCvCamera;
    // Monotonic time in milliseconds with sub-millisecond resolution.
    std::function<double()> nowMs;
    // The camera needs a moment after opening before it delivers frames.
    int cameraWarmUpMs = 3000;
    // The capture device the window opens.
    int cameraDevice = 0;
};

// The environment the next MainWindow is built with. Tests replace parts of it
// before constructing a window and call resetEnvironment() afterwards.
Environment& environment();
void resetEnvironment();
double monotonicNowMs();

// Frames of a megapixel camera are allocated and freed many times a second
// (snapshots handed to the recording's encoders, decoded frames). The C
// library maps blocks that large afresh each time, and faulting in the fresh
// pages costs more than the work done on them: kept in the heap once freed,
// the live tick of a 1080p recording takes about half the time.
void keepFrameBuffersInHeap();
