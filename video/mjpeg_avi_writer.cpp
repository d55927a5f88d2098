#include "video/mjpeg_avi_writer.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include <opencv2/imgcodecs.hpp>

#include "video/diagnostics.h"

namespace
{

// Room for this many segments' indexes is kept in the header: 256 GiB of
// movie at the standard segment size.
constexpr uint32_t kSuperIndexEntries = 256;
constexpr uint32_t kAvihFlags = 0x10; // AVIF_HASINDEX
constexpr uint32_t kKeyFrame = 0x10;  // AVIIF_KEYFRAME
constexpr int kDmlhBytes = 248;

} // namespace

MjpegAviWriter::~MjpegAviWriter()
{
    release();
}

void MjpegAviWriter::putTag(const char* tag)
{
    file_.write(tag, 4);
}

void MjpegAviWriter::put32(uint32_t v)
{
    const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff),
                       char((v >> 24) & 0xff)};
    file_.write(b, 4);
}

void MjpegAviWriter::put16(uint16_t v)
{
    const char b[2] = {char(v & 0xff), char((v >> 8) & 0xff)};
    file_.write(b, 2);
}

void MjpegAviWriter::put64(uint64_t v)
{
    put32(uint32_t(v & 0xffffffffu));
    put32(uint32_t(v >> 32));
}

uint64_t MjpegAviWriter::tell()
{
    return static_cast<uint64_t>(file_.tellp());
}

void MjpegAviWriter::patch32(uint64_t at, uint32_t v)
{
    const auto back = file_.tellp();
    file_.seekp(static_cast<std::streamoff>(at));
    put32(v);
    file_.seekp(back);
}

bool MjpegAviWriter::open(const std::string& path, double fps, cv::Size size)
{
    release();
    if (!std::isfinite(fps) || fps <= 0.0 || size.width <= 0 || size.height <= 0)
        return false;
    // The rate as a fraction with a denominator of 1000, reduced, so that
    // 30 fps reads back as 30 and 29.97 as 29.97.
    const long long rate = std::llround(fps * 1000.0);
    if (rate <= 0 || rate > 0xffffffffLL)
        return false;
    const long long common = std::gcd(rate, 1000LL);
    rate_ = static_cast<uint32_t>(rate / common);
    scale_ = static_cast<uint32_t>(1000 / common);

    file_.open(path, std::ios::binary | std::ios::trunc);
    if (!file_.is_open())
        return false;
    size_ = size;
    failed_ = false;
    segments_ = 0;
    totalFrames_ = 0;
    firstSegmentFrames_ = 0;
    largestFrame_ = 0;
    segmentIndex_.clear();
    firstIndex_.clear();
    superIndex_.clear();
    writeHeaders();
    startSegment();
    if (!file_) {
        file_.close();
        return false;
    }

    nextQueued_ = nextWritten_ = 0;
    stopping_ = false;
    lastJpeg_.clear();
    lastSizesAt_ = std::chrono::steady_clock::now();
    opened_ = true;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned threads = std::min(cores, 4u);
    for (unsigned i = 0; i < threads; ++i)
        encoders_.emplace_back([this] { encodeLoop(); });
    return true;
}

void MjpegAviWriter::writeHeaders()
{
    const uint32_t w = static_cast<uint32_t>(size_.width);
    const uint32_t h = static_cast<uint32_t>(size_.height);

    putTag("RIFF");
    riffStart_ = 0;
    put32(0);
    putTag("AVI ");

    putTag("LIST");
    const uint64_t hdrlSize = tell();
    put32(0);
    putTag("hdrl");

    putTag("avih");
    put32(56);
    put32(static_cast<uint32_t>(std::llround(1e6 * scale_ / rate_))); // microseconds per frame
    put32(0);                                                         // max bytes per second
    put32(0);                                                         // padding granularity
    put32(kAvihFlags);
    avihFramesAt_ = tell();
    put32(0); // frames in the first segment
    put32(0); // initial frames
    put32(1); // streams
    avihBufferAt_ = tell();
    put32(0); // suggested buffer size
    put32(w);
    put32(h);
    for (int i = 0; i < 4; ++i)
        put32(0);

    putTag("LIST");
    const uint64_t strlSize = tell();
    put32(0);
    putTag("strl");

    putTag("strh");
    put32(56);
    putTag("vids");
    putTag("MJPG");
    put32(0); // flags
    put16(0); // priority
    put16(0); // language
    put32(0); // initial frames
    put32(scale_);
    put32(rate_);
    put32(0); // start
    strhLengthAt_ = tell();
    put32(0); // length in frames
    strhBufferAt_ = tell();
    put32(0);          // suggested buffer size
    put32(0xffffffff); // quality: the codec's default
    put32(0);          // sample size: frames vary
    put16(0);
    put16(0);
    put16(static_cast<uint16_t>(std::min<uint32_t>(w, 0xffff)));
    put16(static_cast<uint16_t>(std::min<uint32_t>(h, 0xffff)));

    putTag("strf");
    put32(40);
    put32(40);
    put32(w);
    put32(h);
    put16(1);  // planes
    put16(24); // bits per pixel
    putTag("MJPG");
    put32(w * h * 3);
    for (int i = 0; i < 4; ++i)
        put32(0);

    // The OpenDML index of the segment indexes, filled in when the file is
    // complete.
    putTag("indx");
    put32(24 + 16 * kSuperIndexEntries);
    superIndexAt_ = tell();
    put16(4);     // longs per entry
    file_.put(0); // sub-type
    file_.put(0); // AVI_INDEX_OF_INDEXES
    put32(0);     // entries in use
    putTag("00dc");
    for (int i = 0; i < 3; ++i)
        put32(0);
    const std::vector<char> empty(16 * kSuperIndexEntries, 0);
    file_.write(empty.data(), static_cast<std::streamsize>(empty.size()));
    patch32(strlSize, static_cast<uint32_t>(tell() - strlSize - 4));

    putTag("LIST");
    const uint64_t odmlSize = tell();
    put32(0);
    putTag("odml");
    putTag("dmlh");
    put32(kDmlhBytes);
    dmlhFramesAt_ = tell();
    const std::vector<char> dmlh(kDmlhBytes, 0);
    file_.write(dmlh.data(), kDmlhBytes);
    patch32(odmlSize, static_cast<uint32_t>(tell() - odmlSize - 4));
    patch32(hdrlSize, static_cast<uint32_t>(tell() - hdrlSize - 4));
}

void MjpegAviWriter::startSegment()
{
    if (segments_ > 0) {
        riffStart_ = tell();
        putTag("RIFF");
        put32(0);
        putTag("AVIX");
    }
    moviStart_ = tell();
    putTag("LIST");
    put32(0);
    putTag("movi");
    ++segments_;
}

void MjpegAviWriter::finishSegment()
{
    // The segment's own index ends its movi list.
    const uint64_t ixAt = tell();
    const uint32_t n = static_cast<uint32_t>(segmentIndex_.size());
    putTag("ix00");
    put32(24 + 8 * n);
    put16(2);     // longs per entry
    file_.put(0); // sub-type
    file_.put(1); // AVI_INDEX_OF_CHUNKS
    put32(n);
    putTag("00dc");
    put64(riffStart_);
    put32(0);
    for (const IndexEntry& e : segmentIndex_) {
        put32(static_cast<uint32_t>(e.offset - riffStart_));
        put32(e.size);
    }
    patch32(moviStart_ + 4, static_cast<uint32_t>(tell() - moviStart_ - 8));

    if (segments_ == 1) {
        // The classic index, for the first segment only; its offsets count
        // from the "movi" tag to each chunk's header.
        putTag("idx1");
        put32(16 * static_cast<uint32_t>(firstIndex_.size()));
        for (const IndexEntry& e : firstIndex_) {
            putTag("00dc");
            put32(kKeyFrame);
            put32(static_cast<uint32_t>(e.offset - 8 - (moviStart_ + 8)));
            put32(e.size);
        }
        firstSegmentFrames_ = static_cast<int>(firstIndex_.size());
        firstIndex_.clear();
        firstIndex_.shrink_to_fit();
    }
    patch32(riffStart_ + 4, static_cast<uint32_t>(tell() - riffStart_ - 8));
    superIndex_.push_back({ixAt, 8 + 24 + 8 * n, n});
    segmentIndex_.clear();
}

void MjpegAviWriter::appendFrame(const std::vector<uchar>& jpeg)
{
    if (jpeg.empty() || jpeg.size() > 0x7fffffffu) {
        failed_ = true;
        diag("  frame %d not encoded\n", totalFrames_);
        return;
    }
    const uint32_t size = static_cast<uint32_t>(jpeg.size());
    const uint64_t chunk = 8 + size + (size & 1);
    const uint64_t indexes = 32 + 8 * (segmentIndex_.size() + 1) +
                             (segments_ == 1 ? 8 + 16 * (firstIndex_.size() + 1) : 0);
    if (!segmentIndex_.empty() && tell() - riffStart_ + chunk + indexes > segmentLimit_) {
        if (superIndex_.size() + 1 >= kSuperIndexEntries) {
            failed_ = true;
            diag("  movie too long, frame %d left out\n", totalFrames_);
            return;
        }
        finishSegment();
        startSegment();
    }
    putTag("00dc");
    put32(size);
    const uint64_t at = tell();
    file_.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(size));
    if (size & 1)
        file_.put(0);
    segmentIndex_.push_back({at, size});
    if (segments_ == 1)
        firstIndex_.push_back({at, size});
    largestFrame_ = std::max(largestFrame_, size);
    ++totalFrames_;
    if (&jpeg != &lastJpeg_)
        lastJpeg_.assign(jpeg.begin(), jpeg.end());
    // Handed to the system at once, and the sizes in the headers kept up
    // about once a second: a process killed mid-movie (a recording running
    // at logout) leaves a file that players read up to its last second.
    file_.flush();
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSizesAt_ >= std::chrono::milliseconds(500)) {
        recordSizes();
        lastSizesAt_ = now;
    }
    if (!file_) {
        failed_ = true;
        diag("  frame %d could not be written\n", totalFrames_ - 1);
    }
}

void MjpegAviWriter::recordSizes()
{
    const uint64_t end = tell();
    patch32(riffStart_ + 4, static_cast<uint32_t>(end - riffStart_ - 8));
    patch32(moviStart_ + 4, static_cast<uint32_t>(end - moviStart_ - 8));
    if (segments_ == 1)
        patch32(avihFramesAt_, static_cast<uint32_t>(totalFrames_));
    patch32(strhLengthAt_, static_cast<uint32_t>(totalFrames_));
    patch32(dmlhFramesAt_, static_cast<uint32_t>(totalFrames_));
    file_.flush();
}

void MjpegAviWriter::encodeLoop()
{
    const std::vector<int> params = {cv::IMWRITE_JPEG_QUALITY, kQuality};
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        std::vector<uchar> jpeg;
        if (job.repeat) {
            encoded_.emplace(job.sequence, Encoded{std::move(jpeg), true});
            appendReady(lock);
            continue;
        }
        if (!spareJpegs_.empty()) {
            jpeg = std::move(spareJpegs_.back());
            spareJpegs_.pop_back();
        }
        lock.unlock();
        try {
            if (!cv::imencode(".jpg", job.frame, jpeg, params))
                jpeg.clear();
        } catch (const cv::Exception&) {
            jpeg.clear();
        }
        lock.lock();
        // Only the writer's own copies are used again; a shared frame stays
        // its owner's.
        if (job.own)
            spareFrames_.push_back(std::move(job.frame));
        else
            job.frame.release();
        encoded_.emplace(job.sequence, Encoded{std::move(jpeg), false});
        appendReady(lock);
    }
}

void MjpegAviWriter::appendReady(std::unique_lock<std::mutex>& lock)
{
    // Frames go into the file in order, one thread at a time; the others go
    // on encoding meanwhile.
    while (!appending_) {
        auto next = encoded_.find(nextWritten_);
        if (next == encoded_.end())
            break;
        Encoded data = std::move(next->second);
        encoded_.erase(next);
        appending_ = true;
        lock.unlock();
        if (!data.repeat)
            appendFrame(data.jpeg);
        else if (!lastJpeg_.empty())
            appendFrame(lastJpeg_);
        lock.lock();
        spareJpegs_.push_back(std::move(data.jpeg));
        appending_ = false;
        ++nextWritten_;
    }
    changed_.notify_all();
}

bool MjpegAviWriter::acceptable(const cv::Mat& frame)
{
    if (!isOpened())
        return false;
    if (frame.size() != size_ || frame.type() != CV_8UC3) {
        failed_ = true;
        diag("  frame of %dx%d type %d not written to a %dx%d movie\n", frame.cols, frame.rows,
             frame.type(), size_.width, size_.height);
        return false;
    }
    return true;
}

void MjpegAviWriter::enqueueLocked(cv::Mat frame, bool own, bool repeat)
{
    queue_.push_back({nextQueued_++, std::move(frame), own, repeat});
    changed_.notify_all();
}

bool MjpegAviWriter::tryWriteShared(const cv::Mat& frame)
{
    if (!acceptable(frame))
        return true; // refused for good, not for now: no point repeating it
    // A caller that never waits runs for as long as a recording does: the
    // frames it leaves here are held to about 24 MiB (three at 1080p), and
    // when the encoders are that far behind it repeats a frame instead.
    const int64_t bytes = static_cast<int64_t>(frame.total() * frame.elemSize());
    const int64_t limit = std::clamp<int64_t>((int64_t(24) << 20) / bytes, 2, waitingLimit());
    std::lock_guard<std::mutex> lock(mutex_);
    if (nextQueued_ - nextWritten_ >= limit)
        return false;
    enqueueLocked(frame, false, false);
    return true;
}

void MjpegAviWriter::repeatLast()
{
    if (!isOpened())
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    enqueueLocked(cv::Mat(), false, true);
}

void MjpegAviWriter::enqueue(const cv::Mat& frame, bool copy)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return nextQueued_ - nextWritten_ < waitingLimit(); });
    cv::Mat queued;
    if (copy) {
        if (!spareFrames_.empty()) {
            queued = std::move(spareFrames_.back());
            spareFrames_.pop_back();
        }
        lock.unlock();
        frame.copyTo(queued);
        lock.lock();
    } else {
        queued = frame;
    }
    enqueueLocked(std::move(queued), copy, false);
}

void MjpegAviWriter::write(const cv::Mat& frame)
{
    if (acceptable(frame))
        enqueue(frame, true);
}

void MjpegAviWriter::writeShared(const cv::Mat& frame)
{
    if (acceptable(frame))
        enqueue(frame, false);
}

void MjpegAviWriter::stopEncoders()
{
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return nextWritten_ == nextQueued_; });
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : encoders_)
        t.join();
    encoders_.clear();
    encoded_.clear();
    spareFrames_.clear();
    spareJpegs_.clear();
}

bool MjpegAviWriter::release()
{
    if (!isOpened())
        return !failed_;
    opened_ = false;
    stopEncoders();
    finishSegment();
    patch32(avihFramesAt_, static_cast<uint32_t>(firstSegmentFrames_));
    patch32(avihBufferAt_, largestFrame_ + 8);
    patch32(strhLengthAt_, static_cast<uint32_t>(totalFrames_));
    patch32(strhBufferAt_, largestFrame_ + 8);
    patch32(dmlhFramesAt_, static_cast<uint32_t>(totalFrames_));
    patch32(superIndexAt_ + 4, static_cast<uint32_t>(superIndex_.size()));
    file_.seekp(static_cast<std::streamoff>(superIndexAt_ + 24));
    for (const SuperEntry& e : superIndex_) {
        put64(e.offset);
        put32(e.size);
        put32(e.frames);
    }
    file_.flush();
    if (!file_)
        failed_ = true;
    file_.close();
    if (file_.fail())
        failed_ = true;
    file_.clear();
    if (failed_)
        diag("  movie not completely written\n");
    return !failed_;
}
