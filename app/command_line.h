#pragma once

#include <QStringList>

class QCoreApplication;

// Reads the command line into the environment the window is built with:
//   --camera N     capture device N instead of 0;
//   --camera FILE  a movie file played as the camera (no start-up wait);
//   --loop         the file starts again at its end;
//   --help, --version.
// Returns -1 to go on, or the status the program should end with at once
// (0 after --help or --version, 2 for a command line it does not understand,
// with the usage on the standard error).
int applyCommandLine(const QStringList& arguments);

// Started from a desktop menu, the program runs in the home directory; its
// output/ and temp/ then go into a folder of their own, ~/Kestrova, instead.
// Started anywhere else, the working directory is kept.
void useOwnFolderInHome();
