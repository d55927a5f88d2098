#include "support.h"

class TstFrameDisplay : public QObject
{
    Q_OBJECT
    WorkDir dir_;
private slots:
    void cleanup() { resetEnvironment(); }

    void snapshotShowsTheFrameWhereItIs()
    {
        // A view into a wider frame: its rows lie further apart than its width.
        const cv::Mat wide = noiseFrame(60, 30, 2), frame = wide(cv::Rect(10, 0, 40, 30));
        QGraphicsScene scene;
        scene.addPixmap(frameToPixmap(frame));
        scene.addRect(50, 40, 10, 10, Qt::NoPen, Qt::white); // grows the scene
        const cv::Mat shot = sceneSnapshot(&scene, false);
        QCOMPARE(QSize(shot.cols, shot.rows), QSize(60, 50));
        QCOMPARE(cv::norm(shot(cv::Rect(0, 0, 40, 30)), frame, cv::NORM_INF), 0.0); // colours, rows
        QCOMPARE(cv::norm(shot(cv::Rect(0, 30, 50, 20)), cv::NORM_INF), 0.0); // uncovered: black
        QCOMPARE(shot.at<cv::Vec3b>(45, 55), cv::Vec3b(255, 255, 255));
        QVERIFY(frameToPixmap(cv::Mat()).isNull());
        QVERIFY(frameToPixmap(cv::Mat(30, 40, CV_8UC1, cv::Scalar(9))).isNull());
    }

    void clearedSceneLeavesNoDanglingItems()
    {
        if (!movieModesEnabled)
            QSKIP("the movie tabs come with the movie modes");
        installFakeRig([](int) { return solidFrame(320, 240); });
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        answerNextFileDialog(dir_.movie("lift.avi", 10, cv::Size(160, 120)));
        w.movieAutoAction_->trigger();
        QVERIFY(w.movie_.framePixmapItem_ && w.movie_.movieRectItem_);
        w.movie_.clearScene(&w.manualScene_); // another scene's clearing keeps them
        QVERIFY(w.movie_.framePixmapItem_ && w.movie_.movieRectItem_);
        w.movie_.clearScene(&w.autoScene_);
        QVERIFY(!w.movie_.framePixmapItem_ && !w.movie_.movieRectItem_);
        // A slider move and a drag put new items in; nothing old is touched.
        w.tabWidget_->setCurrentIndex(int(Tab::MovieAuto));
        w.animeSlider_->setValue(500);
        QCOMPARE(shownFrame(w), 5);
        dragOverFrame(w, w.autoView_, cv::Rect(10, 10, 30, 20), {160, 120});
        QCOMPARE(w.autoScene_.items().size(), 2);
        QVERIFY(w.movie_.movieRectItem_ && w.movie_.movieRectItem_->scene() == &w.autoScene_);
    }
};

QTEST_MAIN(TstFrameDisplay)
#include "tst_frame_display.moc"
