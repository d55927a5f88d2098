#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsRectItem>
#include <QLabel>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "app/mainwindow.h"
#include "movie_test_support.h"
#include "test_support.h"
#include "video/movie_reader.h"

using namespace movietest;

namespace
{

const cv::Size kSmall(320, 240);

// Open file descriptors of this process that refer to `path` (Linux only;
// -1 where the process's descriptors cannot be listed).
int openDescriptorsOn(const QString& path)
{
    QDir fds("/proc/self/fd");
    if (!fds.exists())
        return -1;
    const QString target = QFileInfo(path).canonicalFilePath();
    int count = 0;
    for (const QFileInfo& fd : fds.entryInfoList(QDir::NoDotAndDotDot | QDir::System | QDir::Files))
        if (fd.symLinkTarget() == target)
            ++count;
    return count;
}

} // namespace

class TestMovieModes : public QObject
{
    Q_OBJECT

    std::unique_ptr<MovieWorkDir> work_;

    QString path(const QString& name) const { return work_->path(name); }

    QString makeMovie(const QString& name, int frames, cv::Size size = kSmall)
    {
        return work_->movie(name, frames, size);
    }

    QString makeMpeg4Movie(const QString& name, int frames, int gop, cv::Size size = kSmall)
    {
        return work_->movie(name, frames, size, true, gop);
    }

    static void openInAutoMode(MainWindow& w, const QString& file)
    {
        answerNextFileDialog(file);
        w.movieAutoAction_->trigger();
    }

private slots:
    void init()
    {
        work_ = std::make_unique<MovieWorkDir>();
        QVERIFY(work_->isValid());
        installFakeRig([](int) { return solidFrame(640, 480); });
    }

    void cleanup()
    {
        work_.reset();
        resetEnvironment();
    }

    void autoModeOpensThroughTheDialog_data()
    {
        QTest::addColumn<bool>("mpeg4");
        QTest::newRow("mjpg") << false;
        QTest::newRow("mpeg4") << true;
    }

    void autoModeOpensThroughTheDialog()
    {
        QFETCH(bool, mpeg4);
        if (mpeg4)
            MOVIETEST_REQUIRE_FFMPEG();
        const QString file =
            mpeg4 ? makeMpeg4Movie("lift.avi", 30, 250) : makeMovie("lift.avi", 30);
        QVERIFY(!file.isEmpty());
        MainWindow w;
        w.step_ = 2;
        w.promptLabel_->setText("unchanged");

        auto seen = answerNextFileDialog(file);
        w.movieAutoAction_->trigger();
        QVERIFY(seen->seen);
        QCOMPARE(seen->title, QString("Import Motion Data File"));
        QCOMPARE(seen->filters, QStringList({"(*.avi)", "All Files (*)"}));
        QCOMPARE(seen->selectedFilter, QString("(*.avi)"));
        QCOMPARE(seen->directory, QDir::currentPath());

        QVERIFY(w.movieCapture1.isOpened());
        QCOMPARE(w.movie_frame_num, 30);
        QCOMPARE(w.movieWidth, 320);
        QCOMPARE(w.movieHeight, 240);
        QCOMPARE(fixtures::frameMark(w.currentFrameMat), 0);
        QCOMPARE(shownFrame(w), 0);
        QVERIFY(w.framePixmapItem_->scene() == &w.autoScene_);
        QVERIFY(w.movieRectItem_ && w.movieRectItem_->scene() == &w.autoScene_);
        QCOMPARE(w.movieRectItem_->rect(), QRectF(0, 0, 0, 0));
        QCOMPARE(w.movieRectItem_->pen().color(), QColor(Qt::red));
        QCOMPARE(w.autoScene_.items().size(), 2);
        // The Auto mode leaves the rate, the step, the tab and the prompt alone.
        QCOMPARE(w.movieFPS, 0.0f);
        QCOMPARE(w.step_, 2);
        QCOMPARE(w.tabWidget_->currentIndex(), 0);
        QCOMPARE(w.promptLabel_->text(), QString("unchanged"));
        // The capture stands after frame 0.
        QCOMPARE(w.movieCapture1.get(cv::CAP_PROP_POS_FRAMES), 1.0);

        // "Back" opens another movie the same way, replacing the first.
        const QString other = makeMovie("other.avi", 12, cv::Size(240, 160));
        QPushButton* back = button(w, "Back");
        QVERIFY(back);
        seen = answerNextFileDialog(other);
        QTest::mouseClick(back, Qt::LeftButton);
        QVERIFY(seen->seen);
        QCOMPARE(w.movie_frame_num, 12);
        QCOMPARE(w.movieWidth, 240);
        QCOMPARE(w.autoScene_.items().size(), 2);
        QCOMPARE(w.step_, 2);
    }

    void manualAndStrobeModesReadTheRate()
    {
        const QString file = path("rate.avi");
        QVERIFY(fixtures::writeMjpgMovie(file.toStdString(), 10, kSmall, 12.5));
        MainWindow w;
        answerNextFileDialog(file);
        w.movieManualAction_->trigger();
        QCOMPARE(w.movieFPS, 12.5f);
        QVERIFY(w.framePixmapItem_->scene() == &w.manualScene_);
        QVERIFY(w.movieRectItem_->scene() == &w.manualScene_);

        answerNextFileDialog(file);
        w.strobeTypeBAction_->trigger();
        QCOMPARE(w.strobeType_, 1);
        QVERIFY(w.movieCapture1.isOpened() && w.movieCapture2.isOpened() &&
                w.movieCapture3.isOpened());
        QVERIFY(w.framePixmapItem_->scene() == &w.strobeScene_);
        QCOMPARE(w.strobeScene_.items().size(), 1);
        // The manual scene keeps the picture it had.
        QVERIFY(!w.manualScene_.items().isEmpty());

        // Cancelling the dialog still leaves the chosen type.
        answerNextFileDialog(QString());
        w.strobeTypeAAction_->trigger();
        QCOMPARE(w.strobeType_, 0);
        QVERIFY(!w.movieCapture1.isOpened());
    }

    void sliderShowsTheMappedFrame_data()
    {
        QTest::addColumn<bool>("mpeg4");
        QTest::newRow("mjpg") << false;
        QTest::newRow("mpeg4") << true;
    }

    void sliderShowsTheMappedFrame()
    {
        QFETCH(bool, mpeg4);
        if (mpeg4)
            MOVIETEST_REQUIRE_FFMPEG();
        const QString file = mpeg4 ? makeMpeg4Movie("m250.avi", 250, 250, cv::Size(160, 120))
                                   : makeMovie("m250.avi", 250, cv::Size(160, 120));
        QVERIFY(!file.isEmpty());
        MainWindow w;
        openInAutoMode(w, file);
        QCOMPARE(w.movie_frame_num, 250);
        w.tabWidget_->setCurrentIndex(1);

        // Forward, back, and to neighbours: each value shows its own frame.
        const int values[] = {500, 4, 3, 999, 0, 4, 501};
        const int frames[] = {125, 1, 0, 249, 0, 1, 125};
        for (int i = 0; i < 7; ++i) {
            w.animeSlider_->setValue(values[i]);
            QCOMPARE(fixtures::frameMark(w.currentFrameMat), frames[i]);
            QCOMPARE(shownFrame(w), frames[i]);
        }

        // The maximum is one past the last frame: nothing changes on screen.
        const QGraphicsPixmapItem* before = w.framePixmapItem_;
        const uchar* pixels = w.currentFrameMat.data;
        w.animeSlider_->setValue(1000);
        QCOMPARE(w.framePixmapItem_, before);
        QCOMPARE(w.currentFrameMat.data, pixels);
        QCOMPARE(shownFrame(w), 125);

        // On the live tab the movie moves but the auto scene does not.
        w.tabWidget_->setCurrentIndex(0);
        w.animeSlider_->setValue(200);
        QCOMPARE(fixtures::frameMark(w.currentFrameMat), 50);
        QCOMPARE(shownFrame(w), 125);
    }

    void longMovieSkipsFramesOnTheSlider()
    {
        const QString file = makeMovie("m3000.avi", 3000, cv::Size(160, 120));
        MainWindow w;
        openInAutoMode(w, file);
        QCOMPARE(w.movie_frame_num, 3000);
        w.tabWidget_->setCurrentIndex(1);
        w.animeSlider_->setValue(1);
        QCOMPARE(shownFrame(w), 3);
        w.animeSlider_->setValue(0);
        QCOMPARE(shownFrame(w), 0);
    }

    void sliderWithoutMovieChangesNothing()
    {
        MainWindow w;
        w.tabWidget_->setCurrentIndex(1);
        w.animeSlider_->setValue(300);
        w.animeSlider_->setValue(1000);
        QVERIFY(!w.framePixmapItem_);
        QVERIFY(w.autoScene_.items().isEmpty());
        QVERIFY(w.currentFrameMat.empty());
    }

    void badFilesAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("cancelled") << "cancelled";
        QTest::newRow("missing") << "missing";
        QTest::newRow("text named avi") << "text";
        QTest::newRow("header only") << "header";
        QTest::newRow("no frames") << "empty";
        QTest::newRow("garbage after header") << "corrupt";
    }

    void badFilesAreRefused()
    {
        QFETCH(QString, kind);
        const QString good = makeMovie("good.avi", 8);
        QString bad;
        bool bypass = false;
        if (kind == "missing") {
            bad = path("gone.avi");
            bypass = true;
        } else if (kind == "text") {
            bad = path("notes.avi");
            QFile f(bad);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("These are the notes of Tuesday's session, not a movie.\n");
        } else if (kind == "header" || kind == "corrupt") {
            QFile source(good);
            QVERIFY(source.open(QIODevice::ReadOnly));
            QByteArray bytes = source.readAll();
            if (kind == "header") {
                bytes.truncate(1024);
            } else {
                for (qsizetype i = 1024; i < bytes.size(); ++i)
                    bytes[i] = static_cast<char>((i * 7919) & 0xff);
            }
            bad = path(kind + ".avi");
            QFile f(bad);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        } else if (kind == "empty") {
            bad = path("empty.avi");
            cv::VideoWriter writer(bad.toStdString(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                                   25, kSmall, true);
            QVERIFY(writer.isOpened());
            writer.release();
        }

        for (int mode = 0; mode < 3; ++mode) {
            MainWindow w;
            openInAutoMode(w, good);
            QVERIFY(w.movieCapture1.isOpened());
            const QGraphicsPixmapItem* picture = w.framePixmapItem_;
            const int autoItems = w.autoScene_.items().size();
            w.promptLabel_->setText("before");

            auto seen = answerNextFileDialog(bad, bypass);
            QAction* action = mode == 0   ? w.movieAutoAction_
                              : mode == 1 ? w.movieManualAction_
                                          : w.strobeTypeAAction_;
            action->trigger();
            QVERIFY(seen->seen);
            QVERIFY(!w.movieCapture1.isOpened());
            QCOMPARE(w.promptLabel_->text(),
                     kind == "cancelled" ? QString("before") : QString("Movie file invalid."));
            // The scenes keep what they showed.
            QCOMPARE(w.framePixmapItem_, picture);
            QCOMPARE(w.autoScene_.items().size(), autoItems);
            QVERIFY(w.manualScene_.items().isEmpty());
            QVERIFY(w.strobeScene_.items().isEmpty());
            // The slider has nothing to show and the window keeps working.
            w.tabWidget_->setCurrentIndex(1);
            w.animeSlider_->setValue(500);
            QCOMPARE(w.framePixmapItem_, picture);
            openInAutoMode(w, good);
            QVERIFY(w.movieCapture1.isOpened());
            QCOMPARE(w.movie_frame_num, 8);
        }
    }

    void replacedCapturesAreReleased()
    {
        const QString first = makeMovie("first.avi", 5);
        const QString second = makeMovie("second.avi", 5);
        if (openDescriptorsOn(first) < 0)
            QSKIP("open files cannot be listed here");
        MainWindow w;
        answerNextFileDialog(first);
        w.strobeTypeBAction_->trigger();
        QCOMPARE(openDescriptorsOn(first), 3);

        answerNextFileDialog(second);
        w.strobeTypeAAction_->trigger();
        QCOMPARE(openDescriptorsOn(first), 0);
        QCOMPARE(openDescriptorsOn(second), 3);

        // The Auto mode replaces the first capture only.
        openInAutoMode(w, first);
        QCOMPARE(openDescriptorsOn(first), 1);
        QCOMPARE(openDescriptorsOn(second), 2);
        // A failed open lets the old movie go as well.
        answerNextFileDialog(path("missing.avi"), true);
        w.movieAutoAction_->trigger();
        QCOMPARE(openDescriptorsOn(first), 0);
    }

    void readerSeeksOnlyWhenNeeded_data()
    {
        QTest::addColumn<bool>("mpeg4");
        QTest::newRow("mjpg") << false;
        QTest::newRow("mpeg4") << true;
    }

    void readerSeeksOnlyWhenNeeded()
    {
        QFETCH(bool, mpeg4);
        if (mpeg4)
            MOVIETEST_REQUIRE_FFMPEG();
        const QString file =
            mpeg4 ? makeMpeg4Movie("seek.avi", 60, 250) : makeMovie("seek.avi", 60);
        QVERIFY(!file.isEmpty());
        cv::VideoCapture capture(file.toStdString());
        QVERIFY(capture.isOpened());
        cv::Mat frame;
        for (int index : {20, 21, 22, 5, 6, 59, 0, 1}) {
            QVERIFY(readMovieFrame(capture, index, frame));
            QCOMPARE(fixtures::frameMark(frame), index);
            QCOMPARE(capture.get(cv::CAP_PROP_POS_FRAMES), index + 1.0);
        }
        // Past the end: false, and the caller's frame stays as it was.
        const uchar* kept = frame.data;
        QVERIFY(!readMovieFrame(capture, 60, frame));
        QVERIFY(!readMovieFrame(capture, -1, frame));
        QCOMPARE(frame.data, kept);
        cv::VideoCapture closed;
        QVERIFY(!readMovieFrame(closed, 0, frame));
    }
};

QTEST_MAIN(TestMovieModes)
#include "tst_movie_modes.moc"
