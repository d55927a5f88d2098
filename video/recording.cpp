#include "video/recording.h"

#include <cmath>

#include <QFileInfo>
#include <QStorageInfo>

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
