#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "video/mjpeg_avi_writer.h"
#include "video/trace_row.h"

// What a recorded tick puts into the file. A tick with a camera picture writes
// its snapshot. One without repeats the last written frame; before the first
// picture there is none, so such ticks are held and written as the first
// picture once it comes (or as black frames at stop, when none ever does).
enum class RecordedTick { Snapshot, Repeat, Held };
RecordedTick recordedTick(bool cameraPicture, bool anyPictureYet);

// Why a recording ended.
enum class RecordingEnd { User, DiskLow, WriteFailed };

// Bytes that must stay free in output/ while a recording of frames of
// `frameSize` at `fps` runs: below this it stops and is saved, with room left
// for its last frames, the re-encode and ffmpeg.
std::uint64_t recordingDiskReserve(cv::Size frameSize, double fps);

// Bytes free to this process on the file system of `directory`, if it tells.
std::optional<std::uint64_t> freeDiskBytes(const std::string& directory);

// The frame count of ffmpeg's last "frame=" report in `output`; -1 when there
// is none.
int ffmpegFrameCount(const std::string& output);

// A re-encode counts as done only when ffmpeg ran to its end, reported
// success, and left a non-empty file at `outputPath`; anything else keeps the
// recording. `why` receives the reason when it did not succeed.
bool reencodeSucceeded(bool exitedNormally, int exitCode, const std::string& outputPath,
                       std::string* why = nullptr);

// A recording of the live view. Only the recording's slots write it.
struct Recording {
    // 1 while the live camera is being recorded.
    int recState_ = 0;
    // A running recording has a writer of its own, so that writing a movie
    // while the camera is being recorded cannot close or overwrite it. It
    // encodes and appends each tick's frame while the recording runs.
    MjpegAviWriter recWriter_;
    cv::Size recFrameSize_;
    std::string recFileName_;
    bool recAnyPicture_ = false;
    // Ticks without a picture before the first one came.
    int recHeld_ = 0;
    // Ticks written as the last frame again because the encoders were behind.
    int recRepeats_ = 0;
    int recTicks_ = 0;
    // One row per recorded tick, kept beside the recording at stop.
    std::vector<TraceRow> recRows_;
    // 1 when ffmpeg was found in the working directory at start-up.
    int ffmpegFlag = 0;
};
