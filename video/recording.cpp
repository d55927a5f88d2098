#include <QCloseEvent>
#include <QKeyEvent>

#include "app/diagnostics.h"
#include "app/mainwindow.h"

// Not built yet: recording. Q already closes the window.
void MainWindow::keyPressEvent(QKeyEvent* event)
{
    diag("keyPressEvent:\n");
    if (event->key() == Qt::Key_Q)
        close();
}
void MainWindow::closeEvent(QCloseEvent* event) { event->accept(); }
void MainWindow::startRecording() {}
void MainWindow::stopRecording() {}
void MainWindow::recordTick() {}
