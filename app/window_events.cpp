#include <QCloseEvent>
#include <QKeyEvent>
#include <QTabWidget>

#include "app/diagnostics.h"
#include "app/mainwindow.h"

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    diag("keyPressEvent:\n");
    const int tab = tabWidget_->currentIndex();
    switch (event->key()) {
    case Qt::Key_Q:
        close();
        break;
    case Qt::Key_N:
        // The manual analysis steps one frame while it waits for its clicks.
        if (tab == 2 && step_ == 3)
            barPathAnalysisManualNextFrame();
        break;
    case Qt::Key_R:
        diag("   r\n");
        if (recState_ == 0)
            startRecording();
        else
            stopRecording();
        break;
    default:
        break;
    }
    event->accept();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The frames of a running recording exist only in memory: save them as R
    // would before the window goes.
    if (recState_ == 1) {
        diag("  closing while recording: saving first\n");
        stopRecording();
    }
    event->accept();
}
