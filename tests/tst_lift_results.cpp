#include <cmath>
#include <functional>

#include "analysis/lift_chart.h"
#include "analysis/lift_phases.h"
#include "analysis/lift_results.h"
#include "support.h"

// A lift whose motion is known exactly: rest, a squat rep, rest, a pull, the
// drop into the catch, standing up, rest.
namespace
{
const std::vector<LiftMove> kMoves = {{0.6, 0.9, 0, -40},
                                      {1.5, 0.8, -40, 0},
                                      {2.8, 0.6, 0, 60},
                                      {3.4, 0.5, 60, 30},
                                      {3.9, 0.8, 30, 60}};
constexpr double kLiftSeconds = 5.2;
constexpr double kPixelsPerCm = 121.0 / 45.0; // a plate of radius 60 covers 121 rows
constexpr float kRestY = 290.0f;

double heightAt(double t)
{
    return liftHeightAt(kMoves, t);
}

cv::Point2f barAt(double t)
{
    return {320.0f + 4.0f * float(std::sin(t)), kRestY - float(heightAt(t) * kPixelsPerCm)};
}

// Plate (unless `plate` is false) and bar drawn at the bar's place to a
// sixteenth of a pixel, the textured sleeve at whole pixels: the tracker's
// points have half a pixel of noise.
cv::Mat liftFrame(double t, bool plate = true)
{
    static const cv::Mat background = [] {
        cv::Mat b(480, 640, CV_8UC3);
        cv::randu(b, cv::Scalar::all(150), cv::Scalar::all(200));
        cv::GaussianBlur(b, b, {5, 5}, 0);
        return b;
    }();
    static const cv::Mat sleeve = [] {
        cv::Mat s(24, 24, CV_8UC3);
        cv::RNG(5).fill(s, cv::RNG::UNIFORM, 0, 256);
        return s;
    }();
    const cv::Point2f p = barAt(t);
    const auto at = [](double x, double y) { return cv::Point(int(x * 16), int(y * 16)); };
    cv::Mat frame = background.clone();
    cv::rectangle(frame, at(0, p.y - 6), at(p.x, p.y + 6), cv::Scalar::all(90), cv::FILLED,
                  cv::LINE_8, 4);
    if (plate) {
        cv::circle(frame, at(p.x, p.y), 60 * 16, cv::Scalar(40, 30, 30), cv::FILLED, cv::LINE_AA,
                   4);
        cv::circle(frame, at(p.x, p.y), 56 * 16, cv::Scalar(60, 50, 50), 2, cv::LINE_AA, 4);
    }
    sleeve.copyTo(frame(cv::Rect(int(std::lround(p.x)) - 12, int(std::lround(p.y)) - 12, 24, 24)));
    return frame;
}

double field(const QString& line, int i)
{
    return line.split(',').value(i).toDouble();
}

QString companion(const QString& movie, const char* suffix)
{
    return QString::fromStdString(companionFileName(movie.toStdString(), suffix));
}

// The phases kept beside `movie` against the truth: the same phase rule applied
// to the exact motion at the times of the trace's rows, frame k showing the lift
// at liftTime(k). `scale` turns true cm into the cm of the program's calibration;
// a range may be off by `romCm`, or when that is 0 by 2 % of itself.
void checkPhases(const QString& movie, const std::function<double(int)>& liftTime, double scale,
                 double romCm, double meanTolerance, int phases = 3)
{
    std::vector<TraceRow> exact;
    for (const QString& line : csvLines(companion(movie, ".csv")).mid(1)) {
        TraceRow r;
        r.frame = int(field(line, 0));
        r.timeS = field(line, 1);
        r.measured = true;
        r.heightCm = heightAt(liftTime(r.frame)) * scale;
        exact.push_back(r);
    }
    const std::vector<LiftPhase> truth = analyseLift(exact).phases;
    QCOMPARE(int(truth.size()), phases); // the squat, the pull, standing up from the catch
    const QStringList lines = csvLines(companion(movie, ".phases.csv"));
    QCOMPARE(lines.size(), 1 + phases);
    for (int i = 0; i < phases; ++i) {
        const LiftPhase& t = truth[size_t(i)];
        const QString& l = lines[i + 1];
        QVERIFY2(std::abs(field(l, 7) - t.rangeCm) <= (romCm > 0 ? romCm : 0.02 * t.rangeCm) &&
                     std::abs(field(l, 8) / t.peakVelocityMS - 1) <= 0.05 &&
                     std::abs(field(l, 9) - t.meanVelocityMS) <= meanTolerance,
                 qPrintable(QString("%1 against %2, %3, %4")
                                .arg(l)
                                .arg(t.rangeCm)
                                .arg(t.peakVelocityMS)
                                .arg(t.meanVelocityMS)));
    }
}
} // namespace

class TstLiftResults : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    // At 30 fps through the live loop: plate and target dragged, the chart open,
    // R, the lift, R. Each recorded tick has its row, and the phases are the lift's.
    void aRecordingKeepsItsNumbers()
    {
        WorkDir work;
        FakeRig rig = installFakeRig([](int i) { return liftFrame(i / 30.0); });
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.fpsActions_[4]->trigger();
        advance(rig, 100);
        const cv::Point2f c = barAt(0);
        dragOverFrame(w, w.liveView_, cv::Rect(int(c.x) - 70, int(c.y) - 60, 140, 120));
        QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
        dragOverFrame(w, w.liveView_, cv::Rect(int(c.x) - 12, int(c.y) - 12, 24, 24));
        QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
        QVERIFY(w.measure_.platePixel_ > 100 && w.measure_.platePixel_ < 140);
        w.chartAction_->trigger();
        QVERIFY(w.chartWindow_ && w.chartWindow_->isVisible());

        // The recording starts with the lift's first frame.
        rig.camera->reads = 0;
        QTest::keyClick(&w, Qt::Key_R);
        const int ticks = int(kLiftSeconds * 30);
        for (int i = 0; i < ticks; ++i)
            nextTick(rig, 1000.0 / 30 + 0.01); // clear of the grid's edge
        QTest::keyClick(&w, Qt::Key_R);
        QCOMPARE(w.rec_.recState_, 0);

        const QString movie = work.path("output/" + work.outputMovies().value(0));
        const QStringList rows = csvLines(companion(movie, ".csv"));
        QCOMPARE(rows.size(), 1 + int(readAllFrames(movie).size()));
        QVERIFY(rows.size() > ticks - 5);
        for (int i = 1; i < rows.size(); ++i) { // timed by the live loop's clock
            QCOMPARE(int(field(rows[i], 0)), i - 1);
            QVERIFY2(std::abs(field(rows[i], 1) - (i - 1) * (1 / 30.0 + 1e-5)) < 1e-5,
                     qPrintable(rows[i]));
        }
        checkPhases(
            movie, [](int k) { return k / 30.0; }, kPixelsPerCm * 45 / w.measure_.platePixel_, 1.0,
            0.05);
        QVERIFY(!QImage(companion(movie, ".png")).isNull());
        // The live table took each phase once it had ended.
        QTRY_COMPARE(w.chartWindow_->phaseTable()->rowCount(), 3);
        w.close();
        QTRY_VERIFY(!w.chartWindow_->isVisible());
    }

    // Movie Auto finds the plate itself; the rows carry each frame's timestamp,
    // also where the frame intervals vary. Without a plate the analysis keeps
    // pixels only, and the chart window says why.
    void anAnalysisFindsThePlate_data()
    {
        QTest::addColumn<double>("fps");
        QTest::addColumn<bool>("variable");
        QTest::addColumn<bool>("plate");
        QTest::addColumn<double>("meanTolerance");
        QTest::newRow("25 fps") << 25.0 << false << true << 0.05;
        QTest::newRow("30 fps") << 30.0 << false << true << 0.05;
        QTest::newRow("60 fps") << 60.0 << false << true << 0.03;
        QTest::newRow("MP4, intervals varying") << 30.0 << true << true << 0.05;
        QTest::newRow("no plate") << 25.0 << false << false << 0.0;
    }
    void anAnalysisFindsThePlate()
    {
        if (!movieModesEnabled)
            QSKIP("the movie modes are not built in");
        QFETCH(double, fps);
        QFETCH(bool, variable);
        QFETCH(bool, plate);
        QFETCH(double, meanTolerance);
        WorkDir work;
        installFakeRig(std::bind(solidFrame, 640, 480, cv::Scalar(40, 80, 120)));
        // The variable movie shows the lift at times 1/30 s apart, stretched or
        // squeezed by a fifth in turn; its timestamps say so.
        auto timeOf = [&](int k) { return variable ? (k + 0.2 * (k % 2)) / fps : k / fps; };
        const int frames = int(kLiftSeconds * fps);
        QString movie = work.path("lift.avi");
        QVERIFY(writeMjpgMovie(movie.toStdString(), frames, {640, 480}, fps,
                               [&](int k) { return liftFrame(timeOf(k), plate); }));
        if (variable) {
            REQUIRE_FFMPEG();
            QProcess ffmpeg;
            ffmpeg.start(ffmpegPath(), {"-v", "error", "-y", "-i", movie, "-vf",
                                        "settb=1/3000,setpts='(N+0.2*mod(N,2))/(30*TB)'",
                                        "-fps_mode", "vfr", "-enc_time_base", "1/3000", "-c:v",
                                        "mpeg4", "-q:v", "2", work.path("lift.mp4")});
            QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);
            movie = work.path("lift.mp4");
        }
        MainWindow w;
        openMovieRange(w, Tab::MovieAuto, w.movieAutoAction_, movie, 0, frames, frames);
        const cv::Point2f c = barAt(0);
        dragOverFrame(w, w.autoView_, cv::Rect(int(c.x) - 12, int(c.y) - 12, 24, 24));
        QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
        QVERIFY2(plate ? std::abs(w.measure_.autoPlatePixel_ - 121) < 2.42
                       : w.measure_.autoPlatePixel_ == 0,
                 qPrintable(QString::number(w.measure_.autoPlatePixel_)));
        QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);

        const QString out = work.path("output/" + work.outputMovies().value(0));
        const QStringList rows = csvLines(companion(out, ".csv"));
        QVERIFY(rows.size() > frames * 9 / 10);
        for (int i = 1; i < rows.size(); ++i) {
            const QStringList f = rows[i].split(',');
            QVERIFY2(std::abs(f[1].toDouble() - timeOf(f[0].toInt())) < 2e-3, qPrintable(rows[i]));
            // x and y always; cm only with a scale, and frame to frame the
            // velocity goes the way the smoothed one does.
            QVERIFY2(!f[2].isEmpty() && f[4].isEmpty() != plate, qPrintable(rows[i]));
            if (std::abs(f[6].toDouble()) > 50)
                QVERIFY2(f[5].toDouble() * f[6].toDouble() > 0, qPrintable(rows[i]));
        }
        w.chartAction_->trigger();
        if (!plate) {
            QCOMPARE(csvLines(companion(out, ".phases.csv")).size(), 1);
            QVERIFY(w.chartWindow_->messageLabel()->text().contains("No plate was found"));
            return;
        }
        // True centimetres: the plate the program found sets the scale.
        checkPhases(out, timeOf, 1.0, 0, meanTolerance);
        // The chart window shows the analysed range with its phases.
        QTRY_COMPARE(w.chartWindow_->phaseTable()->rowCount(), 3);
    }

    // Movie Manual: one row per click, at the shown frame's time.
    void clicksKeepTheirNumbers()
    {
        if (!movieModesEnabled)
            QSKIP("the movie modes are not built in");
        WorkDir work;
        installFakeRig(std::bind(solidFrame, 640, 480, cv::Scalar(40, 80, 120)));
        const double fps = 25;
        const int first = int(3.7 * fps), last = int(5.0 * fps);
        const QString movie = work.path("lift.avi");
        QVERIFY(writeMjpgMovie(movie.toStdString(), last + 1, {640, 480}, fps,
                               [&](int k) { return liftFrame(k / fps); }));
        MainWindow w;
        openMovieRange(w, Tab::MovieManual, w.movieManualAction_, movie, first, last, last + 1);
        const cv::Point2f c = barAt(first / fps);
        dragOverFrame(w, w.manualView_, cv::Rect(int(c.x) - 60, int(c.y) - 60, 120, 120));
        QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
        for (int k = first; w.flow_.stepAs<ManualStep>() == ManualStep::ClickBar; ++k) {
            QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
            const cv::Point2f p = barAt(k / fps);
            QTest::mouseClick(
                w.manualView_->viewport(), Qt::LeftButton, {},
                viewPointFor(w, int(std::lround(p.x)), int(std::lround(p.y)), 640, 480));
        }
        QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
        const QString out = work.path("output/" + work.outputMovies().value(0));
        const QStringList rows = csvLines(companion(out, ".csv"));
        QCOMPARE(rows.size(), 1 + int(w.manual_.manualRows_.size()));
        QVERIFY(rows.size() > 25);
        for (int i = 1; i < rows.size(); ++i)
            QVERIFY2(std::abs(field(rows[i], 1) - (i - 1) / fps) < 1e-6, qPrintable(rows[i]));
        // Standing up from the catch, in the scale of the sampling area.
        checkPhases(
            out, [fps](int k) { return k / fps; }, kPixelsPerCm * 45 / w.measure_.platePixel_, 1.0,
            0.05, 1);
    }

    void aFailedWriteIsSaid()
    {
        installFakeRig(std::bind(solidFrame, 640, 480, cv::Scalar(40, 80, 120)));
        MainWindow w;
        w.promptLabel_->setText("Saved.");
        w.keepLiftResults("no/such/folder/cap1_X.avi", std::vector<TraceRow>(3));
        QCOMPARE(w.promptLabel_->text(), QString("Saved. ") + kLiftFilesNotWritten);
    }
};

QTEST_MAIN(TstLiftResults)
#include "tst_lift_results.moc"
