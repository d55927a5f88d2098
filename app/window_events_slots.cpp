#include <QCloseEvent>
#include <QKeyEvent>

#include "app/mainwindow.h"
#include "video/diagnostics.h"

bool MainWindow::handleKey(int key)
{
    if (shell_.workDepth_ > 0 && (key == Qt::Key_Q || key == Qt::Key_N || key == Qt::Key_R)) {
        shell_.keysAfterWork_.push_back(key);
        return true;
    }
    switch (key) {
    case Qt::Key_Q:
        close();
        return true;
    case Qt::Key_N:
        // The manual analysis steps one frame while it waits for its clicks.
        if (currentTab() == Tab::MovieManual && flow_.stepAs<ManualStep>() == ManualStep::ClickBar)
            barPathAnalysisManualNextFrame();
        return true;
    case Qt::Key_R:
        diag("   r\n");
        if (rec_.recState_ == 0)
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
        if (top && (top == this || (shell_.workDepth_ > 0 && top->parentWidget() == this)) &&
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
    if (shell_.workDepth_ > 0)
        return;
    shell_.cancelRequested_ = false;
    const std::vector<int> keys = std::move(shell_.keysAfterWork_);
    shell_.keysAfterWork_.clear();
    for (int key : keys)
        handleKey(key);
    if (shell_.closeAfterWork_) {
        shell_.closeAfterWork_ = false;
        close();
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (shell_.workDepth_ > 0) {
        // Cancellable work stops at its next frame, the rest runs to its end;
        // the window closes then.
        diag("  closing during long work: after it\n");
        shell_.cancelRequested_ = true;
        shell_.closeAfterWork_ = true;
        event->ignore();
        return;
    }
    // The last frames of a running recording are still with the encoders:
    // finish the file as R would before the window goes.
    if (rec_.recState_ == 1) {
        diag("  closing while recording: saving first\n");
        stopRecording();
    }
    event->accept();
}
