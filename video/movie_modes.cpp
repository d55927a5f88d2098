#include "app/diagnostics.h"
#include "app/mainwindow.h"

// Not built yet: the movie file modes.
void MainWindow::getMovieFileName(char*) {}
void MainWindow::startBarPathMovieAutoMode() { diag("startBarPathMovieAutoMode\n"); }
void MainWindow::startBarPathMovieManualMode() {}
void MainWindow::startStrobeMovieMode() {}
void MainWindow::startStrobeMovieModeTypeA() { strobeType_ = 0; }
void MainWindow::startStrobeMovieModeTypeB() { strobeType_ = 1; }
void MainWindow::slotSetAnimeSlider(int) {}
bool MainWindow::showMovieFrame(int) { return false; }
bool MainWindow::openMovieCapture(cv::VideoCapture&, const char*) { return false; }
