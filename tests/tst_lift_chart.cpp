#include <cmath>
#include <memory>

#include <QtCharts>

#include "analysis/lift_chart.h"
#include "support.h"

namespace
{

// The bar at 20 cm, lifted 80 cm in riseS from each start, held 0.5 s and
// lowered in 1 s; the peak velocity is 40 pi / riseS cm/s.
struct Lift {
    double startS, riseS;
};

// 30 rows a second from `t0` on the source's clock, frame numbers from 7 on.
std::vector<TraceRow> liftRows(const std::vector<Lift>& lifts, double fromS, double toS,
                               double t0 = 100.0, bool scale = true)
{
    std::vector<LiftMove> moves;
    for (const Lift& l : lifts)
        moves.insert(moves.end(),
                     {{l.startS, l.riseS, 20, 100}, {l.startS + l.riseS + 0.5, 1, 100, 20}});
    std::vector<TraceRow> rows;
    for (int i = int(std::lround(fromS * 30)); i < std::lround(toS * 30); ++i) {
        TraceRow r;
        r.frame = 7 + i;
        r.timeS = t0 + i / 30.0;
        r.measured = true;
        r.heightCm = scale ? liftHeightAt(moves, i / 30.0) : NAN;
        rows.push_back(r);
    }
    return rows;
}

// What an analysis of liftRows() should find, made by hand.
LiftResults handResults(const std::vector<TraceRow>& rows, const std::vector<Lift>& lifts)
{
    LiftResults res;
    res.smoothedVelocityCmS.assign(rows.size(), 0.0);
    for (const Lift& l : lifts)
        res.phases.push_back({7 + int(std::lround(l.startS * 30)),
                              7 + int(std::lround((l.startS + l.riseS) * 30)), 100 + l.startS,
                              100 + l.startS + l.riseS, 20, 100, 80, 0.4 * M_PI / l.riseS,
                              0.8 / l.riseS, l.riseS / 2, true});
    return res;
}

QValueAxis* timeAxis(QChart* chart)
{
    return qobject_cast<QValueAxis*>(chart->axes(Qt::Horizontal).value(0));
}

// The series drawn against the cm axis.
QXYSeries* heightSeries(QChart* chart)
{
    for (QAbstractSeries* s : chart->series())
        if (s->name() == "height (cm)")
            return qobject_cast<QXYSeries*>(s);
    return nullptr;
}

// Runs of image columns holding the colour below the legend, as [first, last] pairs.
std::vector<std::pair<int, int>> columnRuns(const QImage& image, QColor colour)
{
    std::vector<std::pair<int, int>> runs;
    for (int x = 0; x < image.width(); ++x) {
        bool found = false;
        for (int y = 80; y < image.height() && !found; ++y)
            found = image.pixelColor(x, y) == colour;
        if (found && !runs.empty() && runs.back().second == x - 1)
            runs.back().second = x;
        else if (found)
            runs.push_back({x, x});
    }
    return runs;
}

} // namespace

class TstLiftChart : public QObject
{
    Q_OBJECT
    const std::vector<Lift> lifts_ = {{2.0, 0.8}, {6.0, 1.6}};

    // Feeds rows from the clock's `t0` on and waits until the chart has drawn the last of them.
    void feed(LiftChartWindow& w, const std::vector<TraceRow>& rows, double t0)
    {
        QXYSeries* height = heightSeries(w.chartView()->chart());
        const int before = height->count();
        for (const TraceRow& r : rows)
            w.appendLiveRow(r);
        QCOMPARE(height->count(), before); // no redraw per row
        QTRY_VERIFY(height->count() > 0 &&
                    qFuzzyCompare(height->points().last().x(), rows.back().timeS - t0));
    }

private slots:
    // Bands where the phases are, each labelled with its peak velocity, and the
    // height drawn; without a scale, neither.
    void png()
    {
        for (bool scale : {true, false}) {
            const auto rows = liftRows(lifts_, 0, 10, 100, scale);
            const LiftResults res = scale ? handResults(rows, lifts_) : LiftResults{};
            QTemporaryDir dir;
            QVERIFY(!writeLiftChartPng(dir.filePath("none/a.png").toStdString(), rows, res));
            QVERIFY(writeLiftChartPng(dir.filePath("a.png").toStdString(), rows, res));
            const QImage image(dir.filePath("a.png"));
            QCOMPARE(image.size(), QSize(1280, 720));
            std::unique_ptr<QChart> chart(makeLiftChart(rows, res));
            const auto bands = columnRuns(image, QColor(255, 228, 160));
            const auto line = columnRuns(image, heightSeries(chart.get())->pen().color());
            QStringList labels;
            for (QGraphicsItem* item : chart->childItems())
                if (auto* text = dynamic_cast<QGraphicsSimpleTextItem*>(item);
                    text && !text->text().isEmpty())
                    labels << text->text();
            if (!scale) {
                QVERIFY(bands.empty() && line.empty() && labels.isEmpty());
                continue;
            }
            QVERIFY(!line.empty() && line.back().second - line.front().first > 900);
            // Two bands, 0.8 s and 1.6 s wide, 4 s apart on one time scale.
            QCOMPARE(bands.size(), size_t(2));
            const double w1 = bands[0].second - bands[0].first;
            QVERIFY(std::abs((bands[1].second - bands[1].first) / w1 - 2.0) < 0.05);
            QVERIFY(std::abs((bands[1].first - bands[0].first) / 4.0 / (w1 / 0.8) - 1.0) < 0.03);
            QCOMPARE(labels, QStringList({"1.57 m/s", "0.79 m/s"}));
        }
    }

    void tableShowsAndCopiesPhases()
    {
        QWidget owner;
        auto* w = new LiftChartWindow(&owner);
        w->show();
        const auto rows = liftRows(lifts_, 0, 10);
        w->showTrace(rows, handResults(rows, lifts_));
        QTableWidget* t = w->phaseTable();
        QCOMPARE(t->rowCount(), 2);
        QStringList second;
        for (int c = 0; c < t->columnCount(); ++c)
            second << t->item(1, c)->text();
        QCOMPARE(second, QStringList({"2", "187", "235", "6.000", "7.600", "20.0", "100.0", "80.0",
                                      "0.79", "0.50", "0.800"}));
        QCOMPARE(timeAxis(w->chartView()->chart())->min(), 0.0); // the whole trace
        QVERIFY(std::abs(timeAxis(w->chartView()->chart())->max() - 299 / 30.0) < 1e-9);
        QVERIFY(w->messageLabel()->isHidden());

        t->setRangeSelected(QTableWidgetSelectionRange(0, 3, 1, 4), true);
        t->setRangeSelected(QTableWidgetSelectionRange(1, 8, 1, 8), true);
        t->setFocus();
        QTest::keyClick(t, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QString("2.000\t2.800\t\n6.000\t7.600\t0.79"));

        w->showTrace(liftRows(lifts_, 0, 10, 100, false), {}, "No scale: drag over a plate.");
        QCOMPARE(t->rowCount(), 0);
        QVERIFY(w->messageLabel()->isVisible());
        QCOMPARE(w->messageLabel()->text(), QString("No scale: drag over a plate."));
        QCOMPARE(heightSeries(w->chartView()->chart())->count(), 0);
    }

    void liveFollowsTheLastTenSeconds()
    {
        QWidget owner;
        owner.show();
        LiftChartWindow w(&owner);
        w.show();
        QChart* chart = w.chartView()->chart();
        const std::vector<Lift> lifts = {{3.0, 0.8}, {33.0, 0.8}};
        feed(w, liftRows(lifts, 0, 3.85, 500), 500); // just at the top: it may go on
        QCOMPARE(heightSeries(chart)->count(), 116);
        QCOMPARE(w.phaseTable()->rowCount(), 0);
        feed(w, liftRows(lifts, 3.85, 6.0, 500), 500);
        QCOMPARE(w.phaseTable()->rowCount(), 1);
        QVERIFY(std::abs(w.phaseTable()->item(0, 6)->text().toDouble() - 100.0) < 1.0);
        QVERIFY(std::abs(w.phaseTable()->item(0, 3)->text().toDouble() - 3.0) < 0.2);
        // The phase slides out of view, then out of the kept history; it stays, once.
        for (double t = 6.0; t < 40.0; t += 2.0) {
            feed(w, liftRows(lifts, t, t + 2.0, 500), 500);
            QVERIFY(heightSeries(chart)->count() <= 302);
            QCOMPARE(w.phaseTable()->rowCount(), t < 32 ? 1 : 2);
        }
        QCOMPARE(timeAxis(chart)->min(), 40.0 - 1 / 30.0 - 10.0);
        QCOMPARE(timeAxis(chart)->max(), 40.0 - 1 / 30.0);
        QCOMPARE(w.phaseTable()->item(1, 0)->text(), QString("2"));
        w.hide(); // closed a while: the chart waits, and is drawn as the window shows again
        for (const TraceRow& r : liftRows(lifts, 40.0, 41.0, 500))
            w.appendLiveRow(r);
        QTest::qWait(400);
        QVERIFY(heightSeries(chart)->points().last().x() < 40.0);
        w.show();
        QVERIFY(heightSeries(chart)->points().last().x() > 40.9);

        w.clearLive();
        QCOMPARE(w.phaseTable()->rowCount(), 0);
        QCOMPARE(heightSeries(chart)->count(), 0);
        feed(w, liftRows(lifts, 0, 2.0, 900), 900); // a later clock counts from 0 again
        QCOMPARE(timeAxis(chart)->min(), 0.0);
        QCOMPARE(timeAxis(chart)->max(), 10.0);

        const auto rows = liftRows(lifts_, 0, 10);
        w.showTrace(rows, handResults(rows, lifts_));
        QCOMPARE(w.phaseTable()->rowCount(), 2);
        feed(w, liftRows(lifts, 2.0, 3.0, 900), 900); // live again: its own table
        QCOMPARE(w.phaseTable()->rowCount(), 0);

        // A window of its own, closed with its owner.
        QVERIFY(w.isWindow());
        owner.close();
        QTRY_VERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TstLiftChart)
#include "tst_lift_chart.moc"
