#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include "lift_scene.h"
#include "strobe/strobe_compose.h"
#include "strobe_straightforward.h"
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

// Resident memory in kB as /proc/self/status gives it ("VmRSS:", "VmHWM:");
// 0 where there is no such file.
long statusKb(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, field.size(), field) == 0)
            return std::atol(line.c_str() + field.size());
    return 0;
}

// The composition alone: frames decoded and composed, not encoded. Reports
// how far the peak resident memory rose above the memory in use before the
// run ("peakMiB"); the peak is reset first, so earlier cases do not hide it.
void composeOnly(benchmark::State& state, int type, const StrobePlan& plan, cv::Size size)
{
    const std::string& path = movie(size);
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
        const long before = statusKb("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5";
        type == 0 ? composeStrobeTypeA(plan, source, sink) : composeStrobeTypeB(plan, source, sink);
        state.counters["peakMiB"] = static_cast<double>(statusKb("VmHWM:") - before) / 1024;
        state.counters["frames"] = written;
    }
}

void composeTypeA(benchmark::State& state)
{
    composeOnly(state, 0, defaultPlan(), sizeOf(state));
}
void composeTypeB(benchmark::State& state)
{
    composeOnly(state, 1, defaultPlan(), sizeOf(state));
}

// The heaviest load on the kept layers: N 250 and threshold 0, so that every
// pixel of every sample is kept as moving, at 1280x720: 690 MB of layers.
// The argument is the memory budget in MiB: the default, one that sends most
// layers to the file, and one that lifts the budget, which is how the
// composition ran before it had one.
void composeHeavy(benchmark::State& state, int type)
{
    StrobePlan plan = defaultPlan();
    plan.number = 250;
    plan.threshold = 0;
    plan.layerBudgetBytes = static_cast<size_t>(state.range(0)) << 20;
    composeOnly(state, type, plan, cv::Size(1280, 720));
}
void composeHeavyTypeA(benchmark::State& state)
{
    composeHeavy(state, 0);
}
void composeHeavyTypeB(benchmark::State& state)
{
    composeHeavy(state, 1);
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
#define HEAVY_CASES                                                                                \
    ArgName("budgetMiB")                                                                           \
        ->Arg(static_cast<int64_t>(StrobePlan().layerBudgetBytes >> 20))                           \
        ->Arg(64)                                                                                  \
        ->Arg(int64_t(1) << 30)                                                                    \
        ->Unit(benchmark::kMillisecond)                                                            \
        ->UseRealTime()                                                                            \
        ->Iterations(1)
BENCHMARK(composeHeavyTypeA)->HEAVY_CASES;
BENCHMARK(composeHeavyTypeB)->HEAVY_CASES;
BENCHMARK(typeA)->STROBE_SIZES->Iterations(2);
BENCHMARK(typeB)->STROBE_SIZES->Iterations(2);
BENCHMARK(plainTypeA)->STROBE_SIZES->Iterations(1);
BENCHMARK(plainTypeB)->STROBE_SIZES->Iterations(1);

BENCHMARK_MAIN();
