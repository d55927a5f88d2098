#include "analysis/lift_chart.h"

#include <algorithm>
#include <cmath>
#include <set>

#include <QApplication>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

namespace
{

constexpr int kPngWidth = 1280;
constexpr int kPngHeight = 720;
constexpr double kLiveWindowS = 10.0;
constexpr double kLiveHistoryS = 30.0;
// A clock that stands still must not grow the history without bound: 30 s at 240 fps.
constexpr size_t kMaxLiveRows = 7200;
constexpr int kLiveRedrawMs = 250;

const QColor kHeightColour(31, 119, 180);
const QColor kVelocityColour(214, 39, 40);
const QColor kBoxVelocityColour(214, 39, 40, 70);
// Opaque, so that it hides the grid inside a phase and a phase reads as one band.
const QColor kPhaseColour(255, 228, 160);

// A tick step of 1, 2 or 5 times a power of ten giving about `ticks` ticks over `span`.
double niceStep(double span, double ticks)
{
    const double raw = std::max(span, 1e-9) / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (raw <= m * power)
            return m * power;
    }
    return 10.0 * power;
}

// The value range widened to whole steps, so that the axis keeps still while
// the values move within it.
void setNiceRange(QValueAxis* axis, double lo, double hi, double minSpan)
{
    if (!(lo <= hi)) {
        lo = 0.0;
        hi = minSpan;
    }
    if (hi - lo < minSpan) {
        const double mid = (lo + hi) / 2.0;
        lo = mid - minSpan / 2.0;
        hi = mid + minSpan / 2.0;
    }
    const double pad = (hi - lo) * 0.05;
    lo -= pad;
    hi += pad;
    const double step = niceStep(hi - lo, 6.0);
    lo = std::floor(lo / step) * step;
    hi = std::ceil(hi / step) * step;
    axis->setTickAnchor(0.0);
    axis->setTickInterval(step);
    axis->setRange(lo, hi);
}

QLineSeries* addLine(QChart* chart, const QString& name, const QColor& colour, qreal width)
{
    auto* line = new QLineSeries;
    line->setName(name);
    // The chart draws a solid line segment by segment: square caps would
    // overlap at every joint and bead the line.
    QPen pen(colour, width, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    line->setPen(pen);
    chart->addSeries(line);
    return line;
}

QValueAxis* addValueAxis(QChart* chart, const QString& title, Qt::Alignment where)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setLabelFormat("%.0f");
    chart->addAxis(axis, where);
    return axis;
}

// The chart keeps its series and axes and gets new points for each redraw:
// replacing points is what keeps a live repaint cheap.
class LiftChart : public QChart
{
public:
    LiftChart();

    // Rows with `smoothed` (one per row, or empty) shown from x0 to x1 seconds
    // after originS; a row just outside the range is kept so that the lines
    // run to the edges.
    void plot(const std::vector<TraceRow>& rows, const std::vector<double>& smoothed,
              const std::vector<LiftPhase>& phases, double originS, double x0, double x1);

private:
    struct Label {
        double fromS;
        double toS;
        QString text;
    };

    void placeLabels();

    QValueAxis* time_;
    QValueAxis* height_;
    QValueAxis* velocity_;
    QValueAxis* band_;
    QLineSeries* bandTop_;
    QLineSeries* bandBottom_;
    QAreaSeries* bands_;
    QLineSeries* heightLine_;
    QLineSeries* boxLine_;
    QLineSeries* velocityLine_;
    std::vector<Label> labelSpans_;
    std::vector<QGraphicsSimpleTextItem*> labels_;
};

LiftChart::LiftChart()
{
    setBackgroundRoundness(0);
    setDropShadowEnabled(false);
    setMargins(QMargins(8, 8, 8, 8));
    legend()->setAlignment(Qt::AlignTop);

    time_ = addValueAxis(this, "time (s)", Qt::AlignBottom);
    height_ = addValueAxis(this, "height (cm)", Qt::AlignLeft);
    velocity_ = addValueAxis(this, "velocity (cm/s)", Qt::AlignRight);
    // Two sets of horizontal lines that do not meet would only confuse.
    velocity_->setGridLineVisible(false);
    // The bands span the plot's height whatever the cm range: they have an
    // axis of their own, from 0 to 1, not shown.
    band_ = new QValueAxis;
    band_->setRange(0.0, 1.0);
    band_->setVisible(false);
    addAxis(band_, Qt::AlignRight);

    // Series are stacked in the order they are added: the bands go first, behind.
    bandTop_ = new QLineSeries(this);
    bandBottom_ = new QLineSeries(this);
    bands_ = new QAreaSeries(bandTop_, bandBottom_);
    bands_->setName("upward phase");
    bands_->setBrush(kPhaseColour);
    bands_->setPen(Qt::NoPen);
    addSeries(bands_);
    heightLine_ = addLine(this, "height (cm)", kHeightColour, 2.0);
    boxLine_ = addLine(this, "velocity in the box (cm/s)", kBoxVelocityColour, 1.0);
    velocityLine_ = addLine(this, "velocity (cm/s)", kVelocityColour, 2.0);

    for (QAbstractSeries* s : series())
        s->attachAxis(time_);
    bands_->attachAxis(band_);
    heightLine_->attachAxis(height_);
    boxLine_->attachAxis(velocity_);
    velocityLine_->attachAxis(velocity_);
    for (QLegendMarker* marker : legend()->markers(bands_))
        marker->setVisible(false);

    connect(this, &QChart::plotAreaChanged, this, [this] { placeLabels(); });
    plot({}, {}, {}, 0.0, 0.0, kLiveWindowS);
}

void LiftChart::plot(const std::vector<TraceRow>& rows, const std::vector<double>& smoothed,
                     const std::vector<LiftPhase>& phases, double originS, double x0, double x1)
{
    if (!(x1 > x0))
        x1 = x0 + 1.0;
    const bool haveSmoothed =
        smoothed.size() == rows.size() &&
        std::any_of(smoothed.begin(), smoothed.end(), [](double v) { return std::isfinite(v); });

    size_t first = 0;
    while (first < rows.size() && rows[first].timeS - originS < x0)
        ++first;
    if (first > 0)
        --first;
    QList<QPointF> heights, velocities, boxVelocities;
    double hLo = INFINITY, hHi = -INFINITY, vLo = 0.0, vHi = 0.0;
    for (size_t i = first; i < rows.size(); ++i) {
        const TraceRow& row = rows[i];
        const double t = row.timeS - originS;
        const bool inside = t >= x0 && t <= x1;
        if (row.measured && std::isfinite(row.heightCm)) {
            heights.append(QPointF(t, row.heightCm));
            if (inside) {
                hLo = std::min(hLo, row.heightCm);
                hHi = std::max(hHi, row.heightCm);
            }
        }
        const double box = row.measured ? row.velocityCmS : NAN;
        const double v = haveSmoothed ? smoothed[i] : box;
        if (std::isfinite(v)) {
            velocities.append(QPointF(t, v));
            if (inside) {
                vLo = std::min(vLo, v);
                vHi = std::max(vHi, v);
            }
        }
        if (haveSmoothed && std::isfinite(box))
            boxVelocities.append(QPointF(t, box));
        if (t > x1)
            break;
    }

    labelSpans_.clear();
    QList<QPointF> top{QPointF(x0, 0.0)};
    for (const LiftPhase& p : phases) {
        const double a = std::max(p.startTimeS - originS, x0);
        const double b = std::min(p.endTimeS - originS, x1);
        if (b <= a)
            continue;
        top << QPointF(a, 0.0) << QPointF(a, 1.0) << QPointF(b, 1.0) << QPointF(b, 0.0);
        labelSpans_.push_back({a, b, QString::number(p.peakVelocityMS, 'f', 2) + " m/s"});
    }
    top << QPointF(x1, 0.0);

    const double timeStep = niceStep(x1 - x0, 10.0);
    time_->setLabelFormat(timeStep < 1.0 ? "%.1f" : "%.0f");
    time_->setTickAnchor(0.0);
    time_->setTickInterval(timeStep);
    time_->setRange(x0, x1);
    setNiceRange(height_, hLo, hHi, 20.0);
    setNiceRange(velocity_, vLo, vHi, 100.0);

    bandTop_->replace(top);
    bandBottom_->replace({QPointF(x0, 0.0), QPointF(x1, 0.0)});
    heightLine_->replace(heights);
    boxLine_->replace(boxVelocities);
    velocityLine_->replace(velocities);
    for (QLegendMarker* marker : legend()->markers(boxLine_)) {
        if (marker->isVisible() != haveSmoothed) {
            marker->setVisible(haveSmoothed);
            legend()->layout()->invalidate();
        }
    }
    placeLabels();
}

// Each label sits at the top of its band, over the part of it in view.
void LiftChart::placeLabels()
{
    while (labels_.size() < labelSpans_.size()) {
        auto* label = new QGraphicsSimpleTextItem(this);
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
        label->setZValue(1000);
        labels_.push_back(label);
    }
    const QRectF plot = plotArea();
    const double x0 = time_->min(), x1 = time_->max();
    for (size_t i = 0; i < labels_.size(); ++i) {
        QGraphicsSimpleTextItem* label = labels_[i];
        label->setText(i < labelSpans_.size() ? labelSpans_[i].text : QString());
        if (i >= labelSpans_.size() || plot.isEmpty()) {
            label->hide();
            continue;
        }
        const Label& span = labelSpans_[i];
        const QRectF box = label->boundingRect();
        const double mid = (span.fromS + span.toS) / 2.0;
        double x = plot.left() + (mid - x0) / (x1 - x0) * plot.width() - box.width() / 2.0;
        x = std::clamp(x, plot.left(), std::max(plot.left(), plot.right() - box.width()));
        label->setPos(x, plot.top() + 4.0);
        label->show();
    }
}

LiftChart* makeChart(const std::vector<TraceRow>& rows, const LiftResults& results, double fromS)
{
    auto* chart = new LiftChart;
    if (rows.empty()) {
        chart->plot(rows, {}, {}, 0.0, 0.0, 1.0);
        return chart;
    }
    const double origin = rows.front().timeS;
    const double from = std::max(fromS, origin);
    chart->plot(rows, results.smoothedVelocityCmS, results.phases, origin, from - origin,
                rows.back().timeS - origin);
    return chart;
}

// Ctrl+C is the window's: a table view would copy only the current cell.
class PhaseTable : public QTableWidget
{
public:
    using QTableWidget::QTableWidget;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->matches(QKeySequence::Copy)) {
            event->ignore();
            return;
        }
        QTableWidget::keyPressEvent(event);
    }
};

// A window parented to the main window is deleted with it but, being a window
// of its own, not hidden with it.
class CloseWithOwner : public QObject
{
public:
    CloseWithOwner(QWidget* window, QWidget* owner) : QObject(window), window_(window)
    {
        owner->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        // A minimised owner is hidden spontaneously; only a close or hide() counts.
        if (event->type() == QEvent::Hide && !event->spontaneous())
            window_->close();
        return false;
    }

private:
    QWidget* window_;
};

void appendPhaseRow(QTableWidget* table, int number, const LiftPhase& p, double originS)
{
    QStringList cells;
    const auto values = phaseValues(p, number, originS);
    for (size_t c = 0; c < kPhaseColumnCount; ++c) {
        const int decimals = kPhaseColumns[c].tableDecimals;
        cells << (decimals < 0 ? QString::number(static_cast<long long>(values[c]))
                               : QString::number(values[c], 'f', decimals));
    }
    const int row = table->rowCount();
    table->insertRow(row);
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table->setItem(row, c, item);
    }
}

} // namespace

QChart* makeLiftChart(const std::vector<TraceRow>& rows, const LiftResults& results, double fromS)
{
    return makeChart(rows, results, fromS);
}

bool writeLiftChartPng(const std::string& path, const std::vector<TraceRow>& rows,
                       const LiftResults& results)
{
    // The scene owns the chart and deletes it. No widget is needed, so this
    // works with the window hidden or on a headless platform.
    QGraphicsScene scene;
    LiftChart* chart = makeChart(rows, results, -INFINITY);
    scene.addItem(chart);
    const QRectF area(0, 0, kPngWidth, kPngHeight);
    chart->setGeometry(area);
    if (chart->layout())
        chart->layout()->activate();
    QImage image(kPngWidth, kPngHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        scene.render(&painter, area, area);
    }
    // zlib's fastest levels: the default takes about 70 ms of a 1280x720
    // chart, level 1 about 50, for a file a fifth larger.
    return image.save(QString::fromStdString(path), "PNG", 80);
}

LiftChartWindow::LiftChartWindow(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setWindowTitle(tr("Chart"));
    setupWidgets();
    setupLiveTimer();
    if (owner)
        closeWithOwner(owner);
    resize(1100, 800);
}

void LiftChartWindow::setupWidgets()
{
    message_ = new QLabel(this);
    message_->setWordWrap(true);
    message_->hide();

    view_ = new QChartView(new LiftChart, this);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumHeight(300);

    QStringList headers;
    for (const PhaseColumn& column : kPhaseColumns)
        headers << column.tableHeader;
    table_ = new PhaseTable(0, int(kPhaseColumnCount), this);
    table_->setHorizontalHeaderLabels(headers);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setSelectionBehavior(QAbstractItemView::SelectItems);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(view_);
    splitter->addWidget(table_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message_);
    layout->addWidget(splitter, 1);
}

void LiftChartWindow::setupLiveTimer()
{
    liveTimer_ = new QTimer(this);
    liveTimer_->setSingleShot(true);
    liveTimer_->setInterval(kLiveRedrawMs);
    connect(liveTimer_, &QTimer::timeout, this, [this] {
        if (livePending_)
            redrawLive();
    });
}

void LiftChartWindow::closeWithOwner(QWidget* owner)
{
    new CloseWithOwner(this, owner);
}

void LiftChartWindow::showTrace(const std::vector<TraceRow>& rows, const LiftResults& results,
                                const QString& why)
{
    followingLive_ = false;
    liveTimer_->stop();
    traceRows_ = rows;
    traceResults_ = results;
    tracePending_ = true;
    if (isVisible())
        plotTrace();
    fillTable(results.phases, rows.empty() ? 0.0 : rows.front().timeS);
    message_->setText(why);
    message_->setVisible(!why.isEmpty());
}

void LiftChartWindow::plotTrace()
{
    tracePending_ = false;
    auto* chart = dynamic_cast<LiftChart*>(view_->chart());
    if (!chart)
        return;
    if (traceRows_.empty()) {
        chart->plot(traceRows_, {}, {}, 0.0, 0.0, 1.0);
        return;
    }
    const double origin = traceRows_.front().timeS;
    chart->plot(traceRows_, traceResults_.smoothedVelocityCmS, traceResults_.phases, origin, 0.0,
                traceRows_.back().timeS - origin);
}

void LiftChartWindow::appendLiveRow(const TraceRow& row)
{
    if (!everShown_)
        return;
    // A clock that went back is a source that started again.
    if (!liveRows_.empty() && row.timeS < liveRows_.back().timeS)
        clearLive();
    if (!followingLive_) {
        followingLive_ = true;
        message_->hide();
        fillTable(livePhases_, liveOriginS_);
    }
    if (!std::isfinite(liveOriginS_))
        liveOriginS_ = row.timeS;
    liveRows_.push_back(row);
    while (liveRows_.size() > kMaxLiveRows ||
           liveRows_.back().timeS - liveRows_.front().timeS > kLiveHistoryS)
        liveRows_.pop_front();
    livePending_ = true;
    if (!liveTimer_->isActive())
        liveTimer_->start();
}

void LiftChartWindow::clearLive()
{
    liveRows_.clear();
    livePhases_.clear();
    liveOriginS_ = NAN;
    livePending_ = false;
    liveTimer_->stop();
    if (followingLive_) {
        fillTable({}, 0.0);
        redrawLive();
    }
}

void LiftChartWindow::redrawLive()
{
    if (!followingLive_)
        return;
    livePending_ = false;
    auto* chart = dynamic_cast<LiftChart*>(view_->chart());
    if (!chart)
        return;
    if (liveRows_.empty()) {
        chart->plot({}, {}, {}, 0.0, 0.0, kLiveWindowS);
        return;
    }
    const std::vector<TraceRow> rows(liveRows_.begin(), liveRows_.end());
    const LiftResults results = analyseLift(rows);
    addEndedPhases(results.phases);
    // Closed, the window keeps its table; the chart is drawn when it shows again.
    if (!isVisible())
        return;
    const double last = rows.back().timeS - liveOriginS_;
    const double x0 = std::max(0.0, last - kLiveWindowS);
    chart->plot(rows, results.smoothedVelocityCmS, results.phases, liveOriginS_, x0,
                x0 + kLiveWindowS);
}

// The analysis runs again over the recent rows at every redraw, so the same
// phase comes back each time, its edges perhaps moved a little by the rows
// that have dropped out: a phase overlapping one in the table is that one.
void LiftChartWindow::addEndedPhases(const std::vector<LiftPhase>& phases)
{
    for (const LiftPhase& p : phases) {
        if (!p.ended)
            continue;
        const bool known =
            std::any_of(livePhases_.begin(), livePhases_.end(), [&p](const LiftPhase& q) {
                return p.startTimeS < q.endTimeS && q.startTimeS < p.endTimeS;
            });
        if (known)
            continue;
        livePhases_.push_back(p);
        appendPhaseRow(table_, int(livePhases_.size()), p, liveOriginS_);
    }
}

void LiftChartWindow::fillTable(const std::vector<LiftPhase>& phases, double firstRowTimeS)
{
    table_->setRowCount(0);
    for (size_t i = 0; i < phases.size(); ++i)
        appendPhaseRow(table_, int(i) + 1, phases[i], firstRowTimeS);
}

void LiftChartWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    everShown_ = true;
    if (!followingLive_ && tracePending_)
        plotTrace();
    redrawLive();
}

void LiftChartWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// The selected cells as tab-separated lines, the way a spreadsheet takes
// them: the rows and columns holding a selected cell, other cells empty.
void LiftChartWindow::copySelection() const
{
    const QModelIndexList selected = table_->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    std::set<int> rows, columns;
    for (const QModelIndex& index : selected) {
        rows.insert(index.row());
        columns.insert(index.column());
    }
    QStringList lines;
    for (int r : rows) {
        QStringList cells;
        for (int c : columns) {
            const QTableWidgetItem* item = table_->item(r, c);
            cells << (item && item->isSelected() ? item->text() : QString());
        }
        lines << cells.join('\t');
    }
    QApplication::clipboard()->setText(lines.join('\n'));
}
