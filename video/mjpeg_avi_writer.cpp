#include "video/mjpeg_avi_writer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <ostream>
#include <vector>

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

// RIFF is little-endian whatever the machine.
void putLe32(std::ostream& out, uint32_t v)
{
    const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff),
                       char((v >> 24) & 0xff)};
    out.write(b, 4);
}

void putLe16(std::ostream& out, uint16_t v)
{
    const char b[2] = {char(v & 0xff), char((v >> 8) & 0xff)};
    out.write(b, 2);
}

void putFourcc(std::ostream& out, const char* tag)
{
    out.write(tag, 4);
}

void putZeros(std::ostream& out, size_t bytes)
{
    const std::vector<char> zeros(bytes, 0);
    out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
}

uint64_t tellOf(std::ostream& out)
{
    return static_cast<uint64_t>(out.tellp());
}

void patchLe32(std::ostream& out, uint64_t at, uint32_t v)
{
    const auto back = out.tellp();
    out.seekp(static_cast<std::streamoff>(at));
    putLe32(out, v);
    out.seekp(back);
}

// Starts a LIST of `type`; returns where its size goes, for endList.
uint64_t beginList(std::ostream& out, const char* type)
{
    putFourcc(out, "LIST");
    const uint64_t sizeAt = tellOf(out);
    putLe32(out, 0);
    putFourcc(out, type);
    return sizeAt;
}

void endList(std::ostream& out, uint64_t sizeAt)
{
    patchLe32(out, sizeAt, static_cast<uint32_t>(tellOf(out) - sizeAt - 4));
}

// Where the header fields that are only known later lie in the file.
struct HeaderFields {
    uint64_t avihFrames = 0, avihBuffer = 0;
    uint64_t strhLength = 0, strhBuffer = 0;
    uint64_t superIndex = 0;
    uint64_t dmlhFrames = 0;
};

void putAvih(std::ostream& out, uint32_t rate, uint32_t scale, uint32_t w, uint32_t h,
             HeaderFields& at)
{
    putFourcc(out, "avih");
    putLe32(out, 56);
    putLe32(out, static_cast<uint32_t>(std::llround(1e6 * scale / rate))); // microseconds per frame
    putLe32(out, 0);                                                       // max bytes per second
    putLe32(out, 0);                                                       // padding granularity
    putLe32(out, kAvihFlags);
    at.avihFrames = tellOf(out);
    putLe32(out, 0); // frames in the first segment
    putLe32(out, 0); // initial frames
    putLe32(out, 1); // streams
    at.avihBuffer = tellOf(out);
    putLe32(out, 0); // suggested buffer size
    putLe32(out, w);
    putLe32(out, h);
    for (int i = 0; i < 4; ++i)
        putLe32(out, 0);
}

void putStrh(std::ostream& out, uint32_t rate, uint32_t scale, uint32_t w, uint32_t h,
             HeaderFields& at)
{
    putFourcc(out, "strh");
    putLe32(out, 56);
    putFourcc(out, "vids");
    putFourcc(out, "MJPG");
    putLe32(out, 0); // flags
    putLe16(out, 0); // priority
    putLe16(out, 0); // language
    putLe32(out, 0); // initial frames
    putLe32(out, scale);
    putLe32(out, rate);
    putLe32(out, 0); // start
    at.strhLength = tellOf(out);
    putLe32(out, 0); // length in frames
    at.strhBuffer = tellOf(out);
    putLe32(out, 0);          // suggested buffer size
    putLe32(out, 0xffffffff); // quality: the codec's default
    putLe32(out, 0);          // sample size: frames vary
    putLe16(out, 0);
    putLe16(out, 0);
    putLe16(out, static_cast<uint16_t>(std::min<uint32_t>(w, 0xffff)));
    putLe16(out, static_cast<uint16_t>(std::min<uint32_t>(h, 0xffff)));
}

void putStrf(std::ostream& out, uint32_t w, uint32_t h)
{
    putFourcc(out, "strf");
    putLe32(out, 40);
    putLe32(out, 40);
    putLe32(out, w);
    putLe32(out, h);
    putLe16(out, 1);  // planes
    putLe16(out, 24); // bits per pixel
    putFourcc(out, "MJPG");
    putLe32(out, w * h * 3);
    for (int i = 0; i < 4; ++i)
        putLe32(out, 0);
}

// The OpenDML index of the segment indexes, filled in when the file is
// complete.
void putSuperIndex(std::ostream& out, HeaderFields& at)
{
    putFourcc(out, "indx");
    putLe32(out, 24 + 16 * kSuperIndexEntries);
    at.superIndex = tellOf(out);
    putLe16(out, 4); // longs per entry
    out.put(0);      // sub-type
    out.put(0);      // AVI_INDEX_OF_INDEXES
    putLe32(out, 0); // entries in use
    putFourcc(out, "00dc");
    for (int i = 0; i < 3; ++i)
        putLe32(out, 0);
    putZeros(out, 16 * kSuperIndexEntries);
}

void putOdml(std::ostream& out, HeaderFields& at)
{
    const uint64_t odmlSize = beginList(out, "odml");
    putFourcc(out, "dmlh");
    putLe32(out, kDmlhBytes);
    at.dmlhFrames = tellOf(out);
    putZeros(out, kDmlhBytes);
    endList(out, odmlSize);
}

} // namespace

MjpegAviWriter::~MjpegAviWriter()
{
    release();
}

void MjpegAviWriter::putTag(const char* tag)
{
    putFourcc(file_, tag);
}

void MjpegAviWriter::put32(uint32_t v)
{
    putLe32(file_, v);
}

void MjpegAviWriter::put16(uint16_t v)
{
    putLe16(file_, v);
}

void MjpegAviWriter::put64(uint64_t v)
{
    put32(uint32_t(v & 0xffffffffu));
    put32(uint32_t(v >> 32));
}

uint64_t MjpegAviWriter::tell()
{
    return tellOf(file_);
}

void MjpegAviWriter::patch32(uint64_t at, uint32_t v)
{
    patchLe32(file_, at, v);
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

    HeaderFields at;
    const uint64_t hdrlSize = beginList(file_, "hdrl");
    putAvih(file_, rate_, scale_, w, h, at);
    const uint64_t strlSize = beginList(file_, "strl");
    putStrh(file_, rate_, scale_, w, h, at);
    putStrf(file_, w, h);
    putSuperIndex(file_, at);
    endList(file_, strlSize);
    putOdml(file_, at);
    endList(file_, hdrlSize);

    avihFramesAt_ = at.avihFrames;
    avihBufferAt_ = at.avihBuffer;
    strhLengthAt_ = at.strhLength;
    strhBufferAt_ = at.strhBuffer;
    superIndexAt_ = at.superIndex;
    dmlhFramesAt_ = at.dmlhFrames;
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
