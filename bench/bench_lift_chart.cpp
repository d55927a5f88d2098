// Cost of the chart: one live redraw of the Chart window (the analysis of the
// kept 30 s, the table, new points for the last 10 s and the repaint of the
// chart view) at 30 and 60 rows a second, that is with 300 and 600 points per
// line; the analysis alone, to tell the two apart; one live row handed over
// from the live loop; and writing the PNG of a 10 s and a 60 s trace.
//
// Run a Release build by hand:
//   bench_lift_chart --benchmark_counters_tabular=true

#include <cmath>
#include <vector>

#include <QApplication>
#include <QChartView>
#include <QTableWidget>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "analysis/lift_chart.h"

namespace
{

// A lift every 4 s: 60 cm up and down along a cosine, with a little noise
// from the tracking.
TraceRow liftRow(int i, double fps)
{
    TraceRow r;
    const double t = i / fps, w = 2.0 * M_PI / 4.0;
    r.frame = i;
    r.timeS = 1000.0 + t;
    r.measured = true;
    r.heightCm = 50.0 - 30.0 * std::cos(w * t) + 0.3 * std::sin(37.0 * t);
    r.velocityCmS = 30.0 * w * std::sin(w * t) + 11.1 * std::cos(37.0 * t);
    r.y = 400.0 - r.heightCm;
    return r;
}

std::vector<TraceRow> liftRows(double seconds, double fps)
{
    std::vector<TraceRow> rows;
    for (int i = 0; i < int(seconds * fps); ++i)
        rows.push_back(liftRow(i, fps));
    return rows;
}

void BM_LiveRedraw(benchmark::State& state)
{
    const double fps = double(state.range(0));
    QWidget owner;
    LiftChartWindow w(&owner);
    w.show();
    int i = 0;
    for (; i < int(30 * fps); ++i)
        w.appendLiveRow(liftRow(i, fps));
    for (auto _ : state) {
        w.appendLiveRow(liftRow(i++, fps));
        w.redrawLive();
        w.chartView()->viewport()->repaint();
    }
    state.counters["phases"] = w.phaseTable()->rowCount();
}
BENCHMARK(BM_LiveRedraw)->Arg(30)->Arg(60)->Unit(benchmark::kMillisecond);

void BM_LiveAnalysis(benchmark::State& state)
{
    const std::vector<TraceRow> rows = liftRows(30.0, double(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(analyseLift(rows));
}
BENCHMARK(BM_LiveAnalysis)->Arg(30)->Arg(60)->Unit(benchmark::kMillisecond);

void BM_AppendLiveRow(benchmark::State& state)
{
    QWidget owner;
    LiftChartWindow w(&owner);
    int i = 0;
    for (auto _ : state)
        w.appendLiveRow(liftRow(i++, 60.0));
}
BENCHMARK(BM_AppendLiveRow);

void BM_WritePng(benchmark::State& state)
{
    const std::vector<TraceRow> rows = liftRows(double(state.range(0)), 30.0);
    const LiftResults results = analyseLift(rows);
    QTemporaryDir dir;
    const std::string path = dir.filePath("chart.png").toStdString();
    for (auto _ : state) {
        if (!writeLiftChartPng(path, rows, results))
            state.SkipWithError("the PNG was not written");
    }
}
BENCHMARK(BM_WritePng)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
