#include "app/environment.h"

#include <chrono>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <opencv2/videoio.hpp>

namespace
{

class OpenCvCamera : public CameraSource
{
public:
    bool open(int device) override { return capture_.open(device); }
    bool isOpened() const override { return capture_.isOpened(); }
    bool read(cv::Mat& frame) override
    {
        if (!capture_.isOpened()) {
            frame.release();
            return false;
        }
        // A camera that disappears mid-run can throw from the backend; the
        // loop treats that like an empty frame.
        try {
            capture_ >> frame;
        } catch (const cv::Exception&) {
            frame.release();
        }
        return !frame.empty();
    }

private:
    cv::VideoCapture capture_;
};

Environment makeDefaultEnvironment()
{
    Environment env;
    env.makeCamera = makeOpenCvCamera;
    env.nowMs = monotonicNowMs;
    env.cameraWarmUpMs = 3000;
    return env;
}

} // namespace

std::unique_ptr<CameraSource> makeOpenCvCamera()
{
    return std::make_unique<OpenCvCamera>();
}

double monotonicNowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void keepFrameBuffersInHeap()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
}

Environment& environment()
{
    static Environment env = makeDefaultEnvironment();
    return env;
}

void resetEnvironment()
{
    environment() = makeDefaultEnvironment();
}
