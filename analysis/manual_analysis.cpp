#include "app/mainwindow.h"

// Not built yet: manual bar path analysis and the clicks that feed it.
void MainWindow::positionSelected() {}
void MainWindow::applyManualStep(int) {}
void MainWindow::writeManualMovie() {}
void MainWindow::barPathAnalysisManualMode(int) {}
void MainWindow::barPathAnalysisManualNextFrame() {}
