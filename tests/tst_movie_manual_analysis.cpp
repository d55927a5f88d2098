#include "analysis/manual_analysis.h"
#include "support.h"

// The lift movie (10 frames of 640 x 480, 10 fps) on the Manual tab, the range by
// the slider, a 90 pixel plate (0.5 cm a pixel) dragged, Apply: clicks may begin.
static void startManual(MainWindow& w, const WorkDir& work, int start, int end)
{
    QVERIFY(writeMjpgMovie(work.path("lift.avi").toStdString(), 10, {640, 480}, 10.0));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.tabWidget_->setCurrentIndex(int(Tab::MovieManual));
    answerNextFileDialog(work.path("lift.avi"));
    w.movieManualAction_->trigger();
    QTest::qWait(50); // a person looks before dragging; the scene settles meanwhile
    QCOMPARE(w.manualScene_.sceneRect().topLeft(), QPointF(0, 0));
    QTest::mouseClick(findButton(w, "Analysis"), Qt::LeftButton);
    for (int k : {start, end}) {
        w.animeSlider_->setValue(k * 100);
        QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
    }
    dragOverFrame(w, w.manualView_, cv::Rect(100, 100, 60, 90));
    QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
}

class TstMovieManualAnalysis : public QObject
{
    Q_OBJECT
private slots:
    void init() { installFakeRig(std::bind(solidFrame, 640, 480, cv::Scalar(40, 80, 120))); }
    void cleanup() { resetEnvironment(); }
    void clicksAreMeasuredAndWritten()
    {
        WorkDir work;
        MainWindow w;
        startManual(w, work, 2, 8);
        QTest::keyClick(&w, Qt::Key_R); // a recording meanwhile leaves the analysis alone
        QCOMPARE(w.rec_.recState_, 1);
        // Frames 2 to 7 shown by Apply and N in turn; the target clicked on 2, 3 and 5.
        auto at = [](int k) { return cv::Point(targetCentre(k, {640, 480})); };
        for (int k = 2; k < 9; ++k) {
            k % 2 ? QTest::keyClick(&w, Qt::Key_N)
                  : QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
            if (k == 2 || k == 3 || k == 5)
                QTest::mouseClick(w.manualView_->viewport(), Qt::LeftButton, {},
                                  viewPointFor(w, at(k).x, at(k).y, 640, 480));
        }
        const float y[] = {float(at(2).y), float(at(3).y), float(at(5).y)};
        // As measured when frame 7 was shown, from the clicks and their frames' times.
        const float v1 = (y[1] - y[0]) * 10 / 1, v2 = (y[2] - y[1]) * 10 / 2;
        QCOMPARE(w.live_.barVy_, std::deque<float>({v1, v2}));
        QCOMPARE(
            QList<float>(
                {w.measure_.height_, w.measure_.maxHeight_, w.measure_.vy_, w.measure_.maxVy_}),
            QList<float>({23 - (y[2] - y[0]) / 2, 23 + (y[0] - std::min({y[0], y[1], y[2]})) / 2,
                          -v2 / 2, std::max({0.f, -v1, -v2}) / 2}));
        QTest::keyClick(&w, Qt::Key_R);
        // The last Apply wrote each frame shown, untouched where nothing is drawn.
        QStringList movies = work.outputMovies();
        QCOMPARE(movies.size(), 2);
        movies.removeAll(QFileInfo(QString::fromStdString(w.rec_.recFileName_)).fileName());
        const auto written = readAllFrames(work.path("output/" + movies.value(0)));
        QVERIFY(written.size() == 6 && written[0].size() == cv::Size(640, 480));
        const cv::Rect bottom(0, 455, 200, 25);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(frameMark(written[i]), 2 + i);
            QVERIFY(cv::norm(written[i](bottom), syntheticFrame(2 + i, {640, 480})(bottom),
                             cv::NORM_INF) < 96);
        }
    }
    void noManualMovieOnAnEmptyRange()
    {
        WorkDir work;
        MainWindow w;
        startManual(w, work, 4, 4);
        QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
        QCOMPARE(w.promptLabel_->text(), QString("No frame was shown: no movie written."));
        QVERIFY(work.outputMovies().isEmpty());
    }
    // The slider cannot choose an end past the movie; the end is kept within it all the same.
    void rangeEndsWithTheMovie()
    {
        QCOMPARE(manualRangeEnd(12, 10), 10);
        QVERIFY(manualPhaseOver(10, 12, 10) && !manualPhaseOver(9, 12, 10));
    }
};

QTEST_MAIN(TstMovieManualAnalysis)
#include "tst_movie_manual_analysis.moc"
