#pragma once

#include <deque>
#include <limits>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include "analysis/lift_phases.h"

class QChart;
class QChartView;
class QLabel;
class QTableWidget;
class QTimer;

// Height (cm) and velocity (cm/s) over time in seconds from the first row,
// each upward phase shaded and labelled with its peak velocity. Rows before
// `fromS` (on the rows' clock) are left out. Without a scale the chart plots
// nothing in cm; the caller says why.
QChart* makeLiftChart(const std::vector<TraceRow>& rows, const LiftResults& results,
                      double fromS = -std::numeric_limits<double>::infinity());

// The same chart rendered offscreen into `<name>.png`; false when the file
// cannot be written.
bool writeLiftChartPng(const std::string& path, const std::vector<TraceRow>& rows,
                       const LiftResults& results);

// The "Chart" window of the View menu: the chart and, below it, the table of
// phases (selectable; Ctrl+C copies the selection as tab-separated text).
// Owned by the main window and closed with it.
class LiftChartWindow : public QWidget
{
    Q_OBJECT

public:
    explicit LiftChartWindow(QWidget* owner);

    // A whole trace: a movie's analysed range, a manual analysis or a
    // recording. `why`, when not empty, says why there are no cm and no phases
    // (no scale). The window keeps it until the live trace takes over; while
    // closed it fills the table and draws the chart when it shows.
    void showTrace(const std::vector<TraceRow>& rows, const LiftResults& results,
                   const QString& why = QString());

    // The live trace: one row per processed tick. The window keeps the recent
    // rows, redraws at most a few times a second and follows the last
    // 10 seconds; a phase enters the table once it has ended. Until the
    // window is first shown it takes no rows, so the live loop pays nothing
    // for a chart nobody opened.
    void appendLiveRow(const TraceRow& row);
    // A new live target: the live chart and table start again.
    void clearLive();
    // What the throttle timer runs: analyse the recent rows, add the phases
    // that ended to the table and redraw the last 10 seconds (while the
    // window shows). Does nothing while a whole trace is shown.
    void redrawLive();

    QTableWidget* phaseTable() const { return table_; }
    QLabel* messageLabel() const { return message_; }
    QChartView* chartView() const { return view_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setupWidgets();
    void setupLiveTimer();
    void closeWithOwner(QWidget* owner);
    void addEndedPhases(const std::vector<LiftPhase>& phases);
    void copySelection() const;
    void fillTable(const std::vector<LiftPhase>& phases, double firstRowTimeS);
    void plotTrace();

    QChartView* view_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* message_ = nullptr;
    QTimer* liveTimer_ = nullptr;
    std::deque<TraceRow> liveRows_;
    std::vector<LiftPhase> livePhases_;
    bool livePending_ = false; // rows arrived since the last redraw
    // The live clock's time of the first row since clearLive(): the live
    // chart and table count from it, however much history has been dropped.
    double liveOriginS_ = std::numeric_limits<double>::quiet_NaN();
    bool followingLive_ = true; // false while a whole trace is shown
    bool everShown_ = false;
    // The whole trace shown, and whether its chart waits for the window to show.
    std::vector<TraceRow> traceRows_;
    LiftResults traceResults_;
    bool tracePending_ = false;
};
