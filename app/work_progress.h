#pragma once

#include <QProgressDialog>
#include <QString>

class MainWindow;

// Long work runs inside the slot that starts it. While it does, a modal
// progress dialog shows the frame count and keeps the window repainting, and,
// where the work can stop early, offers Cancel. The window knows the work is
// under way, so that its keys and a close request wait for its end.
class WorkProgress
{
public:
    WorkProgress(MainWindow* window, const QString& label, int total, bool cancellable);
    ~WorkProgress();
    WorkProgress(const WorkProgress&) = delete;
    WorkProgress& operator=(const WorkProgress&) = delete;

    // Shows `done` of the total and lets the event loop run; false once the
    // user cancelled (or closing the window did).
    bool update(int done);
    bool cancelled() const { return cancelled_; }

private:
    MainWindow* window_;
    // A child of the window, deleted with the work.
    QProgressDialog* dialog_;
    QString label_;
    bool cancelled_ = false;
};
