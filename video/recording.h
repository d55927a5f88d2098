#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

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
