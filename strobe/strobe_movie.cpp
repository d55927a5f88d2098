#include "app/mainwindow.h"

// Not built yet: strobe movie.
void MainWindow::applyStrobeStep(int) {}
void MainWindow::makeStrobeMovie() {}
