#include <optional>

#include "analysis/auto_analysis.h"
#include "analysis/lift_phases.h"
#include "support.h"
#include "video/movie_writer.h"

class TstMovieAutoAnalysis : public QObject
{
    Q_OBJECT
private slots:
    void init() { installFakeRig(std::bind(solidFrame, 640, 480, cv::Scalar(40, 80, 120))); }
    void cleanup() { resetEnvironment(); }
    // Analysis, the range by the slider, the 16 x 12 target dragged with a target's margin
    // (the search window then reaches the right edge where the path swings out), Apply twice.
    void tracksThePath_data()
    {
        QTest::addColumn<int>("end");
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<int>("cancelAt");
        QTest::newRow("to frame 40") << 40 << false << 0;
        // The file ends in frame 42 of the 60 its header promises.
        QTest::newRow("to the end of a file cut short") << 60 << false << 0;
        QTest::newRow("disk full") << 40 << true << 0;
        QTest::newRow("cancelled") << 40 << false << 6;
    }
    void tracksThePath()
    {
        QFETCH(int, end);
        QFETCH(bool, diskFull);
        QFETCH(int, cancelAt);
        WorkDir work;
        QFile file(work.movie("lift.avi", 60, {320, 240}));
        QVERIFY(end < 60 || file.resize(file.size() * 7 / 10));
        MainWindow w;
        openMovieRange(w, Tab::MovieAuto, w.movieAutoAction_, file.fileName(), 10, end, 60);
        const cv::Point at = targetTopLeft(10, {320, 240}) - cv::Point(16, 12);
        dragOverFrame(w, w.autoView_, cv::Rect(at, cv::Size(48, 36)), {320, 240});
        QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
        {
            std::optional<FileSizeLimit> limit;
            if (diskFull)
                limit.emplace(60000);
            if (cancelAt)
                cancelProgressAt(cancelAt);
            QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
        }
        if (diskFull) { // tracked, but the movie is not whole: said so
            QCOMPARE(w.promptLabel_->text(), QString(kMovieNotWritten));
            return;
        }
        const int n = int(w.live_.barX_.size());
        QVERIFY2(cancelAt   ? n >= cancelAt && n < 15
                 : end < 60 ? n == 30
                            : n > 25 && n < 45,
                 qPrintable(QString::number(n)));
        QCOMPARE(w.promptLabel_->text().startsWith("The analysis was cancelled"), cancelAt > 0);
        const QString stop("Frame %1 cannot be decoded: the analysis stopped there.");
        QCOMPARE(w.promptLabel_->text() == stop.arg(10 + n), end == 60);
        for (int i = 0; i < n; ++i) {
            const auto d =
                targetCentre(10 + i, {320, 240}) - cv::Point2f(w.live_.barX_[i], w.live_.barY_[i]);
            QVERIFY2(std::abs(d.x) <= 1 && std::abs(d.y) <= 1, qPrintable(QString::number(10 + i)));
        }
        // The analysed movie: the path up to each frame in cyan (one point draws nothing).
        const QString movie = work.path("output/" + work.outputMovies().value(0));
        const auto frames = readAllFrames(movie);
        QCOMPARE(int(frames.size()), n);
        // Beside it a row for each of its frames, in pixels only: the scene has no plate.
        const QStringList rows =
            csvLines(QString::fromStdString(companionFileName(movie.toStdString(), ".csv")));
        QCOMPARE(rows.size(), n + 1);
        for (int i = 0; i < n; ++i) {
            const QStringList f = rows[i + 1].split(',');
            QCOMPARE(f[0].toInt(), 10 + i);
            QVERIFY2(f[2].toFloat() == w.live_.barX_[i] && f[4].isEmpty(), qPrintable(rows[i + 1]));
        }
        auto point = [&](int j) { return cv::Point(int(w.live_.barX_[j]), int(w.live_.barY_[j])); };
        for (int i = 0; i < n; ++i) {
            QCOMPARE(frameMark(frames[i]), 10 + i);
            const int j = std::max(i - 1, 0);
            const cv::Vec3b p = frames[i].at<cv::Vec3b>((point(j) + point(j + 1)) / 2);
            QCOMPARE(p[0] > 170 && p[1] > 170 && p[2] < 90, bool(i));
        }
    }
    void pathBurnerDrawsWhatTheLinesDraw()
    {
        cv::RNG rng(7);
        std::deque<float> xs, ys;
        PathBurner burner;
        burner.reset({320, 240});
        // A wandering path with long jumps, repeated points and edge points.
        for (int k = 0; k < 60; ++k) {
            const bool stay = k % 7 == 3, edge = k % 5 == 0;
            xs.push_back(stay ? xs.back() : edge ? 319.9f * (k % 2) : rng.uniform(0.f, 320.f));
            ys.push_back(stay ? ys.back() : edge ? 119.95f * (k % 3) : rng.uniform(0.f, 240.f));
            burner.addPoint(xs.back(), ys.back());
            cv::Mat lines = syntheticFrame(k, {320, 240}), burned = lines.clone();
            drawPathIntoFrame(lines, xs, ys);
            burner.burnInto(burned);
            QCOMPARE(cv::norm(burned, lines, cv::NORM_INF), 0.0);
        }
    }
};

QTEST_MAIN(TstMovieAutoAnalysis)
#include "tst_movie_auto_analysis.moc"
