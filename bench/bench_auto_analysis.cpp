// Automatic bar path analysis against a plain sequential decode of the same
// 300 frames, for MJPG and long-GOP MPEG-4 AVI files at 640x480 and 1920x1080.
// The analysis should stay within 1.5 times the decode time: decoding is the
// part no implementation can avoid.
//
// Run: bench_auto_analysis [--benchmark_filter=...]. Movies are made in a
// temporary directory at start-up; MPEG-4 needs ffmpeg on PATH or in
// KESTROVA_FFMPEG.

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <opencv2/videoio.hpp>

#include "app/environment.h"
#include "app/mainwindow.h"
#include "lift_scene.h"
#include "video/movie_reader.h"
#include "video/movie_writer.h"

namespace
{

constexpr int kFrames = 300;

// No camera on a benchmark machine: a still picture keeps the window from
// showing its missing-camera box.
class StillCamera : public CameraSource
{
public:
    bool open(int) override { return true; }
    bool isOpened() const override { return true; }
    bool read(cv::Mat& frame) override
    {
        frame = cv::Mat(480, 640, CV_8UC3, cv::Scalar(60, 60, 60));
        return true;
    }
};

struct Movies {
    QTemporaryDir dir;
    std::map<std::string, std::string> paths; // "mjpg-640", "mpeg4-1920", ...
};

Movies& movies()
{
    static Movies m;
    return m;
}

const std::string& moviePath(const std::string& key)
{
    static const std::string none;
    auto it = movies().paths.find(key);
    return it == movies().paths.end() ? none : it->second;
}

QString ffmpeg()
{
    const QString given = qEnvironmentVariable("KESTROVA_FFMPEG");
    return given.isEmpty() ? QStandardPaths::findExecutable("ffmpeg") : given;
}

// MPEG-4 part 2 with keyframes `gop` frames apart, as phones' long-GOP files are.
bool convertToMpeg4(const QString& in, const QString& out, int gop)
{
    const QStringList arguments = {"-y", "-loglevel",          "error", "-i", in, "-c:v", "mpeg4",
                                   "-g", QString::number(gop), "-q:v",  "2",  out};
    return !ffmpeg().isEmpty() && QProcess::execute(ffmpeg(), arguments) == 0;
}

void makeMovies()
{
    for (int width : {640, 1920}) {
        const cv::Size size = width == 640 ? cv::Size(640, 480) : cv::Size(1920, 1080);
        const QString base = movies().dir.filePath(QString("mjpg-%1.avi").arg(width));
        if (!liftscene::write(base.toStdString(), kFrames, size, 30.0))
            continue;
        movies().paths["mjpg-" + std::to_string(width)] = base.toStdString();
        const QString mpeg4 = movies().dir.filePath(QString("mpeg4-%1.avi").arg(width));
        if (convertToMpeg4(base, mpeg4, 300))
            movies().paths["mpeg4-" + std::to_string(width)] = mpeg4.toStdString();
    }
}

void sequentialDecode(benchmark::State& state, const std::string& key)
{
    const std::string& path = moviePath(key);
    if (path.empty()) {
        state.SkipWithError("movie not available");
        return;
    }
    for (auto _ : state) {
        cv::VideoCapture capture(path);
        cv::Mat frame;
        int decoded = 0;
        while (decoded < kFrames && capture.read(frame))
            ++decoded;
        benchmark::DoNotOptimize(frame.data);
        if (decoded != kFrames)
            state.SkipWithError("short movie");
    }
    state.counters["fps"] =
        benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}

// The decode plus the MJPG writing of every frame: what the analysis cannot
// avoid once its movie is written through the shared writer.
void decodeAndWrite(benchmark::State& state, const std::string& key)
{
    const std::string& path = moviePath(key);
    if (path.empty()) {
        state.SkipWithError("movie not available");
        return;
    }
    const std::string out =
        movies().dir.filePath("written-" + QString::fromStdString(key) + ".avi").toStdString();
    for (auto _ : state) {
        cv::VideoCapture capture(path);
        MjpegAviWriter writer;
        cv::Mat frame;
        int decoded = 0;
        while (decoded < kFrames && capture.read(frame)) {
            if (!writer.isOpened())
                openMovieWriter(writer, out, 30.0, frame.size());
            writer.write(frame);
            ++decoded;
        }
        writer.release();
        if (decoded != kFrames)
            state.SkipWithError("short movie");
    }
    state.counters["fps"] =
        benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}

// `writeMovie` false runs the analysis with no output directory, so the
// writer does not open: the tracking and drawing alone.
void analysis(benchmark::State& state, const std::string& key, bool writeMovie)
{
    const std::string& path = moviePath(key);
    if (path.empty()) {
        state.SkipWithError("movie not available");
        return;
    }
    const QString workDir = movies().dir.filePath("work-" + QString::fromStdString(key));
    QDir().mkpath(workDir);
    QDir::setCurrent(workDir);
    environment().makeCamera = [] { return std::make_unique<StillCamera>(); };
    environment().cameraWarmUpMs = 0;
    MainWindow w;
    // On the Movie Auto tab the live loop rests; without the movie tabs built
    // in, the one tab is the live one, whose ticks during the analysis's
    // progress would trace the still camera into the analysed path.
    w.cameraTimer_->stop();
    QDir("output").removeRecursively();
    if (writeMovie)
        QDir().mkdir("output");
    for (auto _ : state) {
        state.PauseTiming();
        // As the workflow leaves it: the movie open, the start frame shown and
        // the target cut from it.
        w.movie_.movieCapture1.open(path);
        cv::Mat first;
        w.movie_.movieCapture1.read(first);
        w.movie_.movie_frame_num =
            static_cast<int>(w.movie_.movieCapture1.get(cv::CAP_PROP_FRAME_COUNT));
        w.movie_.movieWidth = first.cols;
        w.movie_.movieHeight = first.rows;
        w.live_.templateMat = first(liftscene::target(first.size())).clone();
        w.flow_.analysis_start_frame = 0;
        w.flow_.analysis_end_frame = kFrames;
        state.ResumeTiming();
        QMetaObject::invokeMethod(&w, "barPathAnalysisMode");
        state.PauseTiming();
        if (static_cast<int>(w.live_.barX_.size()) != kFrames) {
            state.SkipWithError("analysis stopped early");
            break;
        }
        // Outputs named to the second would otherwise overwrite each other.
        QDir("output").removeRecursively();
        if (writeMovie)
            QDir().mkdir("output");
        state.ResumeTiming();
    }
    state.counters["fps"] =
        benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // The analysis prints a line per frame; the benchmark table is what counts.
    std::fprintf(stderr, "making movies...\n");
    makeMovies();
    for (const char* key : {"mjpg-640", "mpeg4-640", "mjpg-1920", "mpeg4-1920"}) {
        const std::string k = key;
        benchmark::RegisterBenchmark(("decode/" + k).c_str(), sequentialDecode, k)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("decode+write/" + k).c_str(), decodeAndWrite, k)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("analysis/" + k).c_str(), analysis, k, true)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("analysis-no-writer/" + k).c_str(), analysis, k, false)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
