#pragma once

// What the tests share: the fake camera and clock, working directories, movies made at run
// time, the real file dialog answered as a user would, the views' frame-to-viewport mapping.

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What nearly every test uses comes with this header.
#include <QtTest>
#include <QtWidgets>

#include <opencv2/imgproc.hpp>

#include "app/environment.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "app/prompts.h"
#include "video/frame_display.h"
#include "video/output_naming.h"

// A camera that plays `frame(i)` on read i (an empty matrix: no picture).
struct FakeCameraScript {
    bool opens = true;
    std::function<cv::Mat(int)> frame;
    int reads = 0;
};

struct FakeRig {
    std::shared_ptr<FakeCameraScript> camera = std::make_shared<FakeCameraScript>();
    std::shared_ptr<double> clock = std::make_shared<double>(1000.0); // the live loop's, in ms
};

// Installs a fake camera and clock for the next MainWindow, with no warm-up
// wait; resetEnvironment() puts the real ones back.
FakeRig installFakeRig(std::function<cv::Mat(int)> frame, bool cameraOpens = true);
// Moves the clock on and lets the event loop run, so that the camera timer ticks.
void advance(FakeRig& rig, double ms);
// Moves the clock on and waits for the tick that reads the camera, however slow
// the machine: a tick the loop catches up on later would show its frame late.
void nextTick(FakeRig& rig, double ms);

cv::Mat solidFrame(int width, int height, cv::Scalar bgr = cv::Scalar(40, 80, 120));
// Uniform noise: every placement of a template in it is distinct.
cv::Mat noiseFrame(int width, int height, int seed);

// The lift scene: a shaded background, a textured target on a known smooth
// path, and the frame index as a row of black and white blocks in the
// bottom-left corner that survives lossy compression.
cv::Size targetSize(cv::Size frame);
cv::Point targetTopLeft(int k, cv::Size frame);
cv::Point2f targetCentre(int k, cv::Size frame);
cv::Mat syntheticFrame(int k, cv::Size size, bool withTarget = true);
int frameMark(const cv::Mat& image); // -1 for an empty image

// A move of the bar from one height to another along a half cosine, and the
// height at time t of a lift made of such moves (the first move's start height
// before it, each move's end height after it).
struct LiftMove {
    double start, duration, fromCm, toCm;
};
double liftHeightAt(const std::vector<LiftMove>& moves, double t);

bool writeMjpgMovie(const std::string& path, int frames, cv::Size size, double fps = 25.0,
                    const std::function<cv::Mat(int)>& frameAt = {});
// MPEG-4 part 2 with keyframes `gop` frames apart, by ffmpeg.
bool convertToMpeg4(const QString& in, const QString& out, int gop);
QString ffmpegPath(); // empty without ffmpeg
std::vector<cv::Mat> readAllFrames(const QString& path);
// The lines of a text file with CRLF line ends (a CSV file the program wrote);
// empty when it cannot be read.
QStringList csvLines(const QString& path);

// A temporary working directory for one test case: the program's output/ and
// temp/ land there, and so do the movies the test feeds in.
class WorkDir
{
public:
    WorkDir() : oldCwd_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~WorkDir() { QDir::setCurrent(oldCwd_); }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    QString path(const QString& name) const { return dir_.filePath(name); }
    // The lift scene as Motion JPEG, or as MPEG-4; empty on failure.
    QString movie(const QString& name, int frames, cv::Size size, bool mpeg4 = false,
                  int gop = 250) const;
    QStringList outputMovies() const; // in output/, sorted by name

private:
    QTemporaryDir dir_;
    QString oldCwd_;
};

// While it lives, files may not grow past `bytes` (SIGXFSZ ignored): a write
// beyond fails as on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(unsigned long bytes);
    ~FileSizeLimit();

private:
    unsigned long old_;
};

QPushButton* findButton(MainWindow& w, const QString& text);
// Presses Cancel on the next long work's progress dialog once it counts `done`.
void cancelProgressAt(int done);
// Answers the next modal file dialog as a user typing the name would (an empty
// path cancels). A dialog still listing its directory may refuse the name: it
// is given again for about a second, then the dialog is cancelled, so that a
// test fails instead of hanging.
void answerNextFileDialog(const QString& path);
// Press, a few moves and a release on the view's viewport.
void dragOnView(QGraphicsView* view, QPoint from, QPoint to);
// The same over the rectangle `area` of a frame of `frame`'s size on the view.
void dragOverFrame(const MainWindow& w, QGraphicsView* view, cv::Rect area,
                   cv::Size frame = {640, 480});
// Shows the window, opens `movie` on movie tab `tab` by its Mode `action`, and
// chooses frames `first` to `last` of its `frames` with Analysis, the slider
// and Apply.
void openMovieRange(MainWindow& w, Tab tab, QAction* action, const QString& movie, int first,
                    int last, int frames);
// The viewport point over frame pixel (fx, fy) of a frame of frameW x frameH.
QPoint viewPointFor(const MainWindow& w, int fx, int fy, int frameW, int frameH);
// The frame index carried by the picture a movie scene shows; -1 without one.
int shownFrame(const MainWindow& w);

#define REQUIRE_FFMPEG()                                                                           \
    do {                                                                                           \
        if (ffmpegPath().isEmpty())                                                                \
            QSKIP("ffmpeg is not installed");                                                      \
    } while (false)
