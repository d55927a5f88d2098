#include "video/camera_source.h"

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

} // namespace

std::unique_ptr<CameraSource> makeOpenCvCamera()
{
    return std::make_unique<OpenCvCamera>();
}
