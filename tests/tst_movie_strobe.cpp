#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

#include <opencv2/imgcodecs.hpp>

#include "app/mainwindow.h"
#include "movie_test_support.h"
#include "strobe_oracle.h"
#include "test_support.h"

namespace {

void typeInto(QSpinBox* box, int value)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QString::number(value));
    QTest::keyClick(box, Qt::Key_Return);
}

struct Written {
    int reportedFrames = 0;
    int decodedFrames = 0;
    double fps = 0;
};

Written inspect(const QString& file)
{
    Written w;
    cv::VideoCapture capture(file.toStdString());
    w.reportedFrames = static_cast<int>(capture.get(cv::CAP_PROP_FRAME_COUNT));
    w.fps = capture.get(cv::CAP_PROP_FPS);
    cv::Mat f;
    while (capture.read(f) && !f.empty())
        ++w.decodedFrames;
    return w;
}

} // namespace

class TestMovieStrobe : public QObject
{
    Q_OBJECT

    QTemporaryDir* dir_ = nullptr;
    QString oldCurrent_;

    // Opens the scene movie through the real menu action and dialog, then
    // chooses the range start..end with Analysis, the slider and Apply.
    void makeMovie(MainWindow& w, QAction* action, int startValue, int endValue)
    {
        movietest::answerNextFileDialog(QDir::current().absoluteFilePath("scene.avi"));
        action->trigger();
        QCOMPARE(w.movie_frame_num, 60);
        w.tabWidget_->setCurrentIndex(3);
        QTest::mouseClick(movietest::button(w, "Analysis"), Qt::LeftButton);
        w.animeSlider_->setValue(startValue);
        QTest::mouseClick(movietest::button(w, "Apply"), Qt::LeftButton);
        w.animeSlider_->setValue(endValue);
        QTest::mouseClick(movietest::button(w, "Apply"), Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        dir_ = new QTemporaryDir;
        QVERIFY(dir_->isValid());
        oldCurrent_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        QVERIFY(strobescene::write("scene.avi", 60, 25.0));
    }
    void cleanupTestCase()
    {
        QDir::setCurrent(oldCurrent_);
        delete dir_;
    }
    void init()
    {
        installFakeRig([](int) { return solidFrame(320, 240); });
        QDir("output").removeRecursively();
        QDir("temp").removeRecursively();
    }
    void cleanup() { resetEnvironment(); }

    void typeAEndToEnd()
    {
        MainWindow w;
        typeInto(w.strobeStepSpinBox_, 2);
        typeInto(w.strobeNumberSpinBox_, 5);
        QCOMPARE(w.strobeFrameStep_, 2);
        QCOMPARE(w.strobeFrameNumber_, 5);
        // Start at slider 100 (frame 6), end at the slider's last position:
        // frame 60, one past the last frame, which must never be used.
        makeMovie(w, w.strobeTypeAAction_, 100, 1000);
        QCOMPARE(w.strobeType_, 0);
        QCOMPARE(w.analysis_start_frame, 6);
        QCOMPARE(w.analysis_end_frame, 60);
        QCOMPARE(w.step_, 2);
        QCOMPARE(w.promptLabel_->text(), QString("Now making movie... :"));
        QVERIFY(!w.videoWriter_.isOpened());

        const QStringList movies = movietest::outputMovies();
        QCOMPARE(movies.size(), 1);
        const Written out = inspect("output/" + movies[0]);
        // K = 54 / 2 = 27 gives K - 1 = 26 frames; the last would need frame 60.
        QCOMPARE(out.decodedFrames, 25);
        QCOMPARE(out.reportedFrames, 25);
        QCOMPARE(out.fps, 12.5);
        QVERIFY(!QDir("temp").exists() || QDir("temp").entryList(QDir::Files).isEmpty());
    }

    void typeBEndToEnd()
    {
        MainWindow w;
        typeInto(w.strobeNumberSpinBox_, 5);
        makeMovie(w, w.strobeTypeBAction_, 100, 1000);
        QCOMPARE(w.strobeType_, 1);
        QVERIFY(!w.videoWriter_.isOpened());

        const QStringList movies = movietest::outputMovies();
        QCOMPARE(movies.size(), 1);
        const Written out = inspect("output/" + movies[0]);
        QCOMPARE(out.decodedFrames, 54); // frames 6 to 59
        QCOMPARE(out.reportedFrames, 54);
        QCOMPARE(out.fps, 25.0);

        // Images 1 to 52; image 53 would need frame 60 as its Next.
        QStringList expected;
        for (int offset = 1; offset <= 52; ++offset)
            expected << QString("img_%1.png").arg(offset);
        QStringList onDisk = QDir("temp").entryList(QDir::Files);
        std::sort(expected.begin(), expected.end());
        std::sort(onDisk.begin(), onDisk.end());
        QCOMPARE(onDisk, expected);
        const cv::Mat image = cv::imread("temp/img_10.png", cv::IMREAD_UNCHANGED);
        QCOMPARE(image.type(), CV_8UC3);
        QCOMPARE(image.size(), cv::Size(64, 48));
        // A strobe image keeps the moving blocks only: mostly black, not all.
        cv::Mat gray;
        cv::cvtColor(image, gray, cv::COLOR_BGR2GRAY);
        const int set = cv::countNonZero(gray);
        QVERIFY(set > 0 && set < static_cast<int>(image.total()) / 2);
    }

    void frameStepZeroIsRefused()
    {
        MainWindow w;
        typeInto(w.strobeStepSpinBox_, 0);
        QCOMPARE(w.strobeFrameStep_, 0);
        makeMovie(w, w.strobeTypeBAction_, 0, 500);
        QVERIFY(w.promptLabel_->text().contains("frame step must be 1 or more"));
        QVERIFY(movietest::outputMovies().isEmpty());
        QVERIFY(!QDir("temp").exists());
        QVERIFY(!w.videoWriter_.isOpened());
    }

    void capturesOnAnotherMovieAreRefused()
    {
        MainWindow w;
        movietest::answerNextFileDialog(QDir::current().absoluteFilePath("scene.avi"));
        w.strobeTypeAAction_->trigger();
        QVERIFY(!w.strobeMovieFile_.empty());
        // The same movie opened again in the manual mode: the strobe captures
        // no longer belong to the movie on screen.
        QVERIFY(strobescene::write("other.avi", 30, 25.0));
        movietest::answerNextFileDialog(QDir::current().absoluteFilePath("other.avi"));
        w.movieManualAction_->trigger();
        QCOMPARE(w.movie_frame_num, 30);
        w.tabWidget_->setCurrentIndex(3);
        QTest::mouseClick(movietest::button(w, "Analysis"), Qt::LeftButton);
        w.animeSlider_->setValue(0);
        QTest::mouseClick(movietest::button(w, "Apply"), Qt::LeftButton);
        w.animeSlider_->setValue(900);
        QTest::mouseClick(movietest::button(w, "Apply"), Qt::LeftButton);
        QVERIFY(w.promptLabel_->text().contains("[Strobe TypeA] or [Strobe TypeB]"));
        QVERIFY(movietest::outputMovies().isEmpty());
    }

    void runningRecordingIsNotBroken()
    {
        MainWindow w;
        typeInto(w.strobeNumberSpinBox_, 3);
        const cv::Size recSize(320, 240);
        w.recWriter_.open("recording.avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10.0, recSize, true);
        QVERIFY(w.recWriter_.isOpened());
        w.recState_ = 1;
        w.recWriter_.write(solidFrame(320, 240));
        makeMovie(w, w.strobeTypeAAction_, 0, 500);
        QCOMPARE(movietest::outputMovies().size(), 1);
        QVERIFY(w.recWriter_.isOpened());
        QCOMPARE(w.recState_, 1);
        w.recWriter_.write(solidFrame(320, 240));
        w.recWriter_.release();
        QCOMPARE(inspect("recording.avi").decodedFrames, 2);
    }
};

QTEST_MAIN(TestMovieStrobe)
#include "tst_movie_strobe.moc"
