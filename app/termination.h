#pragma once

class QWidget;

// SIGINT (Ctrl+C) and SIGTERM (a logout, a kill) close `window` as its close
// button would, so that a running recording is finished and saved and the
// program ends with status 0. Where the platform has no such signals,
// nothing is done.
void closeOnTerminationSignals(QWidget* window);
