#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QTabWidget>

#include "app/diagnostics.h"
#include "app/mainwindow.h"

bool MainWindow::handleKey(int key)
{
    if (workDepth_ > 0 && (key == Qt::Key_Q || key == Qt::Key_N || key == Qt::Key_R)) {
        keysAfterWork_.push_back(key);
        return true;
    }
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
        // The progress dialog of long work belongs to the window too: its keys
        // wait for the work's end.
        const QWidget* top = widget ? widget->window() : nullptr;
        if (top && (top == this || (workDepth_ > 0 && top->parentWidget() == this)) &&
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

void MainWindow::workEnded()
{
    if (workDepth_ > 0)
        return;
    cancelRequested_ = false;
    const std::vector<int> keys = std::move(keysAfterWork_);
    keysAfterWork_.clear();
    for (int key : keys)
        handleKey(key);
    if (closeAfterWork_) {
        closeAfterWork_ = false;
        close();
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (workDepth_ > 0) {
        // Cancellable work stops at its next frame, the rest runs to its end;
        // the window closes then.
        diag("  closing during long work: after it\n");
        cancelRequested_ = true;
        closeAfterWork_ = true;
        event->ignore();
        return;
    }
    // The last frames of a running recording are still with the encoders:
    // finish the file as R would before the window goes.
    if (recState_ == 1) {
        diag("  closing while recording: saving first\n");
        stopRecording();
    }
    event->accept();
}
