#include "app/mainwindow.h"

// Not built yet: automatic bar path analysis.
void MainWindow::applyAutoStep(int) {}
void MainWindow::barPathAnalysisMode() {}
