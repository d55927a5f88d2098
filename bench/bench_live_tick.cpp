// Cost of one processed live tick after the camera read, with and without the
// recording snapshot, and of the snapshot against a copy through QImage's
// per-pixel accessor.
//
// Run a Release build by hand, e.g. from a scratch directory (the window makes
// an "output" directory in the working directory):
//   bench_live_tick --benchmark_counters_tabular=true

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <sys/resource.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include "analysis/live_tracking.h"
#include "app/environment.h"
#include "app/mainwindow.h"
#include "video/frame_display.h"

namespace
{

double benchClockMs = 0.0;

// A camera that hands out the same picture without copying it, so that a tick
// costs only what the loop does with the frame.
class StillCamera : public CameraSource
{
public:
    explicit StillCamera(cv::Mat picture) : picture_(std::move(picture)) {}
    bool open(int) override { return true; }
    bool isOpened() const override { return true; }
    bool read(cv::Mat& frame) override
    {
        frame = picture_;
        return true;
    }

private:
    cv::Mat picture_;
};

cv::Mat texturedFrame(int width, int height)
{
    cv::Mat frame(height, width, CV_8UC3);
    cv::RNG(3).fill(frame, cv::RNG::NORMAL, 128, 50);
    cv::GaussianBlur(frame, frame, cv::Size(5, 5), 0);
    const int t = height / 12;
    const cv::Rect target(width / 2 - t / 2, height / 2 - t / 2, t, t);
    frame(target).setTo(cv::Scalar(0, 255, 255));
    cv::circle(frame, (target.tl() + target.br()) / 2, t / 3, cv::Scalar(255, 0, 0), cv::FILLED);
    return frame;
}

// A window tracing a target in a still picture of the given size, with a full
// path behind it, as during a live trace.
class LiveRig
{
public:
    LiveRig(int width, int height)
    {
        const cv::Mat picture = texturedFrame(width, height);
        Environment& env = environment();
        env.makeCamera = [picture] { return std::make_unique<StillCamera>(picture); };
        env.nowMs = [] { return benchClockMs; };
        env.cameraWarmUpMs = 0;
        window_ = std::make_unique<MainWindow>();
        MainWindow& w = *window_;
        tick();
        const int t = height / 12;
        const cv::Rect target(width / 2 - t / 2, height / 2 - t / 2, t, t);
        w.live_.templateMat = picture(target).clone();
        w.live_.liveRect_ = QRectF(target.x, target.y, t, t);
        w.measure_.platePixel_ = 90.0f;
        w.measure_.baseY_ = target.y + t / 2;
        w.live_.restartPath();
        for (int i = 0; i < w.live_.trailMax_; ++i) {
            w.live_.barX_.push_back(static_cast<float>(width / 2));
            w.live_.barY_.push_back(static_cast<float>(height / 2 + 2 * (w.live_.trailMax_ - i)));
        }
        tick();
    }

    void tick()
    {
        benchClockMs += 1000.0 / window_->settings_.FPS_ + 0.01;
        QMetaObject::invokeMethod(window_.get(), "updateCamera");
    }

    MainWindow& window() { return *window_; }

private:
    std::unique_ptr<MainWindow> window_;
};

// The windows must go before the application object does.
std::map<std::pair<int, int>, std::unique_ptr<LiveRig>> rigs;

LiveRig& rigFor(int width, int height)
{
    auto& rig = rigs[{width, height}];
    if (!rig)
        rig = std::make_unique<LiveRig>(width, height);
    return *rig;
}

// The snapshot as first written: render, then copy every pixel through the
// accessor, one call per channel.
cv::Mat perPixelSnapshot(QGraphicsScene* scene, bool antialiasing)
{
    const QSize size = scene->sceneRect().size().toSize();
    if (size.isEmpty())
        return cv::Mat();
    QImage rendered(size, QImage::Format_RGB32);
    rendered.fill(Qt::black);
    {
        QPainter painter(&rendered);
        if (antialiasing)
            painter.setRenderHint(QPainter::Antialiasing, true);
        scene->render(&painter, QRectF(), QRectF(), Qt::KeepAspectRatio);
    }
    cv::Mat snapshot(size.height(), size.width(), CV_8UC3);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            uchar* out = snapshot.data + x * 3 + y * snapshot.step;
            out[0] = static_cast<uchar>(rendered.pixel(x, y) & 0xff);
            out[1] = static_cast<uchar>((rendered.pixel(x, y) >> 8) & 0xff);
            out[2] = static_cast<uchar>((rendered.pixel(x, y) >> 16) & 0xff);
        }
    }
    return snapshot;
}

long minorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Fresh memory costs a page fault per page, which is dear on a virtual machine.
void countFaults(benchmark::State& state, long before)
{
    state.counters["faults"] = benchmark::Counter(static_cast<double>(minorFaults() - before),
                                                  benchmark::Counter::kAvgIterations);
}

void BM_LiveTick(benchmark::State& state)
{
    LiveRig& rig = rigFor(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const long faults = minorFaults();
    for (auto _ : state)
        rig.tick();
    countFaults(state, faults);
}

// The tick followed by the snapshot a recording keeps. The snapshots are held
// for a second of recording at a time, so that each one gets fresh memory as
// in a real recording buffer.
void BM_LiveTickWithSnapshot(benchmark::State& state)
{
    LiveRig& rig = rigFor(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const size_t keep = static_cast<size_t>(state.range(2));
    std::vector<cv::Mat> kept;
    kept.reserve(keep);
    const long faults = minorFaults();
    for (auto _ : state) {
        rig.tick();
        kept.push_back(sceneSnapshot(&rig.window().liveScene_, false));
        if (kept.size() >= keep)
            kept.clear();
    }
    countFaults(state, faults);
}

void BM_SceneSnapshot(benchmark::State& state)
{
    LiveRig& rig = rigFor(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(sceneSnapshot(&rig.window().liveScene_, false));
}

void BM_SceneSnapshotPerPixel(benchmark::State& state)
{
    LiveRig& rig = rigFor(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(perPixelSnapshot(&rig.window().liveScene_, false));
}

// Rendering alone, the part both snapshot versions share.
void BM_SceneRenderOnly(benchmark::State& state)
{
    LiveRig& rig = rigFor(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    QGraphicsScene& scene = rig.window().liveScene_;
    for (auto _ : state) {
        QImage rendered(scene.sceneRect().size().toSize(), QImage::Format_RGB32);
        rendered.fill(Qt::black);
        QPainter painter(&rendered);
        scene.render(&painter, QRectF(), QRectF(), Qt::KeepAspectRatio);
        benchmark::DoNotOptimize(rendered.constBits());
    }
}

// Parts of a tick, to see where its time goes.
void BM_FrameToPixmap(benchmark::State& state)
{
    const cv::Mat frame =
        texturedFrame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(frameToPixmap(frame));
}

void BM_TrackTarget(benchmark::State& state)
{
    LiveRig& rig = rigFor(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    MainWindow& w = rig.window();
    cv::Point2f c;
    for (auto _ : state)
        benchmark::DoNotOptimize(trackTarget(w.camera_.camera_frame, w.live_.templateMat,
                                             w.live_.barX_, w.live_.barY_, 30.0f, 30.0f, c));
}

void frameSizes(benchmark::internal::Benchmark* b)
{
    b->Args({640, 480})->Args({1280, 720})->Args({1920, 1080});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_LiveTick)->Apply(frameSizes);
BENCHMARK(BM_LiveTickWithSnapshot)
    ->Args({640, 480, 30})
    ->Args({1280, 720, 30})
    ->Args({1920, 1080, 30})
    ->Args({1920, 1080, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SceneSnapshot)->Apply(frameSizes);
BENCHMARK(BM_SceneSnapshotPerPixel)->Apply(frameSizes);
BENCHMARK(BM_SceneRenderOnly)->Apply(frameSizes);
BENCHMARK(BM_FrameToPixmap)->Apply(frameSizes);
BENCHMARK(BM_TrackTarget)->Apply(frameSizes);

// Both snapshot versions must give the same bytes, with and without
// antialiasing, before their times mean anything.
bool snapshotsAgree()
{
    for (const auto& [width, height] : {std::pair{640, 480}, {1280, 720}, {1920, 1080}}) {
        QGraphicsScene& scene = rigFor(width, height).window().liveScene_;
        for (bool antialiasing : {false, true}) {
            const cv::Mat fast = sceneSnapshot(&scene, antialiasing);
            const cv::Mat reference = perPixelSnapshot(&scene, antialiasing);
            if (fast.empty() || fast.size() != reference.size() ||
                cv::norm(fast, reference, cv::NORM_INF) != 0) {
                std::fprintf(stderr, "snapshot differs from the per-pixel copy at %dx%d\n", width,
                             height);
                return false;
            }
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!snapshotsAgree()) {
        rigs.clear();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rigs.clear();
    return 0;
}
