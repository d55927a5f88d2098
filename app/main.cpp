#include <QApplication>

#include "app/mainwindow.h"
#include "app/termination.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    MainWindow window;
    closeOnTerminationSignals(&window);
    window.show();
    return app.exec();
}
