#include <QLabel>

#include "analysis/lift_chart.h"
#include "analysis/lift_results.h"
#include "app/mainwindow.h"
#include "app/prompts.h"
#include "video/diagnostics.h"

void MainWindow::keepLiftResults(const std::string& movieFile, const std::vector<TraceRow>& rows,
                                 const QString& why)
{
    LiftResults results;
    const bool written = writeLiftFiles(movieFile, rows, results);
    if (!written) {
        diag("  the files beside %s could not be written\n", movieFile.c_str());
        const QString before = promptLabel_->text();
        promptLabel_->setText(before.isEmpty() ? QString(kLiftFilesNotWritten)
                                               : before + " " + kLiftFilesNotWritten);
    }
    chartWindow_->showTrace(rows, results, why);
}

void MainWindow::showChartWindow()
{
    chartWindow_->show();
    chartWindow_->raise();
    chartWindow_->activateWindow();
}
