#include <cmath>
#include <memory>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "analysis/manual_analysis.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "movie_test_support.h"
#include "test_support.h"

namespace
{

// The target of frame i is a white 40 x 40 square centred on (320, kRows[i]).
// The rows are those of the worked example (400, 380, 300, 320) and then a
// quick rise, so clicking the target of each shown frame gives known values.
const std::vector<int> kRows = {400, 380, 300, 320, 260, 240, 220, 200, 180, 160};
constexpr int kTargetX = 320;
constexpr double kMovieFps = 10.0;
const cv::Scalar kBackground(90, 90, 90);

cv::Mat targetFrame(int row)
{
    cv::Mat frame(480, 640, CV_8UC3, kBackground);
    cv::rectangle(frame, cv::Rect(kTargetX - 20, row - 20, 40, 40), cv::Scalar::all(255),
                  cv::FILLED);
    return frame;
}

bool writeTargetMovie(const QString& path)
{
    cv::VideoWriter writer(path.toStdString(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                           kMovieFps, cv::Size(640, 480), true);
    if (!writer.isOpened())
        return false;
    for (int row : kRows)
        writer.write(targetFrame(row));
    return true;
}

bool isWhite(const cv::Vec3b& p)
{
    return p[0] > 200 && p[1] > 200 && p[2] > 200;
}

bool isPathGreen(const cv::Vec3b& p)
{
    return p[1] > 200 && p[0] < 60 && p[2] < 60;
}

// Inside the overlay box (415..635 x 3..143), below and right of its text:
// the half-transparent black halves the background there.
bool boxDrawnAt(const cv::Mat& image)
{
    return image.at<cv::Vec3b>(140, 630)[0] < 70;
}

} // namespace

class TestMovieManual : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString oldDir_;
    std::unique_ptr<MainWindow> w_;

    void pressButton(const char* text)
    {
        for (QPushButton* button : w_->findChildren<QPushButton*>()) {
            if (button->text() == text) {
                QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
        }
        QFAIL("no such button");
    }

    // The frame pixel (fx, fy) as a point of the manual viewport, by the
    // centring offset the window computes from its view size.
    QPoint viewPoint(int fx, int fy) const
    {
        const float offx = static_cast<float>((w_->viewWidth_ - w_->movieWidth) * 0.5);
        const float offy = static_cast<float>((w_->viewHeight_ - w_->movieHeight) * 0.5);
        return QPoint(fx + static_cast<int>(std::ceil(offx)),
                      fy + static_cast<int>(std::ceil(offy)));
    }

    void clickFrame(int fx, int fy)
    {
        QTest::mouseClick(w_->manualView_->viewport(), Qt::LeftButton, {}, viewPoint(fx, fy));
    }

    // The target of the frame the manual view shows.
    void clickTargetOf(int frame) { clickFrame(kTargetX, kRows[frame]); }

    // "Analysis", the slider to the start and end frames with Apply after
    // each. The movie has 10 frames: slider value 100 * f is frame f.
    void chooseRange(int start, int end)
    {
        pressButton("Analysis");
        w_->animeSlider_->setValue(start * 100);
        pressButton("Apply");
        w_->animeSlider_->setValue(end * 100);
        pressButton("Apply");
        QCOMPARE(w_->analysis_start_frame, start);
        QCOMPARE(w_->analysis_end_frame, end);
        QCOMPARE(w_->step_, 2);
    }

    // The sampling-area drag over a plate 90 pixels high, pressed at frame
    // point (100, 100): press, several moves, release on the manual view.
    void setSamplingArea()
    {
        QWidget* viewport = w_->manualView_->viewport();
        QTest::mousePress(viewport, Qt::LeftButton, {}, viewPoint(100, 100));
        for (int i = 1; i <= 3; ++i)
            QTest::mouseMove(viewport, viewPoint(100 + 20 * i, 100 + 30 * i));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, viewPoint(160, 190));
        QCOMPARE(w_->platePixel_, 90.0f);
        QCOMPARE(w_->baseY_, 145);
        QCOMPARE(w_->templateMat.cols, 60);
        QCOMPARE(w_->templateMat.rows, 90);
    }

    void startManualAnalysis()
    {
        QCOMPARE(w_->promptLabel_->text(), QString("Please drag sampling area and press [Apply]:"));
        pressButton("Apply");
    }

private slots:
    void init()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        oldDir_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        const QString movie = dir_->filePath("lift.avi");
        QVERIFY(writeTargetMovie(movie));

        w_ = std::make_unique<MainWindow>();
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
        w_->tabWidget_->setCurrentIndex(2);

        movietest::answerNextFileDialog(movie);
        w_->movieManualAction_->trigger();
        QCOMPARE(w_->movie_frame_num, static_cast<int>(kRows.size()));
        QCOMPARE(w_->movieFPS, static_cast<float>(kMovieFps));
        QTRY_VERIFY(w_->viewWidth_ > 0 && w_->viewHeight_ > 0);
    }

    void cleanup()
    {
        w_.reset();
        QDir::setCurrent(oldDir_);
        dir_.reset();
        resetEnvironment();
    }

    void measurementArithmetic()
    {
        // The worked example goes through the window below; here the cases
        // the test movie cannot give. Every row below the first: no rise.
        QCOMPARE(maxRisePixels({400, 410, 450}, 400), 0.0f);
        QCOMPARE(maxUpwardVelocityPixels({200, -450, -100}), 450.0f);
        QCOMPARE(maxUpwardVelocityPixels({200, 100}), 0.0f);

        float vy = 7.0f;
        QVERIFY(clickVelocity(11, 200.0f, 12, 185.0f, 30.0f, vy));
        QCOMPARE(vy, -450.0f);
        // Same frame, or a movie without a rate: no time, no velocity.
        vy = 7.0f;
        QVERIFY(!clickVelocity(12, 185.0f, 12, 170.0f, 30.0f, vy));
        QVERIFY(!clickVelocity(12, 185.0f, 12, 185.0f, 30.0f, vy));
        QVERIFY(!clickVelocity(11, 200.0f, 12, 185.0f, 0.0f, vy));
        QCOMPARE(vy, 7.0f);

        QVERIFY(!plateCalibrated(0.0f));
        QVERIFY(!plateCalibrated(std::nanf("")));
        QVERIFY(plateCalibrated(90.0f));

        QVERIFY(!manualPhaseOver(2, 5, 10));
        QVERIFY(manualPhaseOver(5, 5, 10));
        QVERIFY(manualPhaseOver(3, 2, 10));   // end before start
        QVERIFY(manualPhaseOver(10, 10, 10)); // start at the movie's end
        QVERIFY(manualPhaseOver(10, 12, 10)); // end past the movie
    }

    // Clicks on the frames 0 to 4 at the target rows 400, 380, 300, 320, 260
    // of a 10 fps movie, 90 pixels for 45 cm, 23 cm initial height.
    void workedExampleThroughTheWindow()
    {
        chooseRange(0, 6);
        setSamplingArea();
        startManualAnalysis();
        QCOMPARE(w_->step_, 3);
        QCOMPARE(w_->promptLabel_->text(), QString("Please press apply to progress:"));
        QVERIFY(w_->barX_.empty()); // the 50 start entries are gone

        for (int shown = 0; shown < 4; ++shown) {
            pressButton("Apply"); // shows frame `shown`
            clickTargetOf(shown);
        }
        pressButton("Apply"); // measures the four clicks
        QCOMPARE(w_->barY_, std::deque<float>({400, 380, 300, 320}));
        QCOMPARE(w_->barFrame_, std::deque<int>({1, 2, 3, 4}));
        QCOMPARE(w_->baseY_, 400);
        QCOMPARE(w_->maxHeight_, 73.0f);
        QCOMPARE(w_->height_, 63.0f);
        // 10 fps: -20, -80 and +20 pixels in 0.1 s.
        QCOMPARE(w_->barVy_, std::deque<float>({-200, -800, 200}));
        QCOMPARE(w_->maxVy_, 400.0f);
        QCOMPARE(w_->vy_, -100.0f);

        clickTargetOf(4); // 320 -> 260: -600 pixels per second
        pressButton("Apply");
        QCOMPARE(w_->barVy_.back(), -600.0f);
        QCOMPARE(w_->vy_, 300.0f);
        QCOMPARE(w_->maxVy_, 400.0f);
        QCOMPARE(w_->step_, 4);

        // Snapshot 4 shows frame 4, the green path through the clicks so far
        // and the box.
        QCOMPARE(static_cast<int>(w_->frameList_.size()), 6);
        const cv::Mat& snap = w_->frameList_[4];
        QCOMPARE(snap.cols, 640);
        QCOMPARE(snap.rows, 480);
        QVERIFY(isWhite(snap.at<cv::Vec3b>(kRows[4], kTargetX + 15)));
        QVERIFY(!isWhite(snap.at<cv::Vec3b>(kRows[0], kTargetX + 15)));
        QVERIFY(isPathGreen(snap.at<cv::Vec3b>(390, kTargetX)));
        QVERIFY(isPathGreen(snap.at<cv::Vec3b>(340, kTargetX)));
        QVERIFY(boxDrawnAt(snap));
    }

    void threeFrameRangeGivesThreeStepsAndAThreeFrameMovie()
    {
        chooseRange(2, 5);
        setSamplingArea();
        startManualAnalysis();
        QCOMPARE(w_->manualFrame_, 2);

        // Apply and N both step; the third step ends the phase.
        pressButton("Apply");
        clickTargetOf(2);
        QTest::keyClick(w_.get(), Qt::Key_N);
        QCOMPARE(w_->step_, 3);
        clickTargetOf(3);
        QTest::keyClick(w_.get(), Qt::Key_N);
        QCOMPARE(w_->step_, 4);
        QCOMPARE(w_->manualFrame_, 5);
        QCOMPARE(static_cast<int>(w_->frameList_.size()), 3);
        QCOMPARE(w_->promptLabel_->text(), QString("Please press apply to progress:"));

        // Further N presses do nothing once the phase is over.
        QTest::keyClick(w_.get(), Qt::Key_N);
        QCOMPARE(static_cast<int>(w_->frameList_.size()), 3);
        QCOMPARE(w_->manualFrame_, 5);
        QVERIFY(movietest::outputMovies().isEmpty());

        pressButton("Apply");
        QCOMPARE(w_->step_, 5);
        const QStringList movies = movietest::outputMovies();
        QCOMPARE(movies.size(), 1);
        const std::vector<cv::Mat> frames = readAllFrames("output/" + movies.front());
        QCOMPARE(static_cast<int>(frames.size()), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(frames[i].cols, 640);
            QCOMPARE(frames[i].rows, 480);
            QVERIFY(isWhite(frames[i].at<cv::Vec3b>(kRows[2 + i], kTargetX + 15)));
        }
        QVERIFY(boxDrawnAt(frames[2]));
        // The images stay until the next manual analysis starts.
        QCOMPARE(static_cast<int>(w_->frameList_.size()), 3);

        // A final step: Apply changes nothing more.
        pressButton("Apply");
        QCOMPARE(w_->step_, 5);
        QCOMPARE(movietest::outputMovies().size(), 1);
    }

    void nKeyOnlyStepsOnTheManualTabInTheClickStep()
    {
        chooseRange(0, 5);
        setSamplingArea();
        QTest::keyClick(w_.get(), Qt::Key_N); // step 2
        QCOMPARE(w_->step_, 2);
        QCOMPARE(w_->manualFrame_, 0);
        startManualAnalysis();

        w_->tabWidget_->setCurrentIndex(1);
        QTest::keyClick(w_.get(), Qt::Key_N); // step 3, other tab
        QCOMPARE(w_->manualFrame_, 0);
        QVERIFY(w_->frameList_.empty());

        w_->tabWidget_->setCurrentIndex(2);
        QTest::keyClick(w_.get(), Qt::Key_N);
        QCOMPARE(w_->manualFrame_, 1);
        QCOMPARE(static_cast<int>(w_->frameList_.size()), 1);
        QTest::keyClick(w_.get(), Qt::Key_X); // other keys do nothing
        QCOMPARE(w_->manualFrame_, 1);
    }

    void oneClickGivesTheInitialHeight()
    {
        chooseRange(1, 4);
        setSamplingArea();
        w_->vy_ = 12.0f;
        w_->maxVy_ = 34.0f;
        startManualAnalysis();
        pressButton("Apply");
        // Before any click: the picture, the box with the earlier values, no path.
        QCOMPARE(w_->baseY_, 145);
        QCOMPARE(w_->vy_, 12.0f);
        QVERIFY(boxDrawnAt(w_->frameList_[0]));

        clickTargetOf(1);
        pressButton("Apply");
        // The first click's row replaces the drag's height reference.
        QCOMPARE(w_->baseY_, kRows[1]);
        QCOMPARE(w_->height_, 23.0f);
        QCOMPARE(w_->maxHeight_, 23.0f);
        QCOMPARE(w_->vy_, 12.0f);
        QCOMPARE(w_->maxVy_, 34.0f);
        QVERIFY(w_->barVy_.empty());
        // One point, no line: nothing green below the box's green text.
        cv::Mat green;
        cv::inRange(w_->frameList_[1](cv::Rect(0, 150, 640, 330)), cv::Scalar(0, 200, 0),
                    cv::Scalar(60, 255, 60), green);
        QCOMPARE(cv::countNonZero(green), 0);
    }

    void withoutSamplingAreaNothingIsMeasured()
    {
        chooseRange(0, 3);
        QVERIFY(w_->templateMat.empty()); // emptied by "Analysis"
        w_->platePixel_ = 90.0f;
        w_->height_ = 5.0f;
        w_->maxHeight_ = 6.0f;
        w_->vy_ = 7.0f;
        w_->maxVy_ = 8.0f;
        w_->baseY_ = 123;
        startManualAnalysis();
        pressButton("Apply");
        clickTargetOf(0);
        pressButton("Apply");
        clickTargetOf(1);
        pressButton("Apply");
        QCOMPARE(w_->step_, 4);
        QCOMPARE(w_->height_, 5.0f);
        QCOMPARE(w_->maxHeight_, 6.0f);
        QCOMPARE(w_->vy_, 7.0f);
        QCOMPARE(w_->maxVy_, 8.0f);
        QCOMPARE(w_->baseY_, 123);
        QCOMPARE(static_cast<int>(w_->frameList_.size()), 3);
        // The path is drawn, the box is not.
        const cv::Mat& snap = w_->frameList_[2];
        QVERIFY(isPathGreen(snap.at<cv::Vec3b>(390, kTargetX)));
        QVERIFY(!boxDrawnAt(snap));
    }

    void noInfinityOrNanOnScreenOrInTheMovie()
    {
        chooseRange(0, 4);
        setSamplingArea();
        startManualAnalysis();
        pressButton("Apply");
        clickTargetOf(0);
        pressButton("Apply");
        // Two clicks on the same shown frame: the second corrects the point
        // but gives no velocity.
        clickFrame(kTargetX, 390);
        clickTargetOf(1);
        QCOMPARE(w_->barY_, std::deque<float>({400, 390, 380}));
        QCOMPARE(w_->barVy_, std::deque<float>({-100}));
        pressButton("Apply");
        QVERIFY(std::isfinite(w_->vy_) && std::isfinite(w_->maxVy_));
        QCOMPARE(w_->vy_, 50.0f);

        // A template without a calibration measures nothing.
        w_->platePixel_ = 0.0f;
        clickTargetOf(2);
        pressButton("Apply");
        QCOMPARE(w_->step_, 4);
        QCOMPARE(w_->height_, 33.0f);
        QCOMPARE(w_->vy_, 50.0f);
        for (float v : {w_->height_, w_->maxHeight_, w_->vy_, w_->maxVy_})
            QVERIFY(std::isfinite(v));
        QVERIFY(boxDrawnAt(w_->frameList_[3]));
    }

    void emptyRangesEndAtOnceAndWriteNothing()
    {
        // End before start.
        chooseRange(5, 3);
        setSamplingArea();
        pressButton("Apply");
        QCOMPARE(w_->step_, 4);
        QVERIFY(w_->promptLabel_->text().startsWith("No frame between start and end"));
        QTest::keyClick(w_.get(), Qt::Key_N);
        QVERIFY(w_->frameList_.empty());
        pressButton("Apply");
        QCOMPARE(w_->step_, 5);
        QVERIFY(movietest::outputMovies().isEmpty());

        // Start at the slider's end, one past the last frame.
        chooseRange(10, 10);
        pressButton("Apply");
        QCOMPARE(w_->step_, 4);
        QVERIFY(w_->frameList_.empty());
    }

    void framesTheMovieLacksEndThePhase()
    {
        // A header that promises more frames than the file holds.
        chooseRange(8, 10);
        w_->movie_frame_num = 14;
        w_->analysis_end_frame = 14;
        setSamplingArea();
        startManualAnalysis();
        for (int i = 0; i < 3; ++i)
            pressButton("Apply");
        QCOMPARE(w_->step_, 4);
        QCOMPARE(static_cast<int>(w_->frameList_.size()), 2);
        QCOMPARE(w_->manualFrame_, 10);
        QCOMPARE(w_->promptLabel_->text(),
                 QString("Frame 10 cannot be read: press [Apply] to write the movie of the "
                         "frames shown."));
        pressButton("Apply"); // nothing more is asked of the movie
        QCOMPARE(w_->step_, 5);
        const QStringList movies = movietest::outputMovies();
        QCOMPARE(movies.size(), 1);
        QCOMPARE(static_cast<int>(readAllFrames("output/" + movies.front()).size()), 2);
    }

    void clearedItemsAreForgotten()
    {
        QVERIFY(w_->movieRectItem_ && w_->movieRectItem_->scene() == &w_->manualScene_);
        QVERIFY(w_->framePixmapItem_ && w_->framePixmapItem_->scene() == &w_->manualScene_);
        chooseRange(0, 5);
        setSamplingArea();
        startManualAnalysis();
        pressButton("Apply");
        QCOMPARE(w_->movieRectItem_, nullptr);
        QCOMPARE(w_->framePixmapItem_, nullptr);

        // The slider and a drag afterwards work on live items only.
        w_->animeSlider_->setValue(300);
        QVERIFY(w_->framePixmapItem_ && w_->framePixmapItem_->scene() == &w_->manualScene_);
        QTest::mousePress(w_->manualView_->viewport(), Qt::LeftButton, {}, viewPoint(100, 100));
        for (int i = 1; i <= 4; ++i)
            QTest::mouseMove(w_->manualView_->viewport(), viewPoint(100 + 10 * i, 100 + 10 * i));
        QTest::mouseRelease(w_->manualView_->viewport(), Qt::LeftButton, {}, viewPoint(140, 140));
        pressButton("Apply");
        QCOMPARE(static_cast<int>(w_->frameList_.size()), 2);
    }

    void snapshotsOfAnotherSizeAreFittedNotDropped()
    {
        // A box placed past the right edge widens the manual scene.
        w_->textBoxX_ = 560;
        chooseRange(0, 2);
        setSamplingArea();
        startManualAnalysis();
        pressButton("Apply");
        clickTargetOf(0);
        pressButton("Apply");
        QVERIFY(w_->frameList_[1].cols >= 780);
        pressButton("Apply");
        const QStringList movies = movietest::outputMovies();
        QCOMPARE(movies.size(), 1);
        const std::vector<cv::Mat> frames = readAllFrames("output/" + movies.front());
        QCOMPARE(static_cast<int>(frames.size()), 2);
        QCOMPARE(frames[1].cols, 640);
        QVERIFY(isWhite(frames[1].at<cv::Vec3b>(kRows[1], kTargetX + 15)));
    }

    void aRunningRecordingIsLeftAlone()
    {
        chooseRange(0, 2);
        setSamplingArea();
        startManualAnalysis();
        pressButton("Apply");
        pressButton("Apply");
        QCOMPARE(w_->step_, 4);

        // A recording starts: it owns its writer and the frame buffer.
        const std::string recName = "output/recording.avi";
        QVERIFY(w_->recWriter_.open(recName, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10.0,
                                    cv::Size(640, 480), true));
        w_->recState_ = 1;
        w_->frameList_.assign(1, solidFrame(640, 480));
        w_->frameFlags_.assign(1, 1);

        pressButton("Apply");
        QCOMPARE(w_->step_, 4);
        QVERIFY(w_->promptLabel_->text().startsWith("Recording in progress"));
        QCOMPARE(static_cast<int>(w_->frameList_.size()), 1);
        QCOMPARE(static_cast<int>(w_->frameFlags_.size()), 1);
        QVERIFY(w_->recWriter_.isOpened());
        QVERIFY(!w_->videoWriter_.isOpened());
        QCOMPARE(movietest::outputMovies().size(), 0);

        // Once it is stopped, its frames do not become the manual movie.
        w_->recWriter_.write(w_->frameList_[0]);
        w_->recWriter_.release();
        w_->recState_ = 0;
        pressButton("Apply");
        QCOMPARE(w_->step_, 5);
        QCOMPARE(movietest::outputMovies().size(), 0);
        QCOMPARE(static_cast<int>(readAllFrames(QString::fromStdString(recName)).size()), 1);
    }
};

QTEST_MAIN(TestMovieManual)
#include "tst_movie_manual.moc"
