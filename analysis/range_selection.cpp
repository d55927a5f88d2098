#include "app/mainwindow.h"

// Not built yet: range selection.
void MainWindow::drawSelectedRange() {}
void MainWindow::saveSelectedRange() {}
