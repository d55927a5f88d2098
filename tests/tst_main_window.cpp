#include <QLabel>
#include <QTabWidget>
#include <QtTest>

#include "app/mainwindow.h"
#include "test_support.h"

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    void tabWidgetTakesTheFirstCameraFrameSize()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        QCOMPARE(w.tabWidget_->size(), QSize(655, 515));
        QCOMPARE(w.tabWidget_->count(), movieModesEnabled ? 4 : 1);
        QCOMPARE(w.promptLabel_->text(), QString("Press [Analysis] button to start."));
        QCOMPARE(w.FPS_, 12.0f);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
