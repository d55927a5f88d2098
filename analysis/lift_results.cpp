#include "analysis/lift_results.h"

#include <cmath>

#include <QAction>
#include <QLabel>

#include "analysis/lift_chart.h"
#include "analysis/measurement.h"
#include "app/diagnostics.h"
#include "app/mainwindow.h"

bool writeLiftFiles(const std::string& movieFile, const std::vector<TraceRow>& rows,
                    LiftResults& results)
{
    results = analyseLift(rows);
    const double firstTime = rows.empty() ? 0.0 : rows.front().timeS;
    // Each file is tried even when one before failed: what can be kept, is.
    bool ok = writeTraceCsv(companionFileName(movieFile, ".csv"), rows, results);
    ok = writePhasesCsv(companionFileName(movieFile, ".phases.csv"), results.phases, firstTime) &&
         ok;
    ok = writeLiftChartPng(companionFileName(movieFile, ".png"), rows, results) && ok;
    return ok;
}

TraceRow movieTraceRow(int frame, double timeS, float x, float y, int baseY, float platePixel,
                       float barCenterInit, const TraceRow* previous)
{
    TraceRow row;
    row.frame = frame;
    row.timeS = timeS;
    row.measured = std::isfinite(x) && std::isfinite(y);
    row.x = x;
    row.y = y;
    if (!row.measured || !plateCalibrated(platePixel))
        return row;
    row.heightCm = currentHeightCm(barCenterInit, y, baseY, platePixel);
    if (previous && previous->measured && timeS > previous->timeS)
        row.velocityCmS = upwardVelocityCm(
            static_cast<float>((row.y - previous->y) / (timeS - previous->timeS)), platePixel);
    return row;
}

double frameTimeS(double decoderMs, int frame, double fps, const TraceRow* previous)
{
    const double nominal = fps > 0.0 && std::isfinite(fps) ? frame / fps : 0.0;
    // Some decoders give 0 for every frame, or nothing at all; a timestamp
    // running backwards is no better.
    if (!std::isfinite(decoderMs) || decoderMs < 0.0 || (decoderMs == 0.0 && frame > 0))
        return nominal;
    const double t = decoderMs / 1000.0;
    if (previous && t < previous->timeS)
        return nominal;
    return t;
}

void MainWindow::keepLiftResults(const std::string& movieFile, const std::vector<TraceRow>& rows,
                                 const QString& why)
{
    const bool written = writeLiftFiles(movieFile, rows, chartResults_);
    chartRows_ = rows;
    chartWhy_ = why;
    if (!written) {
        diag("  the files beside %s could not be written\n", movieFile.c_str());
        const QString before = promptLabel_->text();
        promptLabel_->setText(before.isEmpty() ? QString(kLiftFilesNotWritten)
                                               : before + " " + kLiftFilesNotWritten);
    }
    if (chartWindow_)
        chartWindow_->showTrace(chartRows_, chartResults_, chartWhy_);
}

void MainWindow::showChartWindow()
{
    if (!chartWindow_) {
        chartWindow_ = new LiftChartWindow(this);
        if (!chartRows_.empty())
            chartWindow_->showTrace(chartRows_, chartResults_, chartWhy_);
    }
    chartWindow_->show();
    chartWindow_->raise();
    chartWindow_->activateWindow();
}

void MainWindow::noteLiveRow(bool measured, double nowMs)
{
    liveRow_ = TraceRow();
    liveRow_.frame = frameCount_;
    liveRow_.timeS = nowMs / 1000.0;
    liveRow_.measured = measured && !barX_.empty() && !barY_.empty();
    if (liveRow_.measured) {
        liveRow_.x = barX_.back();
        liveRow_.y = barY_.back();
        // What the box shows, once it is calibrated.
        if (plateCalibrated(platePixel_)) {
            liveRow_.heightCm = height_;
            liveRow_.velocityCmS = vy_;
        }
    }
    if (chartWindow_ && !templateMat.empty())
        chartWindow_->appendLiveRow(liveRow_);
}
