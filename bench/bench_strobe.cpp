#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include "lift_scene.h"
#include "strobe/strobe_compose.h"
#include "strobe/strobe_straightforward.h"
#include "video/movie_reader.h"
#include "video/movie_writer.h"

// Strobe movies over a 300-frame MJPG range of a lift-like scene with the
// defaults (step 1, N 25, error 20): the program's composition and the plain
// one side by side, next to decoding the same 300 frames once: the floor.
//
// Run from a scratch directory: the strobe images go to ./temp and the movies
// to ./out_*.avi.

namespace
{

constexpr int kFrames = 300;

const std::string& movie(cv::Size size)
{
    static std::map<int, std::string> made;
    auto it = made.find(size.width);
    if (it == made.end()) {
        const std::string path = "lift_" + std::to_string(size.width) + ".avi";
        if (!liftscene::write(path, kFrames + 1, size))
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
        it = made.emplace(size.width, path).first;
    }
    return it->second;
}

cv::Size sizeOf(const benchmark::State& state)
{
    return cv::Size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
}

void decodeOnce(benchmark::State& state)
{
    const std::string& path = movie(sizeOf(state));
    for (auto _ : state) {
        cv::VideoCapture capture(path);
        cv::Mat frame;
        int n = 0;
        while (n < kFrames && capture.read(frame))
            ++n;
        benchmark::DoNotOptimize(frame.data);
        if (n != kFrames)
            state.SkipWithError("short movie");
    }
}

std::vector<cv::Mat> decodedFrames(cv::Size size)
{
    std::vector<cv::Mat> frames;
    cv::VideoCapture capture(movie(size));
    cv::Mat frame;
    while (static_cast<int>(frames.size()) < kFrames && capture.read(frame))
        frames.push_back(frame.clone());
    return frames;
}

// Encoding the 300 frames once with the program's writer, the other floor of
// a movie that is written.
void encodeOnce(benchmark::State& state)
{
    const cv::Size size = sizeOf(state);
    const std::vector<cv::Mat> frames = decodedFrames(size);
    for (auto _ : state) {
        MjpegAviWriter writer;
        openMovieWriter(writer, "out_encode.avi", 30.0, size);
        for (const cv::Mat& f : frames)
            writer.write(f);
        writer.release();
    }
}

// The same through OpenCV's FFmpeg Motion JPEG writer, for comparison.
void encodeOnceOpenCV(benchmark::State& state)
{
    const cv::Size size = sizeOf(state);
    const std::vector<cv::Mat> frames = decodedFrames(size);
    for (auto _ : state) {
        cv::VideoWriter writer("out_encode_cv.avi", cv::CAP_FFMPEG, movieFourcc(), 30.0, size);
        for (const cv::Mat& f : frames)
            writer.write(f);
    }
}

// The whole range with the defaults (step 1, N 25, error 20); Type B's strobe
// images go to ./temp.
StrobePlan defaultPlan()
{
    std::filesystem::create_directories("temp");
    StrobePlan plan;
    plan.start = 0;
    plan.end = kFrames;
    return plan;
}

// The composition alone: frames decoded and composed, not encoded.
void composeOnly(benchmark::State& state, int type)
{
    const cv::Size size = sizeOf(state);
    const std::string& path = movie(size);
    const StrobePlan plan = defaultPlan();
    for (auto _ : state) {
        cv::VideoCapture c1(path), c2(path);
        cv::VideoCapture* const captures[2] = {&c1, &c2};
        const StrobeFrameSource source = [&captures](int slot, int index, cv::Mat& frame) {
            return readMovieFrame(*captures[slot], index, frame);
        };
        int written = 0;
        const StrobeFrameSink sink = [&written](const cv::Mat& frame) {
            benchmark::DoNotOptimize(frame.data);
            ++written;
        };
        type == 0 ? composeStrobeTypeA(plan, source, sink) : composeStrobeTypeB(plan, source, sink);
        state.counters["frames"] = written;
    }
}

void composeTypeA(benchmark::State& state)
{
    composeOnly(state, 0);
}
void composeTypeB(benchmark::State& state)
{
    composeOnly(state, 1);
}

void strobeMovie(benchmark::State& state, int type, bool plain)
{
    const cv::Size size = sizeOf(state);
    const std::string& path = movie(size);
    const StrobePlan plan = defaultPlan();
    for (auto _ : state) {
        cv::VideoCapture c1(path), c2(path), c3(path);
        cv::VideoCapture* const captures[3] = {&c1, &c2, &c3};
        MjpegAviWriter writer;
        openMovieWriter(writer, "out_" + std::to_string(type) + ".avi", 30.0, size);
        int written = 0;
        if (plain) {
            const StrobeFrameSource source = [&captures](int slot, int index, cv::Mat& frame) {
                return readMovieFrame(*captures[slot], index, frame);
            };
            const StrobeFrameSink sink = [&writer](const cv::Mat& frame) { writer.write(frame); };
            written = type == 0 ? composeStrobeTypeAStraightforward(plan, source, sink)
                                : composeStrobeTypeBStraightforward(plan, source, sink);
        } else {
            written = writeStrobeMovie(type, plan, captures, writer, size);
        }
        writer.release();
        if (written <= 0)
            state.SkipWithError("no frames written");
        state.counters["frames"] = written;
    }
}

void typeA(benchmark::State& state)
{
    strobeMovie(state, 0, false);
}
void typeB(benchmark::State& state)
{
    strobeMovie(state, 1, false);
}
void plainTypeA(benchmark::State& state)
{
    strobeMovie(state, 0, true);
}
void plainTypeB(benchmark::State& state)
{
    strobeMovie(state, 1, true);
}

} // namespace

#define STROBE_SIZES                                                                               \
    Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(decodeOnce)->STROBE_SIZES->Iterations(3);
BENCHMARK(encodeOnce)->STROBE_SIZES->Iterations(2);
BENCHMARK(encodeOnceOpenCV)->STROBE_SIZES->Iterations(2);
BENCHMARK(composeTypeA)->STROBE_SIZES->Iterations(2);
BENCHMARK(composeTypeB)->STROBE_SIZES->Iterations(2);
BENCHMARK(typeA)->STROBE_SIZES->Iterations(2);
BENCHMARK(typeB)->STROBE_SIZES->Iterations(2);
BENCHMARK(plainTypeA)->STROBE_SIZES->Iterations(1);
BENCHMARK(plainTypeB)->STROBE_SIZES->Iterations(1);

BENCHMARK_MAIN();
