#include <cstdio>
#include <cstring>

#include <QDir>
#include <QFileDialog>
#include <QGraphicsRectItem>
#include <QLabel>
#include <QPen>
#include <QSlider>
#include <QTabWidget>

#include "analysis/frame_mapping.h"
#include "app/diagnostics.h"
#include "app/mainwindow.h"
#include "video/movie_reader.h"

namespace
{
constexpr int kFileNameSize = 512;

QString askForMovie(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, "Import Motion Data File", QDir::currentPath(),
                                        "(*.avi);;All Files (*)");
}

void copyFileName(char* fname_, const QString& name)
{
    const QByteArray local = name.toLocal8Bit();
    diag("filename=%s\n", local.constData());
    std::snprintf(fname_, kFileNameSize, "%s", local.constData());
}
} // namespace

void MainWindow::getMovieFileName(char* fname_)
{
    diag("getMovieFileName\n");
    fname_[0] = '\0';
    const QString name = askForMovie(this);
    if (!name.isEmpty())
        copyFileName(fname_, name);
}

bool MainWindow::openMovieCapture(cv::VideoCapture& capture, const char* fname)
{
    // Whatever the capture held before is let go, whether or not the new file opens.
    capture.release();
    if (!fname || fname[0] == '\0')
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

void MainWindow::refuseMovie(bool fileWasChosen)
{
    diag("Movie file invalid.\n");
    strobeMovieFile_.clear();
    // A cancelled dialog needs no message; a file that was chosen and failed does.
    if (fileWasChosen)
        promptLabel_->setText("Movie file invalid.");
}

bool MainWindow::presentOpenedMovie(QGraphicsScene* scene, bool readRate)
{
    const int frames = static_cast<int>(movieCapture1.get(cv::CAP_PROP_FRAME_COUNT));
    diag("movie_frame_num: %d\n", frames);
    if (readRate) {
        movieFPS = static_cast<float>(movieCapture1.get(cv::CAP_PROP_FPS));
        diag("movieFPS: %f\n", movieFPS);
    }
    movie_frame_num = frames;
    if (frames <= 0 || !presentFirstFrame(scene)) {
        movieCapture1.release();
        movie_frame_num = 0;
        diag("  no frame can be decoded\n");
        refuseMovie(true);
        return false;
    }
    return true;
}

void MainWindow::startBarPathMovieAutoMode()
{
    diag("startBarPathMovieAutoMode\n");
    char fname[kFileNameSize] = {};
    const QString name = askForMovie(this);
    if (!name.isEmpty())
        copyFileName(fname, name);

    strobeMovieFile_.clear();
    if (!openMovieCapture(movieCapture1, fname)) {
        refuseMovie(fname[0] != '\0');
        return;
    }
    diag("Movie file opened.\n");
    if (!presentOpenedMovie(&autoScene_, false))
        return;
    movieRect_ = QRectF(0, 0, 0, 0);
    movieRectItem_ = autoScene_.addRect(movieRect_, QPen(Qt::red), Qt::NoBrush);
}

void MainWindow::startBarPathMovieManualMode()
{
    diag("startBarPathMovieManualMode\n");
    char fname[kFileNameSize] = {};
    getMovieFileName(fname);

    strobeMovieFile_.clear();
    if (!openMovieCapture(movieCapture1, fname)) {
        refuseMovie(fname[0] != '\0');
        return;
    }
    diag("Movie file opened.\n");
    if (!presentOpenedMovie(&manualScene_, true))
        return;
    movieRect_ = QRectF(0, 0, 0, 0);
    movieRectItem_ = manualScene_.addRect(movieRect_, QPen(Qt::red), Qt::NoBrush);
    drawTextAreaBoxToScene(&manualScene_);
}

void MainWindow::startStrobeMovieMode()
{
    diag("startStrobeMovieMode\n");
    char fname[kFileNameSize] = {};
    getMovieFileName(fname);

    strobeMovieFile_.clear();
    for (cv::VideoCapture* capture : {&movieCapture1, &movieCapture2, &movieCapture3}) {
        if (!openMovieCapture(*capture, fname)) {
            refuseMovie(fname[0] != '\0');
            return;
        }
        diag("Movie file opened.\n");
    }
    if (!presentOpenedMovie(&strobeScene_, true)) {
        // The file is no movie; the two strobe captures on it are of no use.
        movieCapture2.release();
        movieCapture3.release();
        return;
    }
    // The strobe movie needs all three captures on this very file.
    strobeMovieFile_ = fname;
}

void MainWindow::startStrobeMovieModeTypeA()
{
    strobeType_ = 0;
    startStrobeMovieMode();
}

void MainWindow::startStrobeMovieModeTypeB()
{
    strobeType_ = 1;
    startStrobeMovieMode();
}

void MainWindow::slotSetAnimeSlider(int value)
{
    const int max = animeSlider_->maximum();
    diag("slotSetAnimeSlider: %d/%d\n", value, max);
    const int pos_ = frameFromSlider(value, movie_frame_num, max);
    diag("  pos_: %.3e/%d\n", static_cast<double>(pos_), movie_frame_num);
    showMovieFrame(pos_);
}

bool MainWindow::showMovieFrame(int frame)
{
    // No movie, or the slider's last position (one past the last frame):
    // nothing to show, and what is on screen stays.
    if (!movieCapture1.isOpened() || frame < 0 || frame >= movie_frame_num)
        return false;
    cv::Mat decoded;
    if (!readMovieFrame(movieCapture1, frame, decoded)) {
        diag("  frame %d cannot be decoded\n", frame);
        return false;
    }
    movieFrame_ = decoded;
    currentFrameMat = movieFrame_;
    const QPixmap pixmap = frameToPixmap(movieFrame_);
    const int tab = tabWidget_->currentIndex();
    if (tab == 0)
        return true;
    diag("  tab_id_:%d\n", tab);
    switch (tab) {
    case 1:
        replaceFramePicture(&autoScene_, pixmap);
        break;
    case 2:
        replaceFramePicture(&manualScene_, pixmap);
        drawTextAreaBoxToScene(&manualScene_);
        break;
    case 3:
        replaceFramePicture(&strobeScene_, pixmap);
        break;
    default:
        break;
    }
    return true;
}
