#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QTabWidget>

#include "app/diagnostics.h"
#include "app/mainwindow.h"

bool MainWindow::handleKey(int key)
{
    const int tab = tabWidget_->currentIndex();
    switch (key) {
    case Qt::Key_Q:
        close();
        return true;
    case Qt::Key_N:
        // The manual analysis steps one frame while it waits for its clicks.
        if (tab == 2 && step_ == 3)
            barPathAnalysisManualNextFrame();
        return true;
    case Qt::Key_R:
        diag("   r\n");
        if (recState_ == 0)
            startRecording();
        else
            stopRecording();
        return true;
    default:
        return false;
    }
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    diag("keyPressEvent:\n");
    handleKey(event->key());
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // A number box that has the focus would take R, N and Q and do nothing
    // with them; the window's own keys come first. Other windows and dialogs,
    // and keys with Ctrl or Alt, are left alone.
    if (event->type() == QEvent::KeyPress && watched != this) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (widget && widget->window() == this &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            const int k = key->key();
            if (k == Qt::Key_Q || k == Qt::Key_N || k == Qt::Key_R) {
                diag("keyPressEvent:\n");
                return handleKey(k);
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The last frames of a running recording are still with the encoders:
    // finish the file as R would before the window goes.
    if (recState_ == 1) {
        diag("  closing while recording: saving first\n");
        stopRecording();
    }
    event->accept();
}
