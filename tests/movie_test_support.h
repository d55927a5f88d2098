#pragma once

// What the movie tests share: answering the real file dialog, reading which
// frame a scene or matrix shows, and the views' frame-to-viewport mapping.

#include <cmath>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGraphicsPixmapItem>
#include <QGraphicsView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <opencv2/core.hpp>

#include "analysis/range_selection.h"
#include "app/mainwindow.h"
#include "movie_fixtures.h"
#include "test_support.h"

namespace movietest
{

struct DialogSeen {
    bool seen = false;
    // The dialog did not close when answered (it refused the name); it was
    // cancelled instead so that the test does not hang.
    bool stuck = false;
    QString title;
    QStringList filters;
    QString selectedFilter;
    QString directory;
};

// Answers the next modal file dialog as a user typing the name would: chooses
// `path`, or cancels when it is empty. `bypassChecks` closes it as accepted
// without the dialog's own test that the file exists (a file that vanishes
// after it was chosen). While its directory is still being listed the dialog
// may refuse the name (it complains in a message box); the answer is then
// given again on the next ticks, for about a second, before the dialog is
// cancelled so that the test fails instead of hanging.
inline std::shared_ptr<DialogSeen> answerNextFileDialog(const QString& path,
                                                        bool bypassChecks = false)
{
    auto seen = std::make_shared<DialogSeen>();
    auto answered = std::make_shared<QPointer<QFileDialog>>();
    auto tries = std::make_shared<int>(0);
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QPointer<QFileDialog> mine = *answered;
        if (seen->seen) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (mine && box && box->parentWidget() == mine) {
                box->done(0);
                return;
            }
            if (!mine || dialog != mine) {
                timer->stop();
                timer->deleteLater();
                return;
            }
            if (++*tries > 100) {
                seen->stuck = true;
                static_cast<QDialog*>(dialog)->reject();
                return;
            }
        } else {
            if (!dialog)
                return;
            seen->seen = true;
            *answered = dialog;
            seen->title = dialog->windowTitle();
            seen->filters = dialog->nameFilters();
            seen->selectedFilter = dialog->selectedNameFilter();
            seen->directory = dialog->directory().absolutePath();
        }
        if (path.isEmpty()) {
            static_cast<QDialog*>(dialog)->reject();
            return;
        }
        dialog->selectFile(path);
        if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit"))
            edit->setText(path);
        if (bypassChecks)
            static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
        else
            static_cast<QDialog*>(dialog)->accept();
    });
    timer->start();
    return seen;
}

// The movies the program wrote into output/ of the working directory.
inline QStringList outputMovies()
{
    return QDir("output").entryList({"cap1_*.avi"}, QDir::Files);
}

// A temporary working directory for one test case: the program's output/
// and temp/ land there, and so do the movies the test feeds in.
class MovieWorkDir
{
public:
    MovieWorkDir() : oldCwd_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~MovieWorkDir() { QDir::setCurrent(oldCwd_); }
    MovieWorkDir(const MovieWorkDir&) = delete;
    MovieWorkDir& operator=(const MovieWorkDir&) = delete;

    bool isValid() const { return dir_.isValid(); }
    QString path(const QString& name) const { return dir_.filePath(name); }

    // The fixture scene as an MJPG movie, or as an MPEG-4 copy made by the
    // real ffmpeg with a keyframe every `gop` frames; empty on failure.
    QString movie(const QString& name, int frames, cv::Size size, bool mpeg4 = false,
                  int gop = 250) const
    {
        const QString mjpg = path(mpeg4 ? name + ".mjpg.avi" : name);
        if (!fixtures::writeMjpgMovie(mjpg.toStdString(), frames, size))
            return QString();
        if (!mpeg4)
            return mjpg;
        const QString out = path(name);
        return fixtures::convertToMpeg4(fixtures::ffmpegPath(), mjpg, out, gop) ? out : QString();
    }

private:
    QTemporaryDir dir_;
    QString oldCwd_;
};

inline QPushButton* button(MainWindow& w, const QString& text)
{
    for (QPushButton* b : w.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// The frame index carried by the picture a movie scene shows.
inline int shownFrame(const MainWindow& w)
{
    if (!w.framePixmapItem_)
        return -1;
    const QImage image =
        w.framePixmapItem_->pixmap().toImage().convertToFormat(QImage::Format_RGB888);
    const cv::Mat wrapped(image.height(), image.width(), CV_8UC3, const_cast<uchar*>(image.bits()),
                          static_cast<size_t>(image.bytesPerLine()));
    return fixtures::frameMark(wrapped);
}

// A viewport point that lands exactly on frame pixel (fx, fy) of a view
// showing a frame of the movie's size.
inline QPoint viewPointFor(const MainWindow& w, int fx, int fy)
{
    const SelectionOffset off =
        selectionOffset(w.viewWidth_, w.viewHeight_, w.movieWidth, w.movieHeight);
    return QPoint(static_cast<int>(std::ceil(fx + off.x)), static_cast<int>(std::ceil(fy + off.y)));
}

// Makes an MPEG-4 copy of an MJPG movie with the real ffmpeg; skips the test
// when ffmpeg is not there.
#define MOVIETEST_REQUIRE_FFMPEG()                                                                 \
    do {                                                                                           \
        if (fixtures::ffmpegPath().isEmpty())                                                      \
            QSKIP("KESTROVA_FFMPEG not set");                                                      \
    } while (false)

} // namespace movietest
