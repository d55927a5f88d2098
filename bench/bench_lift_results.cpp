// The numbers kept beside a movie, and what the Chart window costs the live loop.
//
//   QT_QPA_PLATFORM=offscreen ./bench_lift_results --benchmark_counters_tabular=true
//
// BM_KeepNumbers: smoothing, phase detection and both CSV files of a 10-minute
// trace at 60 fps (36,000 rows); the goal is under 50 ms.
// BM_LiveLoopWithChart: 20 s of the live loop at 1280 x 720 and 30 fps on the
// real clock, tracking a lifted target with the Chart window open and the event
// loop running, so that its repaints count (its first paint, when it opens, is
// left out). "late_max_ms" is the latest a
// camera read came after its place on the frame grid (goal: under a frame,
// 33.3 ms); "late_over_frame" counts the reads later than that.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include "analysis/lift_chart.h"
#include "analysis/lift_phases.h"
#include "app/environment.h"
#include "app/mainwindow.h"

namespace
{

// A squat every 4 s after 2 s of rest: 50 cm down and up again.
double liftCm(double t)
{
    const double u = std::fmod(t, 4.0);
    return u < 2.0 ? 0.0 : -25.0 * (1 - std::cos(M_PI * (u - 2.0)));
}

void BM_KeepNumbers(benchmark::State& state)
{
    std::vector<TraceRow> rows(36000);
    cv::RNG rng(3);
    for (size_t i = 0; i < rows.size(); ++i) {
        TraceRow& r = rows[i];
        r.frame = int(i);
        r.timeS = i / 60.0;
        r.measured = true;
        r.y = 300 - std::round(liftCm(r.timeS) * 2.7 + rng.uniform(-1.0, 1.0));
        r.x = 640;
        r.heightCm = (300 - r.y) / 2.7;
        r.velocityCmS = 0;
    }
    QTemporaryDir dir;
    const std::string csv = dir.filePath("t.csv").toStdString();
    const std::string phases = dir.filePath("t.phases.csv").toStdString();
    size_t found = 0;
    for (auto _ : state) {
        const LiftResults results = analyseLift(rows);
        if (!writeTraceCsv(csv, rows, results) ||
            !writePhasesCsv(phases, results.phases, rows.front().timeS))
            state.SkipWithError("a file was not written");
        found = results.phases.size();
    }
    state.counters["phases"] = double(found);
}
BENCHMARK(BM_KeepNumbers)->Unit(benchmark::kMillisecond);

// The camera shows a textured target going up and down on a textured
// background, and notes the real time of every read.
class LiftCamera : public CameraSource
{
public:
    LiftCamera(std::vector<double>* reads) : reads_(reads), base_(720, 1280, CV_8UC3)
    {
        cv::RNG(5).fill(base_, cv::RNG::UNIFORM, 60, 200);
        cv::GaussianBlur(base_, base_, cv::Size(7, 7), 0);
        target_ = cv::Mat(40, 40, CV_8UC3);
        cv::RNG(9).fill(target_, cv::RNG::UNIFORM, 0, 255);
        clock_.start();
    }
    bool open(int) override { return true; }
    bool isOpened() const override { return true; }
    bool read(cv::Mat& frame) override
    {
        const double t = clock_.nsecsElapsed() / 1e9;
        reads_->push_back(t * 1000.0);
        frame = base_.clone();
        const int y = 400 - int(std::lround(liftCm(t) * 2.7));
        target_.copyTo(frame(cv::Rect(620, y - 20, 40, 40)));
        return true;
    }

private:
    std::vector<double>* reads_;
    cv::Mat base_, target_;
    QElapsedTimer clock_;
};

void BM_LiveLoopWithChart(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    std::vector<double> reads;
    environment().makeCamera = [&reads] { return std::make_unique<LiftCamera>(&reads); };
    environment().cameraWarmUpMs = 0;
    for (auto _ : state) {
        MainWindow w;
        w.show();
        w.fpsActions_[4]->trigger();
        // Calibrated and tracking, as after the Apply steps.
        w.measure_.platePixel_ = 121.5f;
        w.live_.liveRect_ = QRectF(620, 380, 40, 40);
        w.measure_.baseY_ = 400;
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
        w.live_.templateMat = w.movie_.currentFrameMat(cv::Rect(620, 380, 40, 40)).clone();
        w.live_.clearHistories();
        // Opening the window lays it out and paints it the first time, once:
        // about a tenth of a second the loop then catches up on. What is
        // measured is the loop with the window open.
        w.chartAction_->trigger();
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();
        reads.clear();
        QEventLoop run;
        QTimer::singleShot(20000, &run, &QEventLoop::quit);
        run.exec();
        double worst = 0;
        int over = 0;
        for (size_t k = 1; k < reads.size(); ++k) {
            const double late = reads[k] - (reads[0] + k * 1000.0 / 30.0);
            worst = std::max(worst, late);
            over += late > 1000.0 / 30.0;
        }
        state.counters["reads"] = double(reads.size());
        state.counters["late_max_ms"] = worst;
        state.counters["late_over_frame"] = over;
        state.counters["phases"] = w.chartWindow_ ? w.chartWindow_->phaseTable()->rowCount() : -1;
    }
    QDir::setCurrent(oldCwd);
    resetEnvironment();
}
BENCHMARK(BM_LiveLoopWithChart)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
