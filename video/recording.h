#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

// For each buffered entry, the index of the buffered image that is written in
// its place. An entry whose tick had a camera picture (flag 1) is written
// itself; an entry without one repeats the most recent captured picture, or,
// before the first one, the first captured picture. When no entry has a
// captured picture every entry is written itself: those snapshots still show
// what the live view showed, and there is nothing else to repeat.
// {0, 0, 1, 0, 1, 0} gives {2, 2, 2, 2, 4, 4}.
std::vector<size_t> recordingWriteOrder(const std::vector<int>& flags);

// Opens `writer` for the recording: Microsoft Video 1 ("MSVC") where the
// platform's encoder takes it, otherwise Motion JPEG, which every OpenCV build
// writes and ffmpeg plays. A frame rate that is not a positive number is
// written as 30 fps. Sets `codecUsed` to the four characters of the codec
// that opened. Returns whether the writer opened.
bool openRecordingWriter(cv::VideoWriter& writer, const std::string& path, double fps,
                         cv::Size size, std::string* codecUsed = nullptr);

// Writes the buffered images in the order of recordingWriteOrder, each fitted
// to `frameSize`, and calls `onFrame(i, flag, width, height)` after entry i
// with the size of the buffered image. Only entries present in both lists are
// written. Returns the number of frames written.
size_t writeRecordedFrames(cv::VideoWriter& writer, const std::vector<cv::Mat>& frames,
                           const std::vector<int>& flags, cv::Size frameSize,
                           const std::function<void(size_t, int, int, int)>& onFrame = {});

// Bytes a buffered image holds.
size_t bufferedBytes(const std::vector<cv::Mat>& frames);

// The "MemAvailable:" value of /proc/meminfo text, in bytes.
std::optional<std::uint64_t> parseMemAvailable(const std::string& meminfo);

// Memory the machine can give to this process without swapping, if the
// platform tells.
std::optional<std::uint64_t> availableMemoryBytes();

// The recording buffer may take half of the memory available when the
// recording starts: the other half stays for the rest of the program, for the
// encoder at stop and for ffmpeg. When the platform does not tell, 1 GiB.
size_t recordingMemoryLimit(std::optional<std::uint64_t> available);

// Whether the buffer has to be saved now: one more image of the size of the
// last one would take it past `limit`. A limit of 0 means none is set.
bool recordingBufferFull(const std::vector<cv::Mat>& frames, size_t limit);

// A re-encode counts as done only when ffmpeg ran to its end, reported
// success, and left a non-empty file at `outputPath`; anything else keeps the
// recording. `why` receives the reason when it did not succeed.
bool reencodeSucceeded(bool exitedNormally, int exitCode, const std::string& outputPath,
                       std::string* why = nullptr);
