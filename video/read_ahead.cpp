#include "video/read_ahead.h"

#include <exception>
#include <utility>

#include "video/diagnostics.h"

ReadAhead::ReadAhead(Read read, int count)
    : read_(std::move(read)), count_(count), thread_([this] { run(); })
{
}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool ReadAhead::next(cv::Mat& frame)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
    if (ready_.empty())
        return false;
    frame = std::move(ready_.front());
    ready_.pop_front();
    changed_.notify_all();
    return true;
}

void ReadAhead::run()
{
    for (int i = 0; i < count_; ++i) {
        {
            // Wait for room before reading, so that no more than kAhead
            // frames are ever decoded ahead and none after a stop.
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || ready_.size() < kAhead; });
            if (stop_)
                break;
        }
        cv::Mat frame;
        bool ok = false;
        try {
            ok = read_(i, frame);
        } catch (const std::exception& e) {
            diag("  frame %d: %s\n", i, e.what());
        }
        if (!ok)
            break;
        std::lock_guard<std::mutex> lock(mutex_);
        ready_.push_back(std::move(frame));
        changed_.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}
