#include <algorithm>
#include <cstdio>
#include <memory>

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QStringList>

#include "analysis/measurement.h"
#include "app/mainwindow.h"
#include "app/prompts.h"
#include "app/work_progress.h"
#include "video/diagnostics.h"
#include "video/frame_display.h"
#include "video/movie_writer.h"
#include "video/output_naming.h"
#include "video/recording.h"

// Runs the ffmpeg found in the working directory on the finished recording,
// showing its frame count as it goes, and removes the recording only once its
// re-encoded copy is there.
bool MainWindow::reencodeRecording(const std::string& input, const std::string& output, int frames)
{
    const QString program = QDir::current().absoluteFilePath(ffmpegExecutableName());
    const QStringList arguments{"-i", QString::fromLocal8Bit(input.c_str()), "-b:v", "1.0M",
                                QString::fromLocal8Bit(output.c_str())};
    diag("command:%s\n", (QStringList(program) + arguments).join(' ').toLocal8Bit().constData());

    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    // No terminal to answer ffmpeg's questions (an existing output file): it
    // reads end of input, declines, and the recording is kept.
    ffmpeg.setStandardInputFile(QProcess::nullDevice());
    ffmpeg.start(program, arguments);
    const bool started = ffmpeg.waitForStarted(-1);
    bool finished = false;
    if (started) {
        WorkProgress progress(this, "Re-encoding frame", frames, false);
        std::string recent;
        for (;;) {
            finished = ffmpeg.waitForFinished(100);
            // ffmpeg's own report still reaches the console.
            const QByteArray text = ffmpeg.readAll();
            std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
            recent = (recent + text.toStdString());
            if (recent.size() > 4096)
                recent.erase(0, recent.size() - 4096);
            const int done = ffmpegFrameCount(recent);
            progress.update(std::max(done, 0));
            if (finished || ffmpeg.state() == QProcess::NotRunning)
                break;
        }
        finished = ffmpeg.state() == QProcess::NotRunning;
    }
    diag("command executed\n");

    std::string why;
    bool done = false;
    if (!started)
        why = "ffmpeg could not be started: " + ffmpeg.errorString().toStdString();
    else if (!finished)
        why = "ffmpeg did not finish: " + ffmpeg.errorString().toStdString();
    else
        done = reencodeSucceeded(ffmpeg.exitStatus() == QProcess::NormalExit, ffmpeg.exitCode(),
                                 output, &why);
    if (!done) {
        diag("  re-encode failed (%s); the recording stays in %s\n", why.c_str(), input.c_str());
        return false;
    }
    QFile first(QString::fromLocal8Bit(input.c_str()));
    if (first.remove())
        diag("  removed %s\n", input.c_str());
    else
        diag("  could not remove %s: %s\n", input.c_str(),
             first.errorString().toLocal8Bit().constData());
    return true;
}

void MainWindow::startRecording()
{
    const cv::Size size(liveScene_.sceneRect().size().toSize().width(),
                        liveScene_.sceneRect().size().toSize().height());
    rec_.recFileName_ = makeOutputFileName("avi");
    if (!openMovieWriter(rec_.recWriter_, rec_.recFileName_, settings_.FPS_, size)) {
        diag("cvCreateVideoWriter canncel\n");
        return;
    }
    diag("   w:%d, h:%d\n", size.width, size.height);
    rec_.recFrameSize_ = size;
    rec_.recState_ = 1;
    camera_.restartGrid();
    rec_.recAnyPicture_ = false;
    rec_.recHeld_ = 0;
    rec_.recRepeats_ = 0;
    rec_.recTicks_ = 0;
    rec_.recRows_.clear();
    // The frame rate of the file is fixed now; a new rate would play the rest
    // at the wrong speed.
    fpsMenu_->setEnabled(false);
}

void MainWindow::recordTick(const TraceRow& row)
{
    if (rec_.recWriter_.failed()) {
        stopRecording(RecordingEnd::WriteFailed);
        return;
    }
    rec_.recRows_.push_back(row);
    rec_.recRows_.back().frame = rec_.recTicks_;
    switch (recordedTick(!camera_.camera_frame.empty(), rec_.recAnyPicture_)) {
    case RecordedTick::Held:
        ++rec_.recHeld_;
        break;
    case RecordedTick::Repeat:
        rec_.recWriter_.repeatLast();
        break;
    case RecordedTick::Snapshot:
        // The live loop never waits for the disk: when the encoders are
        // behind, the tick is the last frame again, so the timing holds.
        if (!rec_.recWriter_.tryWriteShared(
                fitToFrameSize(sceneSnapshot(&liveScene_, false), rec_.recFrameSize_))) {
            rec_.recWriter_.repeatLast();
            ++rec_.recRepeats_;
        }
        if (!rec_.recAnyPicture_) {
            rec_.recAnyPicture_ = true;
            for (; rec_.recHeld_ > 0; --rec_.recHeld_)
                rec_.recWriter_.repeatLast();
        }
        break;
    }
    // About once a second: is there still room for the next seconds?
    if (++rec_.recTicks_ % std::max(1, static_cast<int>(settings_.FPS_)) == 0) {
        const auto room = freeDiskBytes("output");
        if (room && *room < recordingDiskReserve(rec_.recFrameSize_, settings_.FPS_)) {
            diag("  %llu bytes free in output: saving\n", static_cast<unsigned long long>(*room));
            stopRecording(RecordingEnd::DiskLow);
        }
    }
}

void MainWindow::stopRecording(RecordingEnd why)
{
    rec_.recState_ = 0;
    fpsMenu_->setEnabled(true);

    // The frames are written as they come: the notice stays only while the
    // encoders finish the last few.
    auto notice = std::make_unique<QDialog>();
    notice->setWindowTitle("Now saving...");
    notice->resize(200, 50);
    notice->show();
    notice->repaint();

    if (!rec_.recAnyPicture_ && rec_.recHeld_ > 0) {
        // The camera never gave a picture: the ticks are black frames.
        const cv::Mat black(std::max(camera_.cameraHeight_, 1), std::max(camera_.cameraWidth_, 1),
                            CV_8UC3, cv::Scalar::all(0));
        const cv::Mat frame = fitToFrameSize(black, rec_.recFrameSize_);
        for (; rec_.recHeld_ > 0; --rec_.recHeld_)
            rec_.recWriter_.write(frame);
    }
    const bool complete = rec_.recWriter_.release();
    diag("  %d frames, %d repeated\n", rec_.recWriter_.framesWritten(), rec_.recRepeats_);
    notice->close();
    notice.reset();
    camera_.restartGrid();

    if (!complete || why == RecordingEnd::WriteFailed) {
        // What is on disk is all there is: no re-encode may replace or remove it.
        promptLabel_->setText(kPromptRecordingIncomplete);
        keepRecordingResults(rec_.recFileName_);
        return;
    }
    if (why == RecordingEnd::DiskLow)
        promptLabel_->setText(kPromptDiskLow);
    else if (rec_.recRepeats_ > 0)
        promptLabel_->setText(QString(kPromptFramesRepeated).arg(rec_.recRepeats_));

    const std::string reencodeName = makeOutputFileName(".avi");
    const bool replaced =
        rec_.ffmpegFlag == 1 &&
        reencodeRecording(rec_.recFileName_, reencodeName, rec_.recWriter_.framesWritten());
    keepRecordingResults(replaced ? reencodeName : rec_.recFileName_);
}

void MainWindow::keepRecordingResults(const std::string& movieFile)
{
    keepLiftResults(movieFile, rec_.recRows_,
                    measure_.calibrated() ? QString() : QString(kWhyPlateNotDragged));
    rec_.recRows_.clear();
}
