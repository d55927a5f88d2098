#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QSlider>

#include "app/mainwindow.h"
#include "app/prompts.h"
#include "video/diagnostics.h"
#include "video/frame_display.h"
#include "video/frame_mapping.h"
#include "video/movie_reader.h"

namespace
{
QString askForMovie(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, "Import Motion Data File", QDir::currentPath(),
                                        "(*.avi);;All Files (*)");
}

// Whatever the capture held before is let go, whether or not the new file opens.
bool openMovieCapture(cv::VideoCapture& capture, const std::string& fname)
{
    capture.release();
    if (fname.empty())
        return false;
    try {
        if (!capture.open(fname))
            return false;
    } catch (const cv::Exception&) {
        capture.release();
        return false;
    }
    return capture.isOpened();
}
} // namespace

void MainWindow::getMovieFileName(std::string& fname_)
{
    diag("getMovieFileName\n");
    fname_.clear();
    const QString name = askForMovie(this);
    if (name.isEmpty())
        return;
    fname_ = name.toLocal8Bit().toStdString();
    diag("filename=%s\n", fname_.c_str());
}

void MainWindow::refuseMovie(bool fileWasChosen)
{
    diag("Movie file invalid.\n");
    movie_.strobeMovieFile_.clear();
    // A cancelled dialog needs no message; a file that was chosen and failed does.
    if (fileWasChosen)
        promptLabel_->setText(kPromptMovieInvalid);
}

bool MainWindow::openMovieForTab(QGraphicsScene* scene, int captures, bool readRate,
                                 std::string& fname)
{
    getMovieFileName(fname);
    movie_.strobeMovieFile_.clear();
    cv::VideoCapture* const all[3] = {&movie_.movieCapture1, &movie_.movieCapture2,
                                      &movie_.movieCapture3};
    // A refused file leaves no capture open: none may stay on it, or on an
    // earlier movie, with the frame count, size and rate of another.
    auto refuse = [&](bool chosen) {
        for (cv::VideoCapture* capture : all)
            capture->release();
        movie_.movie_frame_num = 0;
        refuseMovie(chosen);
        return false;
    };
    for (int i = 0; i < captures; ++i) {
        if (!openMovieCapture(*all[i], fname))
            return refuse(!fname.empty());
        diag("Movie file opened.\n");
    }

    const int frames = static_cast<int>(movie_.movieCapture1.get(cv::CAP_PROP_FRAME_COUNT));
    diag("movie_frame_num: %d\n", frames);
    if (readRate) {
        movie_.movieFPS = static_cast<float>(movie_.movieCapture1.get(cv::CAP_PROP_FPS));
        diag("movieFPS: %f\n", movie_.movieFPS);
    }
    movie_.movie_frame_num = frames;
    if (frames <= 0 || !presentFirstFrame(scene)) {
        diag("  no frame can be decoded\n");
        return refuse(true);
    }
    return true;
}

void MainWindow::startBarPathMovieAutoMode()
{
    diag("startBarPathMovieAutoMode\n");
    std::string fname;
    if (!openMovieForTab(&autoScene_, 1, false, fname))
        return;
    movie_.replaceSelection(&autoScene_, QRectF(0, 0, 0, 0));
}

void MainWindow::startBarPathMovieManualMode()
{
    diag("startBarPathMovieManualMode\n");
    std::string fname;
    if (!openMovieForTab(&manualScene_, 1, true, fname))
        return;
    movie_.replaceSelection(&manualScene_, QRectF(0, 0, 0, 0));
    drawTextAreaBoxToScene(&manualScene_);
}

void MainWindow::startStrobeMovieMode()
{
    diag("startStrobeMovieMode\n");
    std::string fname;
    // The strobe movie needs all three captures on this very file.
    if (openMovieForTab(&strobeScene_, 3, true, fname))
        movie_.strobeMovieFile_ = fname;
}

void MainWindow::startStrobeMovieModeTypeA()
{
    movie_.strobeType_ = 0;
    startStrobeMovieMode();
}

void MainWindow::startStrobeMovieModeTypeB()
{
    movie_.strobeType_ = 1;
    startStrobeMovieMode();
}

void MainWindow::slotSetAnimeSlider(int value)
{
    const int max = animeSlider_->maximum();
    diag("slotSetAnimeSlider: %d/%d\n", value, max);
    const int pos_ = frameFromSlider(value, movie_.movie_frame_num, max);
    diag("  pos_: %.3e/%d\n", static_cast<double>(pos_), movie_.movie_frame_num);
    showMovieFrame(pos_);
}

bool MainWindow::showMovieFrame(int frame)
{
    // No movie, or the slider's last position (one past the last frame):
    // nothing to show, and what is on screen stays.
    if (!movie_.movieCapture1.isOpened() || frame < 0 || frame >= movie_.movie_frame_num)
        return false;
    cv::Mat decoded;
    if (!readMovieFrame(movie_.movieCapture1, frame, decoded)) {
        diag("  frame %d cannot be decoded\n", frame);
        return false;
    }
    movie_.makeMovieFrameCurrent(decoded);
    const QPixmap pixmap = frameToPixmap(movie_.movieFrame_);
    const Tab tab = currentTab();
    if (tab == Tab::Live)
        return true;
    diag("  tab_id_:%d\n", static_cast<int>(tab));
    switch (tab) {
    case Tab::MovieAuto:
        movie_.replaceFramePicture(&autoScene_, pixmap);
        break;
    case Tab::MovieManual:
        movie_.replaceFramePicture(&manualScene_, pixmap);
        drawTextAreaBoxToScene(&manualScene_);
        break;
    case Tab::Strobe:
        movie_.replaceFramePicture(&strobeScene_, pixmap);
        break;
    case Tab::Live:
        break;
    }
    return true;
}
