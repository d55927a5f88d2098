#include "video/recording.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <thread>

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QStringList>

#ifdef _WIN32
#define NOMINMAX
#include <windows.h>
#endif

#include "app/diagnostics.h"
#include "app/mainwindow.h"
#include "video/movie_writer.h"
#include "video/output_naming.h"

std::vector<size_t> recordingWriteOrder(const std::vector<int>& flags)
{
    std::vector<size_t> order(flags.size());
    const auto firstCaptured = std::find(flags.begin(), flags.end(), 1);
    if (firstCaptured == flags.end()) {
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        return order;
    }
    size_t repeat = static_cast<size_t>(firstCaptured - flags.begin());
    for (size_t i = 0; i < flags.size(); ++i) {
        if (flags[i] == 1)
            repeat = i;
        order[i] = repeat;
    }
    return order;
}

static std::string fourccText(int fourcc)
{
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i)
        text[static_cast<size_t>(i)] = static_cast<char>((fourcc >> (8 * i)) & 0xff);
    return text;
}

bool openRecordingWriter(cv::VideoWriter& writer, const std::string& path, double fps,
                         cv::Size size, std::string* codecUsed)
{
    writer.release();
    if (size.width <= 0 || size.height <= 0)
        return false;
    if (!(fps > 0.0) || fps > 1000.0)
        fps = 30.0;
    // Debian's OpenCV knows the Microsoft Video 1 encoder but it refuses the
    // pixel format OpenCV hands it, so the open fails there and Motion JPEG
    // takes over.
    const int codecs[] = {cv::VideoWriter::fourcc('M', 'S', 'V', 'C'), movieFourcc()};
    for (int codec : codecs) {
        try {
            if (writer.open(path, codec, fps, size, true)) {
                if (codecUsed)
                    *codecUsed = fourccText(codec);
                return true;
            }
        } catch (const cv::Exception& e) {
            diag("  video writer %s: %s\n", fourccText(codec).c_str(), e.what());
        }
        writer.release();
    }
    return false;
}

size_t writeRecordedFrames(cv::VideoWriter& writer, const std::vector<cv::Mat>& frames,
                           const std::vector<int>& flags, cv::Size frameSize,
                           const std::function<void(size_t, int, int, int)>& onFrame)
{
    const size_t count = std::min(frames.size(), flags.size());
    const std::vector<int> usedFlags(flags.begin(), flags.begin() + static_cast<long>(count));
    const std::vector<size_t> order = recordingWriteOrder(usedFlags);
    for (size_t i = 0; i < count; ++i) {
        writer.write(fitToFrameSize(frames[order[i]], frameSize));
        if (onFrame)
            onFrame(i, usedFlags[i], frames[i].cols, frames[i].rows);
    }
    return count;
}

size_t bufferedBytes(const std::vector<cv::Mat>& frames)
{
    size_t bytes = 0;
    for (const cv::Mat& frame : frames)
        bytes += frame.total() * frame.elemSize();
    return bytes;
}

std::optional<std::uint64_t> parseMemAvailable(const std::string& meminfo)
{
    std::istringstream lines(meminfo);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("MemAvailable:", 0) != 0)
            continue;
        std::istringstream fields(line.substr(13));
        std::uint64_t value = 0;
        std::string unit;
        if (!(fields >> value))
            return std::nullopt;
        fields >> unit;
        if (unit == "kB")
            return value * 1024;
        if (unit.empty())
            return value;
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> availableMemoryBytes()
{
#ifdef _WIN32
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status))
        return status.ullAvailPhys;
    return std::nullopt;
#else
    std::ifstream file("/proc/meminfo");
    if (!file)
        return std::nullopt;
    std::stringstream text;
    text << file.rdbuf();
    return parseMemAvailable(text.str());
#endif
}

size_t recordingMemoryLimit(std::optional<std::uint64_t> available)
{
    const std::uint64_t fallback = std::uint64_t(1) << 30;
    const std::uint64_t limit = available ? *available / 2 : fallback;
    const std::uint64_t most = std::numeric_limits<size_t>::max();
    return static_cast<size_t>(std::min(limit, most));
}

bool recordingBufferFull(const std::vector<cv::Mat>& frames, size_t limit)
{
    if (limit == 0 || frames.empty())
        return false;
    const size_t next = frames.back().total() * frames.back().elemSize();
    const size_t held = bufferedBytes(frames);
    return held > limit || next > limit - held;
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

// Runs the ffmpeg found in the working directory on the finished recording and
// removes the recording only once its re-encoded copy is there.
static void reencodeRecording(const std::string& input, const std::string& output)
{
    const QString program = QDir::current().absoluteFilePath(ffmpegExecutableName());
    const QStringList arguments{"-i", QString::fromLocal8Bit(input.c_str()), "-b:v", "1.0M",
                                QString::fromLocal8Bit(output.c_str())};
    diag("command:%s\n", (QStringList(program) + arguments).join(' ').toLocal8Bit().constData());

    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedChannels);
    // No terminal to answer ffmpeg's questions (an existing output file): it
    // reads end of input, declines, and the recording is kept.
    ffmpeg.setStandardInputFile(QProcess::nullDevice());
    ffmpeg.start(program, arguments);
    const bool started = ffmpeg.waitForStarted(-1);
    const bool finished = started && ffmpeg.waitForFinished(-1);
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
        return;
    }
    QFile first(QString::fromLocal8Bit(input.c_str()));
    if (first.remove())
        diag("  removed %s\n", input.c_str());
    else
        diag("  could not remove %s: %s\n", input.c_str(),
             first.errorString().toLocal8Bit().constData());
}

void MainWindow::startRecording()
{
    const cv::Size size(liveScene_.sceneRect().size().toSize().width(),
                        liveScene_.sceneRect().size().toSize().height());
    recFileName_ = makeOutputFileName("avi");
    std::string codec;
    if (!openRecordingWriter(recWriter_, recFileName_, FPS_, size, &codec)) {
        diag("cvCreateVideoWriter canncel\n");
        return;
    }
    diag("   w:%d, h:%d\n", size.width, size.height);
    diag("  codec: %s\n", codec.c_str());
    recFrameSize_ = size;
    recState_ = 1;
    frameCount_ = 0;
    frameList_.clear();
    frameFlags_.clear();
    recMemoryLimit_ = recordingMemoryLimit(availableMemoryBytes());
    diag("  recMemoryLimit_: %zu\n", recMemoryLimit_);
}

void MainWindow::recordTick()
{
    frameList_.push_back(sceneSnapshot(&liveScene_, false));
    frameFlags_.push_back(camera_frame.cols > 0 && camera_frame.rows > 0 ? 1 : 0);
    if (recordingBufferFull(frameList_, recMemoryLimit_)) {
        diag("  recording buffer full (%zu bytes): saving\n", bufferedBytes(frameList_));
        stopRecording();
        promptLabel_->setText("Memory is running low: the recording was stopped and saved.");
    }
}

void MainWindow::stopRecording()
{
    recState_ = 0;

    auto notice = std::make_unique<QDialog>();
    notice->setWindowTitle("Now saving...");
    notice->resize(200, 50);
    notice->show();
    notice->repaint();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    if (frameList_.size() != frameFlags_.size())
        diag("  %zu images but %zu flags: writing the %zu complete entries\n", frameList_.size(),
             frameFlags_.size(), std::min(frameList_.size(), frameFlags_.size()));
    diag("\n");
    writeRecordedFrames(recWriter_, frameList_, frameFlags_, recFrameSize_,
                        [](size_t i, int flag, int width, int height) {
                            diag("cvWriteFrame[%d]:%d, %d, %d\n", static_cast<int>(i), flag, width,
                                 height);
                        });
    diag("\n");
    recWriter_.release();
    notice->close();
    notice.reset();
    // The frames are on disk now; a long recording would otherwise hold its
    // memory until the next one starts.
    std::vector<cv::Mat>().swap(frameList_);
    std::vector<int>().swap(frameFlags_);

    const std::string reencodeName = makeOutputFileName(".avi");
    if (ffmpegFlag == 1)
        reencodeRecording(recFileName_, reencodeName);
    frameCount_ = 0;
}
