// What a recording costs: how fast the buffer is written when R stops it, and
// how much memory each buffered frame holds while it runs.
//
//   QT_QPA_PLATFORM=offscreen ./bench_recording
//
// "frames/s" is the stop-time writing throughput (writer open, the frames
// fitted and encoded, writer release); "x_realtime_12fps" compares it with the
// 12 fps at which the live loop buffers them. "rss_per_frame" is the growth of
// the resident set per buffered scene snapshot, "raw_per_frame" the
// width x height x 3 bytes of the picture itself.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <QApplication>
#include <QDir>
#include <QGraphicsScene>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include "app/mainwindow.h"
#include "video/recording.h"

namespace
{

// A camera-like picture: a smooth gradient with some sensor noise and a few
// shapes, so the encoder has the work a real scene gives it.
cv::Mat cameraLikeFrame(cv::Size size, int seed)
{
    cv::Mat frame(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            frame.at<cv::Vec3b>(y, x) =
                cv::Vec3b(static_cast<uchar>(x * 255 / size.width),
                          static_cast<uchar>(y * 255 / size.height), static_cast<uchar>(seed * 7));
    cv::Mat noise(size, CV_8UC3);
    cv::theRNG().state = static_cast<uint64_t>(seed + 1);
    cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(6));
    frame += noise;
    cv::rectangle(frame,
                  cv::Rect(size.width / 4 + seed, size.height / 3, size.width / 6, size.height / 6),
                  cv::Scalar(0, 0, 255), 5);
    cv::line(frame, cv::Point(0, size.height / 2), cv::Point(size.width, size.height / 2),
             cv::Scalar(0, 0, 0), 1);
    return frame;
}

std::vector<cv::Mat> bufferOf(cv::Size size, int count)
{
    std::vector<cv::Mat> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(cameraLikeFrame(size, i % 16));
    return frames;
}

void BM_StopTimeWriting(benchmark::State& state)
{
    const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int count = 48;
    const std::vector<cv::Mat> frames = bufferOf(size, count);
    // Every fourth tick without a camera picture, as a busy USB camera gives.
    std::vector<int> flags(static_cast<size_t>(count), 1);
    for (size_t i = 0; i < flags.size(); i += 4)
        flags[i] = 0;
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("rec.avi").toStdString();
    for (auto _ : state) {
        cv::VideoWriter writer;
        if (!openRecordingWriter(writer, path, 12.0, size)) {
            state.SkipWithError("writer did not open");
            return;
        }
        writeRecordedFrames(writer, frames, flags, size);
        writer.release();
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations() * count),
                                                    benchmark::Counter::kIsRate);
    state.counters["x_realtime_12fps"] = benchmark::Counter(
        static_cast<double>(state.iterations() * count) / 12.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StopTimeWriting)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// The recording tick's snapshot of a scene holding the camera picture and the
// live loop's items, buffered as the recording buffers it.
void BM_BufferedFrameMemory(benchmark::State& state)
{
    const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int count = static_cast<int>(state.range(2));
    QGraphicsScene scene;
    scene.addPixmap(MainWindow::frameToPixmap(cameraLikeFrame(size, 3)));
    scene.addRect(QRectF(100, 100, 80, 80), QPen(Qt::red, 5));
    scene.addLine(size.width / 2.0, 0, size.width / 2.0, size.height);
    scene.addText("1.25[s]");
    double perFrame = 0.0;
    for (auto _ : state) {
        std::vector<cv::Mat> buffer;
        buffer.reserve(static_cast<size_t>(count));
#ifdef __GLIBC__
        // Hand memory freed by earlier benchmarks back, so that the growth
        // measured is the buffer's own.
        malloc_trim(0);
#endif
        const long before = residentBytes();
        for (int i = 0; i < count; ++i)
            buffer.push_back(MainWindow::sceneSnapshot(&scene, false));
        const long after = residentBytes();
        perFrame = static_cast<double>(after - before) / count;
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["rss_per_frame"] = perFrame;
    state.counters["raw_per_frame"] = static_cast<double>(size.area()) * 3.0;
    state.counters["rss/raw"] = perFrame / (static_cast<double>(size.area()) * 3.0);
    state.counters["s_per_snapshot"] =
        benchmark::Counter(static_cast<double>(state.iterations() * count),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BufferedFrameMemory)
    ->Args({640, 480, 100})
    ->Args({1920, 1080, 40})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
