#include <QTabWidget>

#include "app/mainwindow.h"

void MainWindow::updateCamera()
{
    if (tabWidget_->currentIndex() != 0)
        return;
    if (noCamera_ == 1)
        close();
    // The rest of the live loop (pacing, picture, tracking, overlay, recording
    // snapshot) is not built yet.
}
