#include <QGraphicsTextItem>
#include <QLabel>
#include <QSlider>
#include <QTabWidget>
#include <QtTest>

#include "app/mainwindow.h"
#include "test_support.h"

class TestMovieLiveTab : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    void loopRestsWhileAnotherTabIsShown()
    {
        FakeRig rig = installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        QMetaObject::invokeMethod(&w, "updateCamera");
        QCOMPARE(w.frameCount_, 1);

        w.tabWidget_->setCurrentIndex(1);
        const int reads = rig.camera->reads;
        for (int i = 0; i < 30; ++i) {
            rig.clock->now += 100;
            QMetaObject::invokeMethod(&w, "updateCamera");
        }
        QCOMPARE(rig.camera->reads, reads);
        QCOMPARE(w.frameCount_, 1);

        // Back on the live tab after 3 s: one frame per tick, late and labelled so.
        w.tabWidget_->setCurrentIndex(0);
        QMetaObject::invokeMethod(&w, "updateCamera");
        QMetaObject::invokeMethod(&w, "updateCamera");
        QCOMPARE(rig.camera->reads, reads + 2);
        QCOMPARE(w.frameCount_, 3);
        QStringList labels;
        for (QGraphicsItem* item : w.liveScene_.items(Qt::AscendingOrder))
            if (auto* t = qgraphicsitem_cast<QGraphicsTextItem*>(item))
                labels.append(t->toPlainText());
        QCOMPARE(labels.first(), QString("3.00[s] delay:2833[ms]"));
    }

    void analysisOnAMovieTabKeepsTheSlider()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        w.tabWidget_->setCurrentIndex(2);
        w.animeSlider_->setValue(300);
        w.step_ = 4;
        QMetaObject::invokeMethod(&w, "startAnalysisMode");
        QCOMPARE(w.step_, 0);
        QCOMPARE(w.animeSlider_->value(), 300);
        QCOMPARE(w.promptLabel_->text(),
                 QString("Please set start position by scroll bar and press [Apply]:"));
    }
};

QTEST_MAIN(TestMovieLiveTab)
#include "tst_movie_live_tab.moc"
