#include <QCloseEvent>
#include <QKeyEvent>
#include <QTabWidget>

#include "app/diagnostics.h"
#include "app/mainwindow.h"

// Not built yet: recording. Q already closes the window.
void MainWindow::keyPressEvent(QKeyEvent* event)
{
    diag("keyPressEvent:\n");
    const int tab = tabWidget_->currentIndex();
    if (event->key() == Qt::Key_Q)
        close();
    if (event->key() == Qt::Key_N && tab == 2 && step_ == 3)
        barPathAnalysisManualNextFrame();
}
void MainWindow::closeEvent(QCloseEvent* event) { event->accept(); }
void MainWindow::startRecording() {}
void MainWindow::stopRecording() {}
void MainWindow::recordTick() {}
