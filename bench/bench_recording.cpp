// What a recording costs while it runs and when it stops: 60 s recorded at
// 30 fps through the live loop while it traces a target, the frames written
// as they come.
//
//   QT_QPA_PLATFORM=offscreen ./bench_recording --benchmark_out=recording.json > /dev/null
//
// Counters: "tick_ms" and "tick_max_ms", the live tick while recording (the
// goal is under a third of the 33.3 ms frame period); "peak_growth_MB", the
// rise of the resident set's high-water mark over the recording (goal: under
// 50 MB); "stop_ms", from R to a complete file (goal: under 1 s); "repeated",
// ticks that repeated a frame because the encoders were behind.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include "app/environment.h"
#include "app/mainwindow.h"

namespace
{

double clockMs = 0.0;

// A camera whose picture changes a little every frame, as a real one's does,
// so that the encoder has real work.
class MovingCamera : public CameraSource
{
public:
    explicit MovingCamera(cv::Size size) : base_(size, CV_8UC3)
    {
        cv::RNG(5).fill(base_, cv::RNG::NORMAL, 128, 40);
        cv::GaussianBlur(base_, base_, cv::Size(5, 5), 0);
    }
    bool open(int) override { return true; }
    bool isOpened() const override { return true; }
    bool read(cv::Mat& frame) override
    {
        frame = base_.clone();
        const int t = ++reads_ % 100;
        cv::circle(frame, cv::Point(frame.cols / 4 + 3 * t, frame.rows / 2), frame.rows / 10,
                   cv::Scalar(0, 200, 255), cv::FILLED);
        return true;
    }

private:
    cv::Mat base_;
    int reads_ = 0;
};

// VmHWM of /proc/self/status, in kB; resettable through /proc/self/clear_refs.
long peakKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

void pressR(MainWindow& w)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, "r");
    QCoreApplication::sendEvent(&w, &press);
}

void BM_RecordSixtySeconds(benchmark::State& state)
{
    const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    QTemporaryDir dir;
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    Environment& env = environment();
    env.makeCamera = [size] { return std::make_unique<MovingCamera>(size); };
    env.nowMs = [] { return clockMs; };
    env.cameraWarmUpMs = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        MainWindow w;
        w.settings_.FPS_ = 30.0f;
        auto tick = [&w] {
            clockMs += 1000.0 / 30.0 + 0.01;
            QMetaObject::invokeMethod(&w, "updateCamera");
        };
        tick();
        // Tracing a target while recording, as a coach does: a box of a twelfth
        // of the height over the circle's right edge.
        const int side = size.height / 12;
        const cv::Point edge(size.width / 4 + 3 + size.height / 10, size.height / 2);
        const cv::Rect target(edge.x - side / 2, edge.y - side / 2, side, side);
        w.live_.templateMat = w.movie_.currentFrameMat(target).clone();
        w.live_.liveRect_ = QRectF(target.x, target.y, side, side);
        w.measure_.platePixel_ = 90.0f;
        w.measure_.baseY_ = edge.y;
        w.live_.clearHistories();
        // The first match after the target is set searches the whole frame,
        // once, before the recording as when a coach presses Apply, then R.
        tick();
        std::ofstream("/proc/self/clear_refs") << "5"; // resets VmHWM
        const long before = peakKb();
        pressR(w);
        double total = 0.0, worst = 0.0;
        const int ticks = 60 * 30;
        // In real time, as the camera delivers: the encoders work between ticks.
        const auto start = Clock::now();
        for (int i = 0; i < ticks; ++i) {
            const auto t0 = Clock::now();
            tick();
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            total += ms;
            worst = std::max(worst, ms);
            std::this_thread::sleep_until(start + std::chrono::microseconds(33333 * (i + 1)));
        }
        const auto s0 = Clock::now();
        pressR(w);
        state.counters["stop_ms"] =
            std::chrono::duration<double, std::milli>(Clock::now() - s0).count();
        state.counters["tick_ms"] = total / ticks;
        state.counters["tick_max_ms"] = worst;
        state.counters["peak_growth_MB"] = (peakKb() - before) / 1024.0;
        state.counters["repeated"] = w.rec_.recRepeats_;
    }
    QDir::setCurrent(oldCwd);
    resetEnvironment();
}

BENCHMARK(BM_RecordSixtySeconds)
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    keepFrameBuffersInHeap(); // as the program does
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
