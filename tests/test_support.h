#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QString>

#include <opencv2/core.hpp>

#include "app/environment.h"

class MainWindow;
class QGraphicsView;
class QPoint;

// A camera that plays frames the test supplies. `frames` is called with the
// index of each read; an empty matrix means "no picture this time".
class FakeCamera : public CameraSource
{
public:
    struct Script {
        bool opens = true;
        std::function<cv::Mat(int)> frame;
        int reads = 0;
    };
    explicit FakeCamera(std::shared_ptr<Script> script) : script_(std::move(script)) {}
    bool open(int) override { return opened_ = script_->opens; }
    bool isOpened() const override { return opened_; }
    bool read(cv::Mat& out) override;

private:
    std::shared_ptr<Script> script_;
    bool opened_ = false;
};

// The clock the live loop reads; tests move it by hand.
struct FakeClock {
    double now = 1000.0;
};

// Installs a fake camera (giving `frame(i)` on read i) and a fake clock in the
// environment, with no warm-up wait. Returns the shared script and clock.
struct FakeRig {
    std::shared_ptr<FakeCamera::Script> camera = std::make_shared<FakeCamera::Script>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
};
FakeRig installFakeRig(std::function<cv::Mat(int)> frame, bool cameraOpens = true);

// A plain BGR frame of the given size and colour.
cv::Mat solidFrame(int width, int height, cv::Scalar bgr = cv::Scalar(40, 80, 120));

// Closes the next modal box (the missing camera message) once it shows.
void closeNextModalBox();

// Every frame of a movie file, decoded in order (none when it cannot be opened).
std::vector<cv::Mat> readAllFrames(const QString& path);

// A frame of uniform noise: every placement of a template in it is distinct.
cv::Mat noiseFrame(int width, int height, int seed);

// A drag on the view's viewport as a user makes it: press, a few moves and a
// release, all in viewport coordinates.
void dragOnView(QGraphicsView* view, QPoint from, QPoint to);
