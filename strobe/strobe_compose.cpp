#include "strobe/strobe_compose.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/diagnostics.h"
#include "strobe/strobe_rules.h"
#include "strobe/strobe_sparse.h"
#include "video/movie_reader.h"
#include "video/movie_writer.h"
#include "video/read_ahead.h"

namespace
{

// Frames kept by sample index while they are still needed.
class FrameWindow
{
public:
    void put(int index, cv::Mat frame) { frames_.emplace_back(index, std::move(frame)); }
    const cv::Mat* find(int index) const
    {
        for (const auto& [i, f] : frames_)
            if (i == index)
                return &f;
        return nullptr;
    }
    void dropBefore(int index)
    {
        while (!frames_.empty() && frames_.front().first < index)
            frames_.pop_front();
    }

private:
    std::deque<std::pair<int, cv::Mat>> frames_;
};

// Runs `work(y0, y1)` over the rows of a frame a few rows at a time: `work`
// lays many sparse images over those rows in turn, and over a band that small
// the rows stay in the cache from one image to the next (at 1080p a little
// faster than one pass over the whole frame per image, as measured).
// The bands are not spread across the cores: while a movie is made they are
// busy decoding ahead and encoding, and splitting only added contention.
template <typename Work> void overRows(int rows, size_t entries, Work work)
{
    constexpr int kBand = 8;
    if (entries == 0)
        return;
    for (int y0 = 0; y0 < rows; y0 += kBand)
        work(y0, std::min(rows, y0 + kBand));
}

} // namespace

// Each sample is decoded once. Its moving pixels against the next sample do
// not depend on the base, so they are found once and kept in sparse form;
// each output frame is then its base with the N sparse samples laid over.
int composeStrobeTypeA(const StrobePlan& plan, const StrobeFrameSource& source,
                       const StrobeFrameSink& sink)
{
    const int step = plan.step;
    const int N = plan.number;
    const int K = strobeSampleSteps(plan.end - plan.start, step);
    diag("\n");
    if (K - N <= 0)
        return 0;
    const int lastSample = N > 0 ? K : K - 1;

    int written = 0;
    FrameWindow samples;
    std::deque<std::pair<int, SparsePixels>> moving; // by sample index
    auto movingOf = [&moving](int m) -> const SparsePixels& {
        return moving[static_cast<size_t>(m - moving.front().first)].second;
    };
    bool keepBases = true;
    cv::Mat accumulated, out;
    // Samples are decoded through slot 0 while the ones before are composed.
    ReadAhead reader([&](int k, cv::Mat& f) { return source(0, plan.start + k * step, f); },
                     lastSample + 1);
    for (int i = 0; i <= lastSample; ++i) {
        cv::Mat frame;
        if (!reader.next(frame))
            return written;
        if (i == 0) {
            keepBases = static_cast<size_t>(N + 2) * frame.total() * frame.elemSize() <=
                        plan.baseWindowBytes;
            if (N > 0)
                accumulated = frame.clone();
        }
        samples.put(i, frame);
        if (N == 0) {
            diag("%d/%d\r", i, K);
            if (i > 0) {
                sink(frame);
                ++written;
            }
            samples.dropBefore(i);
            continue;
        }
        if (i >= 2) {
            // Sample i - 1 against its next sample, now that both are here.
            const int m = i - 1;
            moving.emplace_back(m,
                                movingPixels(*samples.find(m), *samples.find(i), plan.threshold));
            if (m <= N) {
                // Build-up on base 0: samples 1 to m laid over.
                if (m == 1)
                    diag("%d/%d\r", 0, K - N);
                const SparsePixels& sp = movingOf(m);
                // The sink may keep the frame it was given: go on in a copy.
                accumulated = accumulated.clone();
                overRows(accumulated.rows, sp.count(), [&](int y0, int y1) {
                    layOverSparse(accumulated, sp, plan.threshold, y0, y1);
                });
                sink(accumulated);
                ++written;
            }
            const int e = m - N;
            if (e >= 1) {
                diag("%d/%d\r", e, K - N);
                if (keepBases) {
                    // Base e is not needed again: its frame becomes the output
                    // frame, without a copy.
                    out = *samples.find(e);
                } else {
                    out.release(); // the sink may keep the previous one
                    if (!source(1, plan.start + e * step, out))
                        return written;
                }
                size_t entries = 0;
                for (int s = e + 1; s <= e + N; ++s)
                    entries += movingOf(s).count();
                overRows(out.rows, entries, [&](int y0, int y1) {
                    for (int s = e + 1; s <= e + N; ++s)
                        layOverSparse(out, movingOf(s), plan.threshold, y0, y1);
                });
                sink(out);
                ++written;
                // Base e and sample e + 1 are done with.
                while (!moving.empty() && moving.front().first <= e + 1)
                    moving.pop_front();
            }
        }
        // Kept: the bases still to be written (or only the last frame when the
        // bases are decoded again), and the sample whose next comes next.
        samples.dropBefore(keepBases ? std::max(1, i - N) : i);
    }
    return written;
}

// A strobe image kept in sparse form, with the outcome of writing its PNG
// file: an image whose file could not be written is not used, as one that
// cannot be read back would not be.
struct StrobeImage {
    int offset = 0;
    SparsePixels pixels;
    std::shared_future<bool> written;
};

// Writes the PNG files on threads of their own (PNG encoding costs more than
// anything else in a Type B movie); the composition goes on meanwhile and
// waits for a file's outcome only before handing over a frame that uses the
// image. Few images wait, so memory stays bounded.
class PngWriter
{
public:
    PngWriter()
    {
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
        for (unsigned i = 0; i < threads; ++i)
            threads_.emplace_back([this] { run(); });
    }
    ~PngWriter()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        for (std::thread& t : threads_)
            t.join();
    }
    std::shared_future<bool> write(std::shared_ptr<const StrobeImage> image)
    {
        std::promise<bool> promise;
        std::shared_future<bool> result = promise.get_future().share();
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return queue_.size() < kQueued; });
        queue_.emplace_back(std::move(image), std::move(promise));
        changed_.notify_all();
        return result;
    }

private:
    static constexpr size_t kQueued = 8;
    void run()
    {
        for (;;) {
            std::pair<std::shared_ptr<const StrobeImage>, std::promise<bool>> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return done_ || !queue_.empty(); });
                if (queue_.empty())
                    return;
                job = std::move(queue_.front());
                queue_.pop_front();
            }
            changed_.notify_all();
            const bool ok = writeStrobeImage(job.first->offset, denseImage(job.first->pixels));
            if (!ok)
                diag("  %s not written\n", strobeImageName(job.first->offset).c_str());
            job.second.set_value(ok);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<std::shared_ptr<const StrobeImage>, std::promise<bool>>> queue_;
    bool done_ = false;
    std::vector<std::thread> threads_;
};

// One pass: each sample is decoded once and its strobe image kept in sparse
// form (and written as its PNG file); each range frame is composed as soon as
// every strobe image it needs exists. Range frames that are samples are not
// decoded again. The progress lines come out in the order of the two passes
// of the plain composition: the second pass's lines are held back until the
// first pass's are done.
int composeStrobeTypeB(const StrobePlan& plan, const StrobeFrameSource& source,
                       const StrobeFrameSink& sink)
{
    const int step = plan.step;
    const int R = plan.end - plan.start;
    const int K = strobeSampleSteps(R, step);
    std::error_code ignored;
    std::filesystem::create_directories("temp", ignored);

    using ImagePtr = std::shared_ptr<const StrobeImage>;
    std::vector<int> imageOffsets;
    std::deque<std::pair<int, ImagePtr>> images; // by position in imageOffsets
    FrameWindow samples;
    bool imagesDone = K < 2;
    std::string heldBack;
    auto progress = [&](int X) {
        if (imagesDone) {
            diag("%d/%d\r", X, R);
        } else {
            char line[32];
            std::snprintf(line, sizeof line, "%d/%d\r", X, R);
            heldBack += line;
        }
    };
    auto finishImages = [&] {
        imagesDone = true;
        diag("\n");
        if (!heldBack.empty()) {
            diag("%s", heldBack.c_str());
            heldBack.clear();
        }
    };
    if (imagesDone)
        diag("\n");

    auto overlay = [&](cv::Mat& out, const std::vector<ImagePtr>& use) {
        size_t entries = 0;
        for (const ImagePtr& image : use)
            entries += image->pixels.count();
        overRows(out.rows, entries, [&](int y0, int y1) {
            for (const ImagePtr& image : use)
                copySparse(out, image->pixels, y0, y1);
        });
    };

    // Composed frames wait here until the PNG files of their images are known
    // to be written; the few newest are kept, the oldest handed over.
    struct Pending {
        cv::Mat plain;
        cv::Mat composed;
        std::vector<ImagePtr> used;
    };
    std::deque<Pending> pending;
    constexpr size_t kPending = 3;
    int written = 0;
    auto handOver = [&](bool all) {
        while (!pending.empty() && (all || pending.size() > kPending)) {
            Pending& p = pending.front();
            std::vector<ImagePtr> usable;
            for (const ImagePtr& image : p.used)
                if (image->written.get())
                    usable.push_back(image);
            if (usable.size() != p.used.size()) {
                p.plain.copyTo(p.composed);
                overlay(p.composed, usable);
            }
            sink(p.composed);
            ++written;
            pending.pop_front();
        }
    };

    int X = 0;
    // Composes the range frames whose strobe images all exist; false when a
    // frame cannot be decoded (the movie ends there).
    auto composeReady = [&](int samplesWithImages) -> bool {
        for (; X < R; ++X) {
            if (!imagesDone && X / step > samplesWithImages)
                return true;
            progress(X);
            Pending p;
            const cv::Mat* kept = X % step == 0 ? samples.find(X / step) : nullptr;
            if (kept)
                p.plain = kept->clone();
            else if (!source(1, plan.start + X, p.plain))
                return false;
            int first = 0, end = 0;
            strobeImagesForFrame(imageOffsets, X, plan.number, &first, &end);
            while (!images.empty() && images.front().first < first)
                images.pop_front();
            for (const auto& [index, image] : images)
                if (index < end)
                    p.used.push_back(image);
            p.composed = p.plain.clone();
            overlay(p.composed, p.used);
            pending.push_back(std::move(p));
            handOver(false);
        }
        return true;
    };

    {
        PngWriter pngs;
        // A range frame that cannot be decoded ends the movie, but the strobe
        // images are all still made, as the first pass would make them.
        bool outputsEnded = false;
        if (!imagesDone) {
            ReadAhead reader([&](int k, cv::Mat& f) { return source(0, plan.start + k * step, f); },
                             K + 1);
            for (int i = 0; i <= K; ++i) {
                if (i >= 2)
                    diag("%d/%d\r", i - 1, K);
                cv::Mat frame;
                if (!reader.next(frame))
                    break;
                samples.put(i, frame);
                if (i >= 2) {
                    const int V = i - 1;
                    auto image = std::make_shared<StrobeImage>();
                    image->offset = V * step;
                    image->pixels =
                        strobePixels(*samples.find(V - 1), *samples.find(V), frame, plan.threshold);
                    image->written = pngs.write(image);
                    imageOffsets.push_back(V * step);
                    images.emplace_back(static_cast<int>(imageOffsets.size()) - 1,
                                        std::move(image));
                }
                if (i == K)
                    break;
                // Frames up to sample i - 1 have all their strobe images once
                // image i - 1 exists (there is none for sample 0).
                if (i >= 1 && !outputsEnded && !composeReady(i - 1))
                    outputsEnded = true;
                samples.dropBefore(i - 1);
            }
            finishImages();
        }
        if (!outputsEnded)
            composeReady(K);
        handOver(true);
    }
    return written;
}

int writeStrobeMovie(int type, const StrobePlan& plan, cv::VideoCapture* const captures[3],
                     MjpegAviWriter& writer, cv::Size size)
{
    const StrobeFrameSource source = [captures](int slot, int index, cv::Mat& frame) {
        return readMovieFrame(*captures[slot], index, frame);
    };
    // The writer encodes the composed frames on its own threads while the next
    // ones are composed; they are never changed again, so it needs no copy.
    const StrobeFrameSink sink = [&writer, size](const cv::Mat& frame) {
        writer.writeShared(fitToFrameSize(frame, size));
    };
    return type == 0 ? composeStrobeTypeA(plan, source, sink)
                     : composeStrobeTypeB(plan, source, sink);
}
