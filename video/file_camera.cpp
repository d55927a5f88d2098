#include "video/file_camera.h"

#include <cmath>
#include <cstdio>

#include "video/movie_reader.h"

int fileFrameAt(double elapsedMs, double fps)
{
    if (!(elapsedMs > 0.0) || !(fps > 0.0))
        return 0;
    return static_cast<int>(std::floor(elapsedMs * fps / 1000.0 + 1e-9));
}

FileCamera::FileCamera(std::string path, bool loop, std::function<double()> nowMs)
    : path_(std::move(path)), loop_(loop), nowMs_(std::move(nowMs))
{
}

bool FileCamera::open(int)
{
    try {
        capture_.open(path_);
    } catch (const cv::Exception& e) {
        capture_.release();
        error_ = e.what();
    }
    fps_ = capture_.isOpened() ? capture_.get(cv::CAP_PROP_FPS) : 0.0;
    if (capture_.isOpened() && !(fps_ > 0.0 && std::isfinite(fps_))) {
        // A movie without a rate cannot be played in time.
        error_ = "the movie gives no frame rate";
        capture_.release();
    } else if (!capture_.isOpened() && error_.empty()) {
        error_ = "not a movie that can be read";
    }
    if (!capture_.isOpened())
        std::fprintf(stderr, "%s cannot be played as the camera: %s\n", path_.c_str(),
                     error_.c_str());
    return capture_.isOpened();
}

bool FileCamera::read(cv::Mat& frame)
{
    frame.release();
    if (!capture_.isOpened())
        return false;
    const double now = nowMs_();
    if (!started_) {
        startMs_ = now;
        started_ = true;
    }
    const int wanted = fileFrameAt(now - startMs_, fps_);
    if (wanted < next_ && !last_.empty()) {
        frame = last_; // the loop is faster than the file: the same frame again
        return true;
    }
    // Frames the loop had no time for are passed over without decoding.
    while (next_ < wanted && capture_.grab())
        ++next_;
    cv::Mat decoded;
    if (next_ == wanted && readMovieFrame(capture_, next_, decoded)) {
        ++next_;
        last_ = decoded;
        frame = decoded;
        return true;
    }
    if (!loop_ || next_ == 0) {
        capture_.release(); // the end: as an unplugged camera
        return false;
    }
    // From the start again, timed from this moment.
    capture_.set(cv::CAP_PROP_POS_FRAMES, 0);
    next_ = 0;
    started_ = false;
    restarted_ = true;
    last_.release();
    return read(frame);
}

bool FileCamera::restarted()
{
    const bool was = restarted_;
    restarted_ = false;
    return was;
}
