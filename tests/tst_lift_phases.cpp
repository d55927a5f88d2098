#include <cmath>
#include <random>

#include "analysis/lift_phases.h"
#include "support.h"

namespace
{

using Moves = std::vector<LiftMove>;

// The heights a tracker gives at `fps`: whole pixels of a camera at 2.7 px/cm,
// so half a pixel of noise, plus `jitterPx` of random noise on top; exactly,
// with `exact`.
std::vector<TraceRow> trace(const Moves& moves, double seconds, double fps, double jitterPx = 0.0,
                            bool exact = false)
{
    constexpr double pxPerCm = 2.7;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> jitter(-jitterPx, jitterPx), offset(-0.5, 0.5);
    const double y0 = 300.0 + offset(rng);
    std::vector<TraceRow> rows;
    for (int i = 0; i < int(seconds * fps); ++i) {
        TraceRow r;
        r.frame = 10 + i;
        r.timeS = 50.0 + i / fps;
        r.measured = true;
        r.y = std::round(y0 - liftHeightAt(moves, i / fps) * pxPerCm + jitter(rng));
        r.heightCm = exact ? liftHeightAt(moves, i / fps) : (y0 - r.y) / pxPerCm;
        rows.push_back(r);
    }
    return rows;
}

// A clean and jerk: the pull, the drop into the catch, standing up, then the dip
// and drive of the jerk and the drop into the split; rests between.
const Moves kCleanAndJerk = {{0.5, 0.7, 0, 80},  {1.2, 0.4, 80, 45},   {1.8, 1.0, 45, 90},
                             {4.0, 0.3, 90, 78}, {4.3, 0.35, 78, 130}, {4.65, 0.3, 130, 115}};

} // namespace

Q_DECLARE_METATYPE(Moves)

class TstLiftPhases : public QObject
{
    Q_OBJECT
private slots:
    void lowPass()
    {
        QCOMPARE(smoothingCutoffHz(12), 3.0);
        QCOMPARE(smoothingCutoffHz(60), 6.0);
        QVERIFY(std::isnan(smoothingCutoffHz(0)) && std::isnan(smoothingCutoffHz(NAN)));
        // A line comes through unchanged, ends included; a sine at the cut-off
        // keeps half its amplitude (forwards and backwards, -3 dB each way), one
        // at a fifth of it nearly all, one at five times nearly nothing.
        std::vector<double> line(200);
        for (size_t i = 0; i < line.size(); ++i)
            line[i] = 3.0 - 0.25 * i;
        const std::vector<double> same = zeroPhaseLowPass(line, 60, 6);
        for (size_t i = 0; i < line.size(); ++i)
            QVERIFY2(std::abs(same[i] - line[i]) < 1e-4, qPrintable(QString::number(i)));
        for (auto [f, gain] : {std::pair{6.0, 0.5}, {1.2, 1.0}, {30.0, 0.0}}) {
            std::vector<double> wave(1200);
            for (size_t i = 0; i < wave.size(); ++i)
                wave[i] = std::sin(2 * M_PI * f * i / 120.0);
            const std::vector<double> out = zeroPhaseLowPass(wave, 120, 6);
            const double peak = *std::max_element(out.begin() + 300, out.begin() + 900);
            QVERIFY2(std::abs(peak - gain) < 0.01,
                     qPrintable(QString("%1 Hz: %2").arg(f).arg(peak)));
        }
        // What cannot be filtered comes back as it was.
        QCOMPARE(zeroPhaseLowPass({1, NAN, 3}, 60, 6).size(), size_t(3));
        QCOMPARE(zeroPhaseLowPass({1, 2, 3}, 60, 40), std::vector<double>({1, 2, 3}));
    }

    // On exact motion the rule finds the moves' own boundaries, within the
    // rounding the smoothing gives a sudden start. (How noise moves them is
    // measured on the program's own traces, in tst_lift_results.)
    void phasesOfAKnownLift_data()
    {
        QTest::addColumn<double>("fps");
        for (double fps : {25.0, 30.0, 60.0})
            QTest::addRow("%g fps", fps) << fps;
    }
    void phasesOfAKnownLift()
    {
        QFETCH(double, fps);
        const std::vector<LiftPhase> found =
            analyseLift(trace(kCleanAndJerk, 6.0, fps, 0, true)).phases;
        QCOMPARE(int(found.size()), 3);
        auto p = found.begin();
        for (const LiftMove& m : kCleanAndJerk) {
            if (m.toCm - m.fromCm < kPhaseMinRiseCm)
                continue;
            const double rom = m.toCm - m.fromCm;
            QVERIFY(std::abs(p->startTimeS - 50 - m.start) < 0.03);
            QVERIFY(std::abs(p->endTimeS - 50 - m.start - m.duration) < 0.03);
            QVERIFY(std::abs(p->rangeCm - rom) < 0.5);
            QVERIFY(std::abs(p->peakVelocityMS / (rom / 100 * M_PI / 2 / m.duration) - 1) < 0.03);
            QVERIFY(std::abs(p->meanVelocityMS / (rom / 100 / m.duration) - 1) < 0.05);
            QCOMPARE(p->startFrame, 10 + int(std::lround((p->startTimeS - 50) * fps)));
            QVERIFY(p++->ended);
        }
    }

    // Sway, and a pixel or two of jitter, make no phase of their own. A live
    // trace that ends at the top is not over until the bar has stood there a
    // moment.
    void whatIsAPhase_data()
    {
        QTest::addColumn<Moves>("moves");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("jitterPx");
        QTest::addColumn<int>("phases");
        QTest::addColumn<bool>("lastEnded");
        QTest::newRow("rest") << Moves{} << 4.0 << 2.0 << 0 << false;
        QTest::newRow("sway") << Moves{{0.5, 1, 0, 3}, {1.5, 1, 3, 0}, {2.5, 1, 0, 3}} << 4.0 << 2.0
                              << 0 << false;
        QTest::newRow("8 cm up and down")
            << Moves{{1, 0.5, 0, 8}, {2, 0.5, 8, 0}, {3, 0.5, 0, 8}} << 4.0 << 1.0 << 0 << false;
        QTest::newRow("set down") << Moves{{1, 0.8, 60, 0}} << 4.0 << 1.0 << 0 << false;
        QTest::newRow("a squat") << Moves{{1, 1, 0, -45}, {2, 1, -45, 0}} << 4.0 << 1.0 << 1
                                 << true;
        QTest::newRow("a slow 1 cm dip on the way up")
            << Moves{{1, 0.5, 0, 30}, {1.5, 0.4, 30, 29}, {1.9, 0.5, 29, 60}} << 4.0 << 1.0 << 1
            << true;
        QTest::newRow("a 3 cm dip on the way up")
            << Moves{{1, 0.5, 0, 30}, {1.5, 0.2, 30, 27}, {1.7, 0.5, 27, 60}} << 4.0 << 1.0 << 2
            << true;
        QTest::newRow("a stop on the way up")
            << Moves{{1, 0.5, 0, 30}, {1.9, 0.5, 30, 60}} << 4.0 << 1.0 << 2 << true;
        QTest::newRow("just at the top") << Moves{{1, 0.6, 0, 50}} << 1.62 << 0.0 << 1 << false;
        QTest::newRow("standing at the top") << Moves{{1, 0.6, 0, 50}} << 2.2 << 0.0 << 1 << true;
    }
    void whatIsAPhase()
    {
        QFETCH(Moves, moves);
        QFETCH(double, seconds);
        QFETCH(double, jitterPx);
        QFETCH(int, phases);
        QFETCH(bool, lastEnded);
        const std::vector<LiftPhase> found =
            analyseLift(trace(moves, seconds, 30, jitterPx)).phases;
        QCOMPARE(int(found.size()), phases);
        QCOMPARE(!found.empty() && found.back().ended, lastEnded);
    }

    // Rows that cannot take part are left out; with fewer than two there is nothing.
    // (Without a scale, no row takes part: tst_lift_results, the analysis without a plate.)
    void badInput()
    {
        QVERIFY(analyseLift({}).phases.empty());
        std::vector<TraceRow> rows = trace(kCleanAndJerk, 6.0, 30);
        const LiftResults whole = analyseLift(rows);
        rows[40].heightCm = NAN;
        rows[41].heightCm = INFINITY;
        rows[42].timeS = NAN;
        rows[43].measured = false;
        rows[45].timeS = rows[44].timeS; // a clock that stood still
        rows[0].timeS -= 2.0;            // found, then lost for two seconds
        const LiftResults holes = analyseLift(rows);
        QCOMPARE(holes.smoothedVelocityCmS.size(), rows.size());
        for (size_t i : {40, 41, 42, 43})
            QVERIFY(std::isnan(holes.smoothedVelocityCmS[i]));
        QCOMPARE(holes.phases.size(), whole.phases.size());
        QVERIFY(std::abs(holes.phases[0].rangeCm - whole.phases[0].rangeCm) < 0.5);

        rows.resize(1);
        QVERIFY(std::isnan(analyseLift(rows).smoothedVelocityCmS[0]));
    }

    void files()
    {
        // (Names beside kept movies, re-encoded ones too: tst_recording.)
        QCOMPARE(companionFileName("a.b/movie", ".csv"), std::string("a.b/movie.csv"));

        QTemporaryDir dir;
        std::vector<TraceRow> rows = trace(kCleanAndJerk, 6.0, 30);
        rows[1].measured = false;                     // nothing measured
        rows[2].heightCm = rows[2].velocityCmS = NAN; // no scale
        const LiftResults results = analyseLift(rows);
        const std::string csv = dir.filePath("t.csv").toStdString();
        QVERIFY(writeTraceCsv(csv, rows, results));
        const QStringList lines = csvLines(QString::fromStdString(csv));
        QCOMPARE(lines.size(), int(rows.size()) + 1);
        QCOMPARE(lines[0], QString("frame,time_s,x_px,y_px,height_cm,velocity_cm_s,"
                                   "smoothed_velocity_cm_s"));
        QCOMPARE(lines[1].left(11), QString("10,0.000000"));
        QCOMPARE(lines[2], QString("11,0.033333,,,,,"));
        QVERIFY(lines[3].startsWith("12,0.066667,0.000,") && lines[3].endsWith(",,,"));
        QCOMPARE(lines[100].split(',')[6].toDouble(),
                 std::round(results.smoothedVelocityCmS[99] * 1000) / 1000);

        const std::string phases = dir.filePath("t.phases.csv").toStdString();
        QVERIFY(writePhasesCsv(phases, results.phases, rows.front().timeS));
        const QStringList phaseLines = csvLines(QString::fromStdString(phases));
        const QStringList first = phaseLines.value(1).split(',');
        QCOMPARE(phaseLines.size(), 4);
        QCOMPARE(first.size(), 11);
        QCOMPARE(first[1].toInt(), results.phases[0].startFrame);
        QVERIFY(std::abs(first[3].toDouble() - (results.phases[0].startTimeS - 50)) < 1e-6);

        QVERIFY(!writeTraceCsv("no/such/folder/t.csv", rows, results));
        FileSizeLimit limit(4096); // a full disk
        QVERIFY(!writeTraceCsv(dir.filePath("full.csv").toStdString(), rows, results));
    }
};

QTEST_MAIN(TstLiftPhases)
#include "tst_lift_phases.moc"
