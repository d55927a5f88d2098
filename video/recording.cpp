#include "video/recording.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QStorageInfo>
#include <QStringList>

#include "analysis/measurement.h"
#include "app/diagnostics.h"
#include "app/mainwindow.h"
#include "app/work_progress.h"
#include "video/movie_writer.h"
#include "video/output_naming.h"

RecordedTick recordedTick(bool cameraPicture, bool anyPictureYet)
{
    if (cameraPicture)
        return RecordedTick::Snapshot;
    return anyPictureYet ? RecordedTick::Repeat : RecordedTick::Held;
}

std::uint64_t recordingDiskReserve(cv::Size frameSize, double fps)
{
    if (!(fps > 0.0) || !std::isfinite(fps))
        fps = 30.0;
    // A busy picture at the writer's quality takes up to about a quarter of
    // its raw size. Ten seconds of that leave time to stop before the disk is
    // full; the re-encoded copy at 1 Mbit/s needs a small part of it, and
    // ffmpeg itself some room besides.
    const double frameBytes = frameSize.area() * 3.0 / 4.0;
    return static_cast<std::uint64_t>(frameBytes * fps * 10.0) + (std::uint64_t(64) << 20);
}

std::optional<std::uint64_t> freeDiskBytes(const std::string& directory)
{
    QStorageInfo storage(QString::fromLocal8Bit(directory.c_str()));
    if (!storage.isValid() || !storage.isReady())
        return std::nullopt;
    return static_cast<std::uint64_t>(storage.bytesAvailable());
}

bool reencodeSucceeded(bool exitedNormally, int exitCode, const std::string& outputPath,
                       std::string* why)
{
    auto fail = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (!exitedNormally)
        return fail("ffmpeg did not run to its end");
    if (exitCode != 0)
        return fail("ffmpeg exited with code " + std::to_string(exitCode));
    const QFileInfo output(QString::fromLocal8Bit(outputPath.c_str()));
    if (!output.exists())
        return fail("ffmpeg wrote no file " + outputPath);
    if (output.size() <= 0)
        return fail("ffmpeg left " + outputPath + " empty");
    return true;
}

int ffmpegFrameCount(const std::string& output)
{
    const size_t at = output.rfind("frame=");
    if (at == std::string::npos)
        return -1;
    size_t i = at + 6;
    while (i < output.size() && output[i] == ' ')
        ++i;
    int frames = 0;
    bool digits = false;
    for (; i < output.size() && output[i] >= '0' && output[i] <= '9'; ++i) {
        frames = frames * 10 + (output[i] - '0');
        digits = true;
    }
    return digits ? frames : -1;
}

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
    recFileName_ = makeOutputFileName("avi");
    if (!openMovieWriter(recWriter_, recFileName_, FPS_, size)) {
        diag("cvCreateVideoWriter canncel\n");
        return;
    }
    diag("   w:%d, h:%d\n", size.width, size.height);
    recFrameSize_ = size;
    recState_ = 1;
    frameCount_ = 0;
    recAnyPicture_ = false;
    recHeld_ = 0;
    recRepeats_ = 0;
    recTicks_ = 0;
    recRows_.clear();
    // The frame rate of the file is fixed now; a new rate would play the rest
    // at the wrong speed.
    fpsMenu_->setEnabled(false);
}

void MainWindow::recordTick()
{
    if (recWriter_.failed()) {
        stopRecording(RecordingEnd::WriteFailed);
        return;
    }
    recRows_.push_back(liveRow_);
    recRows_.back().frame = recTicks_;
    switch (recordedTick(!camera_frame.empty(), recAnyPicture_)) {
    case RecordedTick::Held:
        ++recHeld_;
        break;
    case RecordedTick::Repeat:
        recWriter_.repeatLast();
        break;
    case RecordedTick::Snapshot:
        // The live loop never waits for the disk: when the encoders are
        // behind, the tick is the last frame again, so the timing holds.
        if (!recWriter_.tryWriteShared(
                fitToFrameSize(sceneSnapshot(&liveScene_, false), recFrameSize_))) {
            recWriter_.repeatLast();
            ++recRepeats_;
        }
        if (!recAnyPicture_) {
            recAnyPicture_ = true;
            for (; recHeld_ > 0; --recHeld_)
                recWriter_.repeatLast();
        }
        break;
    }
    // About once a second: is there still room for the next seconds?
    if (++recTicks_ % std::max(1, static_cast<int>(FPS_)) == 0) {
        const auto room = freeDiskBytes("output");
        if (room && *room < recordingDiskReserve(recFrameSize_, FPS_)) {
            diag("  %llu bytes free in output: saving\n", static_cast<unsigned long long>(*room));
            stopRecording(RecordingEnd::DiskLow);
        }
    }
}

void MainWindow::stopRecording(RecordingEnd why)
{
    recState_ = 0;
    fpsMenu_->setEnabled(true);

    // The frames are written as they come: the notice stays only while the
    // encoders finish the last few.
    auto notice = std::make_unique<QDialog>();
    notice->setWindowTitle("Now saving...");
    notice->resize(200, 50);
    notice->show();
    notice->repaint();

    if (!recAnyPicture_ && recHeld_ > 0) {
        // The camera never gave a picture: the ticks are black frames.
        const cv::Mat black(std::max(cameraHeight_, 1), std::max(cameraWidth_, 1), CV_8UC3,
                            cv::Scalar::all(0));
        const cv::Mat frame = fitToFrameSize(black, recFrameSize_);
        for (; recHeld_ > 0; --recHeld_)
            recWriter_.write(frame);
    }
    const bool complete = recWriter_.release();
    diag("  %d frames, %d repeated\n", recWriter_.framesWritten(), recRepeats_);
    notice->close();
    notice.reset();
    frameCount_ = 0;

    if (!complete || why == RecordingEnd::WriteFailed) {
        // What is on disk is all there is: no re-encode may replace or remove it.
        promptLabel_->setText("The recording could not be written completely: what was written "
                              "is kept.");
        keepRecordingResults(recFileName_);
        return;
    }
    if (why == RecordingEnd::DiskLow)
        promptLabel_->setText("The disk is almost full: the recording was stopped and saved.");
    else if (recRepeats_ > 0)
        promptLabel_->setText(
            QString("Recording saved; %1 frames were repeated while the encoder caught up.")
                .arg(recRepeats_));

    const std::string reencodeName = makeOutputFileName(".avi");
    const bool replaced = ffmpegFlag == 1 &&
                          reencodeRecording(recFileName_, reencodeName, recWriter_.framesWritten());
    keepRecordingResults(replaced ? reencodeName : recFileName_);
}

void MainWindow::keepRecordingResults(const std::string& movieFile)
{
    keepLiftResults(movieFile, recRows_,
                    plateCalibrated(platePixel_)
                        ? QString()
                        : QString("The plate was not dragged: the recording has pixels only."));
    recRows_.clear();
}
