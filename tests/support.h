#pragma once

// What the tests share: the fake camera and clock, a working directory of
// their own, movies made at run time, the real file dialog answered as a user
// would, and the views' frame-to-viewport mapping.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QDir>
#include <QPoint>
#include <QString>
#include <QTemporaryDir>

#include <opencv2/core.hpp>

#include "app/environment.h"

class MainWindow;
class QGraphicsView;
class QPushButton;

/* ---- The camera and the clock ---- */

// A camera that plays frames the test supplies: `frame(i)` on read i; an
// empty matrix means "no picture this time".
struct FakeCameraScript {
    bool opens = true;
    std::function<cv::Mat(int)> frame;
    int reads = 0;
};

struct FakeRig {
    std::shared_ptr<FakeCameraScript> camera = std::make_shared<FakeCameraScript>();
    // The live loop's clock in ms; tests move it by hand.
    std::shared_ptr<double> clock = std::make_shared<double>(1000.0);
};

// Installs a fake camera and clock for the next MainWindow, with no warm-up
// wait. resetEnvironment() puts the real ones back.
FakeRig installFakeRig(std::function<cv::Mat(int)> frame, bool cameraOpens = true);

// Moves the fake clock on by `ms` and lets the event loop run, so that the
// camera timer ticks as it would for a user.
void advance(FakeRig& rig, double ms);

// Closes the next modal message box (the missing camera) once it shows.
void closeNextModalBox();

/* ---- Frames and movies ---- */

cv::Mat solidFrame(int width, int height, cv::Scalar bgr = cv::Scalar(40, 80, 120));
// Uniform noise: every placement of a template in it is distinct.
cv::Mat noiseFrame(int width, int height, int seed);

// The lift scene: a still, shaded background with a textured target moving
// along a known smooth path, and the frame index written into the bottom-left
// corner as a row of black and white blocks that survives lossy compression.
cv::Size targetSize(cv::Size frame);
cv::Point targetTopLeft(int k, cv::Size frame);
cv::Point2f targetCentre(int k, cv::Size frame);
cv::Mat syntheticFrame(int k, cv::Size size, bool withTarget = true);
// The frame index written by syntheticFrame; -1 for an empty image.
int frameMark(const cv::Mat& image);

// Writes a Motion JPEG AVI of `frames` frames (the lift scene unless `frameAt`
// is given).
bool writeMjpgMovie(const std::string& path, int frames, cv::Size size, double fps = 25.0,
                    const std::function<cv::Mat(int)>& frameAt = {});
// Re-encodes an AVI as MPEG-4 part 2 with keyframes `gop` frames apart.
bool convertToMpeg4(const QString& in, const QString& out, int gop);
// The ffmpeg the tests may run; empty when there is none.
QString ffmpegPath();

// Every frame of a movie file, decoded in order (none when it cannot be opened).
std::vector<cv::Mat> readAllFrames(const QString& path);

// A temporary working directory for one test case: the program's output/
// and temp/ land there, and so do the movies the test feeds in.
class WorkDir
{
public:
    WorkDir();
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    QString path(const QString& name) const { return dir_.filePath(name); }
    // The lift scene as a Motion JPEG movie, or as an MPEG-4 copy made by
    // ffmpeg; empty on failure.
    QString movie(const QString& name, int frames, cv::Size size, bool mpeg4 = false,
                  int gop = 250) const;
    // The movies the program wrote into output/, sorted by name.
    QStringList outputMovies() const;

private:
    QTemporaryDir dir_;
    QString oldCwd_;
};

/* ---- Widgets ---- */

QPushButton* findButton(MainWindow& w, const QString& text);

// Answers the next modal file dialog as a user typing the name would:
// chooses `path`, or cancels when it is empty. While the dialog is still
// listing its directory it may refuse the name; the answer is then given again
// for about a second before the dialog is cancelled, so a test fails instead
// of hanging.
void answerNextFileDialog(const QString& path);

// A drag on the view's viewport as a user makes it: press, a few moves and a
// release, in viewport coordinates.
void dragOnView(QGraphicsView* view, QPoint from, QPoint to);

// The viewport point that lands on frame pixel (fx, fy) of a view showing a
// frame of frameW x frameH (the window's stored view size).
QPoint viewPointFor(const MainWindow& w, int fx, int fy, int frameW, int frameH);

// The frame index carried by the picture a movie scene shows; -1 without one.
int shownFrame(const MainWindow& w);

#define REQUIRE_FFMPEG()                                                                           \
    do {                                                                                           \
        if (ffmpegPath().isEmpty())                                                                \
            QSKIP("ffmpeg is not installed");                                                      \
    } while (false)
