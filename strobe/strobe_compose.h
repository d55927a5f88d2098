#pragma once

#include <cstddef>
#include <functional>

#include <opencv2/core.hpp>

// The composition of the strobe movies, apart from the captures and the writer
// so that the frames can be checked before the lossy encoding.

struct StrobePlan {
    int start = 0;   // S, first frame of the range
    int end = 0;     // E; the range is S to E - 1, samples may reach E
    int step = 1;    // frames between samples, at least 1
    int number = 25; // N, samples laid over one output frame
    int threshold = 20;
    // Type A keeps the N + 2 newest samples as its bases while they fit in
    // this many bytes; beyond, each base is decoded a second time instead.
    size_t baseWindowBytes = size_t(512) << 20;
    // The layers, the pixels the samples lay over (Type A) or the strobe
    // images (Type B), are kept in memory up to this many bytes and beyond in
    // a temporary file, read back as they are used. With a low threshold a
    // layer is most of a frame, and N of them outgrow the memory (6 GB at
    // 1080p, N 999, threshold 0). 512 MiB, as for the bases: room for
    // about 190 layers at 720p and 85 at 1080p, so the usual N of 25 never
    // touches the file, while the two windows together stay near 1 GiB.
    size_t layerBudgetBytes = size_t(512) << 20;
};

// Frame `index` of the movie as read through capture `slot` (0, 1, 2 for the
// three captures). The frame is the caller's to change. False when the frame
// cannot be decoded; the composition then never uses it. Slot 0 is read on a
// thread of its own, so calls for different slots may come at the same time;
// the calls for one slot come one after the other, in order.
using StrobeFrameSource = std::function<bool(int slot, int index, cv::Mat& frame)>;
// One composed output frame, in order. The composition never changes its
// pixels afterwards, so the sink may keep the frame instead of copying it.
using StrobeFrameSink = std::function<void(const cv::Mat& frame)>;

// Type A: one frame per sample e, the sample with the moving parts of the N
// following samples laid over it. A frame that cannot be decoded ends the
// movie before the first output frame that needs it. Returns the frames written.
int composeStrobeTypeA(const StrobePlan& plan, const StrobeFrameSource& source,
                       const StrobeFrameSink& sink);

// Type B: every frame of the range with the moving parts of the N newest
// samples at or before it. The strobe images go to "temp<sep>img_%d.png"
// (temp is created when missing) and are read back from there; one that
// cannot be read back is left out. A sample that cannot be decoded ends the
// making of strobe images; a range frame that cannot be decoded ends the
// movie. Returns the frames written.
int composeStrobeTypeB(const StrobePlan& plan, const StrobeFrameSource& source,
                       const StrobeFrameSink& sink);

namespace cv
{
class VideoCapture;
} // namespace cv
class MjpegAviWriter;

// The movie itself: Type A (type 0) or B (1) read through three captures open
// on one file and written to an open `writer` as frames of `size`. After each
// frame `keepGoing(frames so far)` is asked; once it says no, nothing more is
// read and the movie ends there, as at a frame that cannot be decoded.
// Returns the frames written.
int writeStrobeMovie(int type, const StrobePlan& plan, cv::VideoCapture* const captures[3],
                     MjpegAviWriter& writer, cv::Size size,
                     const std::function<bool(int)>& keepGoing = {});
