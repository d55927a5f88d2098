#include "app/work_progress.h"

#include <algorithm>

#include <QCoreApplication>
#include <QMenuBar>

#include "app/mainwindow.h"

WorkProgress::WorkProgress(MainWindow* window, const QString& label, int total, bool cancellable)
    : window_(window), dialog_(new QProgressDialog(window)), label_(label)
{
    dialog_->setWindowTitle("Kestrova PC");
    dialog_->setLabelText(label);
    dialog_->setRange(0, std::max(total, 1));
    dialog_->setWindowModality(Qt::WindowModal);
    dialog_->setAutoReset(false);
    dialog_->setAutoClose(false);
    // Short work ends before the dialog would only flash.
    dialog_->setMinimumDuration(500);
    if (!cancellable)
        dialog_->setCancelButton(nullptr);
    // Until the dialog shows, the window still takes clicks while the events
    // run; nothing else may start meanwhile.
    if (window_->shell_.workDepth_++ == 0) {
        window_->centralPanel_->setEnabled(false);
        window_->menuBar()->setEnabled(false);
    }
}

WorkProgress::~WorkProgress()
{
    delete dialog_;
    if (--window_->shell_.workDepth_ == 0) {
        window_->centralPanel_->setEnabled(true);
        window_->menuBar()->setEnabled(true);
    }
    window_->workEnded();
}

bool WorkProgress::update(int done)
{
    dialog_->setLabelText(QString("%1 %2/%3").arg(label_).arg(done).arg(dialog_->maximum()));
    dialog_->setValue(std::min(done, dialog_->maximum()));
    // A modal dialog runs the events as its value changes once it shows;
    // before that the window still repaints.
    if (!dialog_->isVisible())
        QCoreApplication::processEvents();
    if (dialog_->wasCanceled())
        cancelled_ = true;
    if (window_->shell_.cancelRequested_)
        cancelled_ = true;
    return !cancelled_;
}
