#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

// Writes Motion JPEG AVI files, encoding the frames with the system's JPEG
// library on several threads while the caller goes on with the next frame.
// OpenCV's writers encode one frame at a time on the caller's thread at about
// three times the cost of decoding it, which made writing the analysed and
// strobe movies the slowest part of making them.
//
// Files past 1 GiB go on in OpenDML extension segments ("AVIX"), each with its
// own index, so a long movie is never cut short; the first segment also
// carries the classic index for players that know no other.
//
// The interface is the part of cv::VideoWriter the movie modes use.
class MjpegAviWriter
{
public:
    MjpegAviWriter() = default;
    ~MjpegAviWriter();
    MjpegAviWriter(const MjpegAviWriter&) = delete;
    MjpegAviWriter& operator=(const MjpegAviWriter&) = delete;

    // Creates `path` for colour frames of `size` at `fps` frames per second
    // (which must be positive). Any file open before is finished first.
    bool open(const std::string& path, double fps, cv::Size size);
    bool isOpened() const { return opened_; }
    // Queues a copy of an 8-bit BGR frame of the opened size (a frame of
    // another size or type is dropped with a diagnostic). Blocks while the
    // encoders are a few frames behind, so memory stays bounded.
    void write(const cv::Mat& frame);
    // The same without the copy, for a frame whose pixels nobody changes
    // afterwards: the writer keeps a reference until it is encoded.
    void writeShared(const cv::Mat& frame);
    // writeShared for a caller that must not wait (the live loop): false,
    // and nothing queued, while the encoders are behind.
    bool tryWriteShared(const cv::Mat& frame);
    // Writes the last frame again, in order, without encoding it: the JPEG
    // data of the frame before it in the file. Never waits. Nothing is
    // written before the first frame.
    void repeatLast();
    // Whether anything could not be written so far (a full disk, a file-size
    // limit); the frames before the failure stay in the file.
    bool failed() const { return failed_; }
    // Waits for every queued frame, completes the indexes and headers and
    // closes the file. Returns false when anything could not be written.
    bool release();

    int framesWritten() const { return totalFrames_; }
    // Bytes after which the next frame starts a new segment; 1 GiB unless a
    // test wants segments of a few frames.
    void setSegmentLimit(uint64_t bytes) { segmentLimit_ = bytes; }

private:
    struct IndexEntry {
        uint64_t offset; // of the chunk's data, from the start of the file
        uint32_t size;
    };

    bool acceptable(const cv::Mat& frame);
    void enqueue(const cv::Mat& frame, bool copy);
    void encodeLoop();
    void appendReady(std::unique_lock<std::mutex>& lock);
    void appendFrame(const std::vector<uchar>& jpeg);
    void startSegment();
    void finishSegment();
    void writeHeaders();
    void putTag(const char* tag);
    void put32(uint32_t v);
    void put16(uint16_t v);
    void put64(uint64_t v);
    void patch32(uint64_t at, uint32_t v);
    uint64_t tell();
    void stopEncoders();

    std::ofstream file_;
    // The caller's view of the file; the stream itself belongs to whichever
    // encoder thread is appending.
    bool opened_ = false;
    cv::Size size_;
    uint32_t rate_ = 30000, scale_ = 1000;
    static constexpr int kQuality = 95;
    uint64_t segmentLimit_ = uint64_t(1) << 30;
    // Set by the encoder threads as well as the caller.
    std::atomic<bool> failed_{false};

    // The file being built.
    uint64_t riffStart_ = 0; // of the current RIFF's size field
    uint64_t moviStart_ = 0; // of the current movi LIST's size field
    uint64_t superIndexAt_ = 0;
    uint64_t avihFramesAt_ = 0, strhLengthAt_ = 0, dmlhFramesAt_ = 0, avihBufferAt_ = 0,
             strhBufferAt_ = 0;
    int segments_ = 0;
    int totalFrames_ = 0;
    int firstSegmentFrames_ = 0;
    uint32_t largestFrame_ = 0;
    std::vector<IndexEntry> segmentIndex_;
    std::vector<IndexEntry> firstIndex_;
    struct SuperEntry {
        uint64_t offset;
        uint32_t size;
        uint32_t frames;
    };
    std::vector<SuperEntry> superIndex_;

    // Encoding: frames wait in `queue_` with their sequence number; encoded
    // frames wait in `encoded_` until every earlier one is in the file.
    std::mutex mutex_;
    std::condition_variable changed_;
    struct Job {
        int64_t sequence;
        cv::Mat frame;
        bool own;    // the writer's copy, to be used again
        bool repeat; // no frame: the previous one's data again
    };
    std::deque<Job> queue_;
    struct Encoded {
        std::vector<uchar> jpeg;
        bool repeat = false; // the previous frame's data again
    };
    std::map<int64_t, Encoded> encoded_;
    // Frame and JPEG buffers are used again: a fresh frame-sized buffer per
    // frame costs the kernel more than copying into it does.
    std::vector<cv::Mat> spareFrames_;
    std::vector<std::vector<uchar>> spareJpegs_;
    int64_t nextQueued_ = 0;
    int64_t nextWritten_ = 0;
    int inFlight_ = 0;
    bool appending_ = false;
    bool stopping_ = false;
    std::vector<std::thread> encoders_;
    // Owned by whichever thread is appending.
    std::vector<uchar> lastJpeg_;
    std::chrono::steady_clock::time_point lastSizesAt_;
    void recordSizes();
    void enqueueLocked(cv::Mat frame, bool own, bool repeat);
    int64_t waitingLimit() const { return 2 * static_cast<int64_t>(encoders_.size()) + 2; }
};
