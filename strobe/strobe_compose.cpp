#include "strobe/strobe_compose.h"

#include <algorithm>
#include <atomic>
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

#include "strobe/strobe_layer_store.h"
#include "strobe/strobe_rules.h"
#include "strobe/strobe_sparse.h"
#include "video/diagnostics.h"
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

// Type A's output frame of base e into `out`: the base with the moving pixels
// of samples e + 1 to e + N laid over. False when the base cannot be decoded
// again or a layer cannot be read back.
bool composeBase(const StrobePlan& plan, const StrobeFrameSource& source,
                 const FrameWindow& samples, LayerStore& moving, bool keepBases, int e,
                 cv::Mat& out)
{
    if (keepBases) {
        // Base e is not needed again: its frame becomes the output
        // frame, without a copy.
        out = *samples.find(e);
    } else {
        out.release(); // the sink may keep the previous one
        if (!source(1, plan.start + e * plan.step, out))
            return false;
    }
    return moving.layOver(out, e + 1, e + plan.number + 1, plan.threshold);
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
    LayerStore moving(plan.layerBudgetBytes); // by sample index
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
            const std::shared_ptr<const Layer> layer =
                moving.put(m, movingPixels(*samples.find(m), *samples.find(i), plan.threshold));
            if (m <= N) {
                // Build-up on base 0: samples 1 to m laid over.
                if (m == 1)
                    diag("%d/%d\r", 0, K - N);
                // The sink may keep the frame it was given: go on in a copy.
                accumulated = accumulated.clone();
                layOver(accumulated, *layer, plan.threshold, 0, accumulated.rows);
                sink(accumulated);
                ++written;
            }
            const int e = m - N;
            if (e >= 1) {
                diag("%d/%d\r", e, K - N);
                if (!composeBase(plan, source, samples, moving, keepBases, e, out))
                    return written;
                sink(out);
                ++written;
                // Base e and sample e + 1 are done with.
                moving.dropBefore(e + 2);
            }
        }
        // Kept: the bases still to be written (or only the last frame when the
        // bases are decoded again), and the sample whose next comes next.
        samples.dropBefore(keepBases ? std::max(1, i - N) : i);
    }
    return written;
}

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
    // The layer is held until its file is written, wherever the composition
    // keeps its own copy.
    std::shared_future<bool> write(int offset, std::shared_ptr<const Layer> image)
    {
        Job job{offset, std::move(image), {}};
        std::shared_future<bool> result = job.written.get_future().share();
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return queue_.size() < kQueued; });
        queue_.push_back(std::move(job));
        changed_.notify_all();
        return result;
    }

private:
    static constexpr size_t kQueued = 8;
    struct Job {
        int offset;
        std::shared_ptr<const Layer> image;
        std::promise<bool> written;
    };
    void run()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return done_ || !queue_.empty(); });
                if (queue_.empty())
                    return;
                job = std::move(queue_.front());
                queue_.pop_front();
            }
            changed_.notify_all();
            const bool ok = writeStrobeImage(job.offset, layerImage(*job.image));
            if (!ok)
                diag("  %s not written\n", strobeImageName(job.offset).c_str());
            job.written.set_value(ok);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    bool done_ = false;
    std::vector<std::thread> threads_;
};

namespace
{

// One Type B composition, run once: the strobe images made so far, the
// samples still needed and the composed frames waiting to be handed over.
class TypeBComposition
{
public:
    TypeBComposition(const StrobePlan& plan, const StrobeFrameSource& source,
                     const StrobeFrameSink& sink)
        : plan_(plan), source_(source), sink_(sink), step_(plan.step), R_(plan.end - plan.start),
          K_(strobeSampleSteps(R_, step_)), images_(plan.layerBudgetBytes), imagesDone_(K_ < 2)
    {
    }

    // Returns the frames written.
    int run()
    {
        std::error_code ignored;
        std::filesystem::create_directories("temp", ignored);
        if (imagesDone_)
            diag("\n");
        {
            PngWriter pngs;
            // A range frame that cannot be decoded ends the movie, but the strobe
            // images are all still made, as the first pass would make them.
            const bool outputsEnded = !imagesDone_ && makeImages(pngs);
            if (!outputsEnded)
                composeReady(K_);
            handOver(true);
        }
        return written_;
    }

private:
    // Composed frames wait here until the PNG files of their images are known
    // to be written; the few newest are kept, the oldest handed over. The
    // images stay in the store until no waiting frame uses them.
    struct Pending {
        cv::Mat plain;
        cv::Mat composed;
        int first = 0, end = 0; // the images used
    };
    static constexpr size_t kPending = 3;

    void progress(int X)
    {
        if (imagesDone_) {
            diag("%d/%d\r", X, R_);
        } else {
            char line[32];
            std::snprintf(line, sizeof line, "%d/%d\r", X, R_);
            heldBack_ += line;
        }
    }

    void finishImages()
    {
        imagesDone_ = true;
        diag("\n");
        if (!heldBack_.empty()) {
            diag("%s", heldBack_.c_str());
            heldBack_.clear();
        }
    }

    bool isWritten(int j) const { return imageWritten_[static_cast<size_t>(j)].get(); }

    // False when an image cannot be read back: the movie ends before that
    // frame.
    bool handOver(bool all)
    {
        while (!pending_.empty() && (all || pending_.size() > kPending)) {
            Pending& p = pending_.front();
            bool allWritten = true;
            for (int j = p.first; j < p.end; ++j)
                allWritten = allWritten && isWritten(j);
            if (!allWritten) {
                p.plain.copyTo(p.composed);
                for (int j = p.first; j < p.end; ++j)
                    if (isWritten(j) && !images_.layOver(p.composed, j, j + 1, 0)) {
                        pending_.clear();
                        return false;
                    }
            }
            sink_(p.composed);
            ++written_;
            pending_.pop_front();
            if (!pending_.empty())
                images_.dropBefore(pending_.front().first);
        }
        return true;
    }

    // Composes the range frames whose strobe images all exist; false when a
    // frame cannot be decoded (the movie ends there).
    bool composeReady(int samplesWithImages)
    {
        for (; X_ < R_; ++X_) {
            if (!imagesDone_ && X_ / step_ > samplesWithImages)
                return true;
            progress(X_);
            Pending p;
            const cv::Mat* kept = X_ % step_ == 0 ? samples_.find(X_ / step_) : nullptr;
            if (kept)
                p.plain = kept->clone();
            else if (!source_(1, plan_.start + X_, p.plain))
                return false;
            strobeImagesForFrame(imageOffsets_, X_, plan_.number, &p.first, &p.end);
            p.composed = p.plain.clone();
            if (!images_.layOver(p.composed, p.first, p.end, 0))
                return false;
            pending_.push_back(std::move(p));
            if (!handOver(false))
                return false;
        }
        return true;
    }

    // The strobe image of sample V, whose next sample is `next`.
    void makeImage(PngWriter& pngs, int V, const cv::Mat& next)
    {
        imageOffsets_.push_back(V * step_);
        imageWritten_.push_back(
            pngs.write(V * step_, images_.put(static_cast<int>(imageOffsets_.size()) - 1,
                                              strobePixels(*samples_.find(V - 1), *samples_.find(V),
                                                           next, plan_.threshold))));
    }

    // Decodes the samples and makes their strobe images, composing the range
    // frames as their images come; true when the movie ended before the last
    // range frame.
    bool makeImages(PngWriter& pngs)
    {
        bool outputsEnded = false;
        ReadAhead reader([&](int k, cv::Mat& f) { return source_(0, plan_.start + k * step_, f); },
                         K_ + 1);
        for (int i = 0; i <= K_; ++i) {
            if (i >= 2)
                diag("%d/%d\r", i - 1, K_);
            cv::Mat frame;
            if (!reader.next(frame))
                break;
            samples_.put(i, frame);
            if (i >= 2)
                makeImage(pngs, i - 1, frame);
            if (i == K_)
                break;
            // Frames up to sample i - 1 have all their strobe images once
            // image i - 1 exists (there is none for sample 0).
            if (i >= 1 && !outputsEnded && !composeReady(i - 1))
                outputsEnded = true;
            samples_.dropBefore(i - 1);
        }
        finishImages();
        return outputsEnded;
    }

    const StrobePlan& plan_;
    const StrobeFrameSource& source_;
    const StrobeFrameSink& sink_;
    const int step_;
    const int R_;
    const int K_;
    // By position in imageOffsets_: the strobe images and whether their PNG
    // files were written. Copying a strobe image's set pixels is laying it
    // over with threshold 0.
    std::vector<int> imageOffsets_;
    LayerStore images_;
    std::vector<std::shared_future<bool>> imageWritten_;
    FrameWindow samples_;
    bool imagesDone_;
    std::string heldBack_;
    std::deque<Pending> pending_;
    int written_ = 0;
    int X_ = 0; // the next range frame to compose
};

} // namespace

// One pass: each sample is decoded once and its strobe image kept as a layer
// (and written as its PNG file); each range frame is composed as soon as
// every strobe image it needs exists. Range frames that are samples are not
// decoded again. The progress lines come out in the order of the two passes
// of the plain composition: the second pass's lines are held back until the
// first pass's are done.
int composeStrobeTypeB(const StrobePlan& plan, const StrobeFrameSource& source,
                       const StrobeFrameSink& sink)
{
    return TypeBComposition(plan, source, sink).run();
}

int writeStrobeMovie(int type, const StrobePlan& plan, cv::VideoCapture* const captures[3],
                     MjpegAviWriter& writer, cv::Size size,
                     const std::function<bool(int)>& keepGoing)
{
    // Set on the composing thread, read by the one decoding ahead.
    std::atomic<bool> stop{false};
    const StrobeFrameSource source = [captures, &stop](int slot, int index, cv::Mat& frame) {
        return !stop && readMovieFrame(*captures[slot], index, frame);
    };
    // The writer encodes the composed frames on its own threads while the next
    // ones are composed; they are never changed again, so it needs no copy.
    int handed = 0;
    const StrobeFrameSink sink = [&](const cv::Mat& frame) {
        writer.writeShared(fitToFrameSize(frame, size));
        if (keepGoing && !keepGoing(++handed))
            stop = true;
    };
    return type == 0 ? composeStrobeTypeA(plan, source, sink)
                     : composeStrobeTypeB(plan, source, sink);
}
