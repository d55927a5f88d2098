#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include <opencv2/videoio.hpp>

#include "lift_scene.h"
#include "strobe/strobe_compose.h"

// Strobe movies over a 300-frame MJPG range with the defaults (step 1, N 25,
// error 20), next to decoding the same 300 frames once: the floor.
//
// Run from a scratch directory: the strobe images go to ./temp and the movies
// to ./out_*.avi.

namespace {

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

void strobeMovie(benchmark::State& state, int type)
{
    const cv::Size size = sizeOf(state);
    const std::string& path = movie(size);
    std::filesystem::create_directories("temp");
    StrobePlan plan;
    plan.start = 0;
    plan.end = kFrames;
    for (auto _ : state) {
        cv::VideoCapture c1(path), c2(path), c3(path);
        cv::VideoCapture* const captures[3] = {&c1, &c2, &c3};
        cv::VideoWriter writer("out_" + std::to_string(type) + ".avi",
                               cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30.0, size, true);
        const int written = writeStrobeMovie(type, plan, captures, writer, size);
        if (written <= 0)
            state.SkipWithError("no frames written");
        state.counters["frames"] = written;
    }
}

void typeA(benchmark::State& state) { strobeMovie(state, 0); }
void typeB(benchmark::State& state) { strobeMovie(state, 1); }

} // namespace

BENCHMARK(decodeOnce)->Args({640, 480})->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(typeA)->Args({640, 480})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(typeB)->Args({640, 480})->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
