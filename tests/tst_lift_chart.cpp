#include <cmath>
#include <memory>

#include <QtCharts>
#include <QtTest>
#include <QtWidgets>

#include "analysis/lift_chart.h"

namespace
{

struct Lift {
    double startS; // from the first row
    double riseS;
};

// The bar at 20 cm, lifted 80 cm along a half cosine in riseS, held 0.5 s and
// lowered in 1 s; the peak velocity is 40 pi / riseS cm/s.
double liftHeight(const std::vector<Lift>& lifts, double t, double* velocity)
{
    double h = 20.0, v = 0.0;
    for (const Lift& l : lifts) {
        const double u = t - l.startS, down = u - l.riseS - 0.5;
        if (u > 0 && u < l.riseS) {
            h += 40.0 * (1 - std::cos(M_PI * u / l.riseS));
            v += 40.0 * M_PI / l.riseS * std::sin(M_PI * u / l.riseS);
        } else if (u >= l.riseS && down < 1.0) {
            h += down < 0 ? 80.0 : 40.0 * (1 + std::cos(M_PI * down));
            v += down < 0 ? 0.0 : -40.0 * M_PI * std::sin(M_PI * down);
        }
    }
    *velocity = v;
    return h;
}

// 30 rows a second from `t0` on the source's clock, frame numbers from 7 on.
std::vector<TraceRow> liftRows(const std::vector<Lift>& lifts, double fromS, double toS,
                               double t0 = 100.0, bool scale = true)
{
    std::vector<TraceRow> rows;
    for (int i = int(std::lround(fromS * 30)); i < std::lround(toS * 30); ++i) {
        TraceRow r;
        r.frame = 7 + i;
        r.timeS = t0 + i / 30.0;
        r.measured = true;
        r.heightCm = liftHeight(lifts, i / 30.0, &r.velocityCmS);
        r.y = 400 - r.heightCm;
        if (!scale)
            r.heightCm = r.velocityCmS = NAN;
        rows.push_back(r);
    }
    return rows;
}

// What an analysis of liftRows() should find, made by hand.
LiftResults handResults(const std::vector<TraceRow>& rows, const std::vector<Lift>& lifts)
{
    LiftResults res;
    for (const TraceRow& r : rows)
        res.smoothedVelocityCmS.push_back(r.velocityCmS);
    for (const Lift& l : lifts)
        res.phases.push_back({7 + int(std::lround(l.startS * 30)),
                              7 + int(std::lround((l.startS + l.riseS) * 30)), 100 + l.startS,
                              100 + l.startS + l.riseS, 20, 100, 80, 0.4 * M_PI / l.riseS,
                              0.8 / l.riseS, l.riseS / 2, true});
    return res;
}

QValueAxis* axis(QChart* chart, Qt::Alignment where)
{
    for (QAbstractAxis* a : chart->axes())
        if (a->alignment() == where && a->isVisible())
            return qobject_cast<QValueAxis*>(a);
    return nullptr;
}

// The series drawn against the left (cm) axis, and the shading.
QXYSeries* heightSeries(QChart* chart)
{
    for (QAbstractSeries* s : chart->series())
        if (s->attachedAxes().contains(axis(chart, Qt::AlignLeft)))
            return qobject_cast<QXYSeries*>(s);
    return nullptr;
}

QAreaSeries* shading(QChart* chart)
{
    for (QAbstractSeries* s : chart->series())
        if (auto* area = qobject_cast<QAreaSeries*>(s))
            return area;
    return nullptr;
}

// Runs of image columns holding the colour somewhere, as [first, last] pairs.
std::vector<std::pair<int, int>> columnRuns(const QImage& image, QColor colour)
{
    std::vector<std::pair<int, int>> runs;
    for (int x = 0; x < image.width(); ++x) {
        bool found = false;
        for (int y = 0; y < image.height() && !found; ++y)
            found = image.pixelColor(x, y) == colour;
        if (found && (runs.empty() || runs.back().second != x - 1))
            runs.push_back({x, x});
        else if (found)
            runs.back().second = x;
    }
    return runs;
}

// Below the legend, which shows the series' colours whatever they hold.
int plottedPixelsOf(const QImage& image, QColor colour)
{
    int n = 0;
    for (int y = 80; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y) == colour;
    return n;
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
    void png_data()
    {
        QTest::addColumn<bool>("scale");
        QTest::newRow("with scale") << true;
        QTest::newRow("no scale") << false;
    }

    void png()
    {
        QFETCH(bool, scale);
        const auto rows = liftRows(lifts_, 0, 10, 100, scale);
        const LiftResults res = scale ? handResults(rows, lifts_) : LiftResults{};
        QTemporaryDir dir;
        QVERIFY(writeLiftChartPng(dir.filePath("a.png").toStdString(), rows, res));
        const QImage image(dir.filePath("a.png"));
        QCOMPARE(image.size(), QSize(1280, 720));
        std::unique_ptr<QChart> chart(makeLiftChart(rows, res));
        const QColor band = shading(chart.get())->brush().color();
        const QColor line = heightSeries(chart.get())->pen().color();
        QVERIFY(plottedPixelsOf(image, Qt::white) < 1280 * 620); // axes at least
        const auto runs = columnRuns(image, band);
        if (!scale) {
            QCOMPARE(runs.size(), size_t(0));
            QCOMPARE(plottedPixelsOf(image, line), 0);
            return;
        }
        QVERIFY(plottedPixelsOf(image, line) > 500);
        // Two bands, 0.8 s and 1.6 s wide, 4 s apart on one time scale.
        QCOMPARE(runs.size(), size_t(2));
        const double w1 = runs[0].second - runs[0].first, w2 = runs[1].second - runs[1].first;
        QVERIFY(std::abs(w2 / w1 - 2.0) < 0.05);
        QVERIFY(std::abs((runs[1].first - runs[0].first) / 4.0 / (w1 / 0.8) - 1.0) < 0.03);
        QStringList labels;
        for (QGraphicsItem* item : chart->childItems())
            if (auto* text = dynamic_cast<QGraphicsSimpleTextItem*>(item);
                text && !text->text().isEmpty())
                labels << text->text();
        QCOMPARE(labels, QStringList({"1.57 m/s", "0.79 m/s"}));
    }

    void pngFailsOnAnUnwritablePath()
    {
        QTemporaryDir dir;
        const auto rows = liftRows(lifts_, 0, 10);
        QVERIFY(!writeLiftChartPng(dir.filePath("none/a.png").toStdString(), rows, {}));
        QVERIFY(!writeLiftChartPng(dir.path().toStdString(), rows, {}));
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
        QValueAxis* time = axis(w->chartView()->chart(), Qt::AlignBottom);
        QCOMPARE(time->min(), 0.0);
        QVERIFY(std::abs(time->max() - 299 / 30.0) < 1e-9); // the whole trace
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
        LiftChartWindow w(&owner);
        w.show();
        QChart* chart = w.chartView()->chart();
        const std::vector<Lift> lifts = {{3.0, 0.8}, {33.0, 0.8}};
        feed(w, liftRows(lifts, 0, 3.5, 500), 500); // rising
        QCOMPARE(heightSeries(chart)->count(), 105);
        feed(w, liftRows(lifts, 3.5, 3.85, 500), 500); // just at the top: it may go on
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
        QCOMPARE(axis(chart, Qt::AlignBottom)->min(), 40.0 - 1 / 30.0 - 10.0);
        QCOMPARE(axis(chart, Qt::AlignBottom)->max(), 40.0 - 1 / 30.0);
        QCOMPARE(w.phaseTable()->item(1, 0)->text(), QString("2"));

        w.clearLive();
        QCOMPARE(w.phaseTable()->rowCount(), 0);
        QCOMPARE(heightSeries(chart)->count(), 0);
        feed(w, liftRows(lifts, 0, 2.0, 900), 900); // a later clock counts from 0 again
        QCOMPARE(axis(chart, Qt::AlignBottom)->min(), 0.0);
        QCOMPARE(axis(chart, Qt::AlignBottom)->max(), 10.0);

        const auto rows = liftRows(lifts_, 0, 10);
        w.showTrace(rows, handResults(rows, lifts_));
        QCOMPARE(w.phaseTable()->rowCount(), 2);
        feed(w, liftRows(lifts, 2.0, 3.0, 900), 900); // live again: its own table
        QCOMPARE(w.phaseTable()->rowCount(), 0);
        QCOMPARE(axis(chart, Qt::AlignBottom)->max(), 10.0);
    }

    void closesAndGoesWithItsOwner()
    {
        auto* owner = new QWidget;
        owner->show();
        auto* w = new LiftChartWindow(owner);
        const QPointer<LiftChartWindow> alive(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(w->isWindow());
        owner->close();
        QTRY_VERIFY(!w->isVisible());
        w->show();
        delete owner;
        QVERIFY(alive.isNull());
    }
};

QTEST_MAIN(TstLiftChart)
#include "tst_lift_chart.moc"
