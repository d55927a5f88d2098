#include <QApplication>
#include <QStringList>

#include "app/command_line.h"
#include "app/environment.h"
#include "app/mainwindow.h"
#include "app/termination.h"

int main(int argc, char* argv[])
{
    // The command line is read before the application object exists, so that
    // --help and --version work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const int status = applyCommandLine(arguments);
    if (status >= 0)
        return status;

    keepFrameBuffersInHeap();
    QApplication app(argc, argv);
    useOwnFolderInHome();
    MainWindow window;
    closeOnTerminationSignals(&window);
    window.show();
    return app.exec();
}
