#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include <opencv2/core.hpp>

// Decodes frames in order on a thread of its own, a few ahead of the one that
// uses them, so that decoding and the work on the frames share the cores
// instead of taking turns. `read(i, frame)` is called for i = 0, 1, ... up to
// count - 1 and stops at the first false: no frame is read past a frame that
// could not be.
class ReadAhead
{
public:
    using Read = std::function<bool(int i, cv::Mat& frame)>;
    ReadAhead(Read read, int count);
    // Stops reading; a read under way is finished first.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next frame, in order; false once a read failed or all were given.
    bool next(cv::Mat& frame);

    // Frames decoded but not yet taken, at most.
    static constexpr size_t kAhead = 3;

private:
    void run();

    Read read_;
    int count_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<cv::Mat> ready_;
    bool stop_ = false;
    bool finished_ = false;
    std::thread thread_; // last: starts once the rest is built
};
