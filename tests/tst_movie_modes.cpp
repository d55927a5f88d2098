#include <opencv2/imgcodecs.hpp>

#include "support.h"
#include "video/frame_mapping.h"

class TstMovieModes : public QObject
{
    Q_OBJECT
private slots:
    void init() { installFakeRig({}); }
    void cleanup() { resetEnvironment(); }

    // The files a user may pick, each opened in every mode (-1 is "Back").
    void opensOrRefuses_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("a movie") << "good.avi";
        QTest::newRow("dialog cancelled") << "";
        QTest::newRow("missing file") << "gone.avi";
        QTest::newRow("empty file") << "empty.avi";
        // A photo opens and gives a picture, but reports no frames.
        QTest::newRow("not a movie") << "photo.avi";
    }
    void opensOrRefuses()
    {
        QFETCH(QString, name);
        WorkDir work;
        QVERIFY(writeMjpgMovie(work.path("good.avi").toStdString(), 12, {240, 160}, 12.5));
        QVERIFY(cv::imwrite(work.path("photo.jpg").toStdString(), syntheticFrame(3, {240, 160})));
        QVERIFY(QFile::rename(work.path("photo.jpg"), work.path("photo.avi")));
        QVERIFY(QFile(work.path("empty.avi")).open(QIODevice::WriteOnly));
        const bool refused = name != "good.avi";
        // The dialog itself refuses a missing name (once is enough); the user cancels.
        const bool chosen = !name.isEmpty() && QFile::exists(work.path(name));
        MainWindow w;
        QGraphicsScene* scenes[] = {nullptr, &w.autoScene_, &w.manualScene_, &w.strobeScene_};
        for (int entry = -1; entry < (name == "gone.avi" ? 0 : 4); ++entry) {
            w.promptLabel_->setText("before");
            answerNextFileDialog(name.isEmpty() ? name : work.path(name));
            entry < 0 ? QTest::mouseClick(findButton(w, "Back"), Qt::LeftButton)
                      : w.modeMenu_->actions().at(entry)->trigger();
            const int tab = entry < 1 ? 1 : entry == 1 ? 2 : 3;
            // A refused file keeps no capture open; the strobe tab reads through three.
            QCOMPARE(
                QList<bool>({w.movie_.movieCapture1.isOpened(), w.movie_.movieCapture3.isOpened()}),
                QList<bool>({!refused, !refused && tab == 3}));
            QCOMPARE(w.promptLabel_->text(), refused && chosen ? "Movie file invalid." : "before");
            QCOMPARE(shownFrame(w), refused ? -1 : 0);
            QVERIFY(refused || w.movie_.framePixmapItem_->scene() == scenes[tab]);
        }
    }
    void sliderMapping_data()
    {
        // Frames, slider value, its frame, and the value back at that frame.
        QTest::addColumn<QList<int>>("row");
        QTest::newRow("truncated") << QList<int>{301, 500, 150, 498};
        QTest::newRow("last frame") << QList<int>{250, 999, 249, 996};
        // The last position stands for one past the last frame: a range's end.
        QTest::newRow("last position") << QList<int>{301, 1000, 301, 1000};
    }
    void sliderMapping()
    {
        QFETCH(QList<int>, row);
        QCOMPARE(frameFromSlider(row[1], row[0], 1000), row[2]);
        QCOMPARE(sliderForStartFrame(row[2], row[0], 1000), row[3]);
    }
    // MPEG-4 with one keyframe: a frame read without the right seek is another.
    void applyStoresTheRangeAndShowsTheStartAgain()
    {
        REQUIRE_FFMPEG();
        WorkDir work;
        MainWindow w;
        w.tabWidget_->setCurrentIndex(int(Tab::MovieAuto));
        answerNextFileDialog(work.movie("m301.avi", 301, {160, 120}, true, 1000));
        w.movieAutoAction_->trigger();
        QTest::mouseClick(findButton(w, "Analysis"), Qt::LeftButton);
        // Start, frame by frame on, far back; the end at the last position.
        for (int k : {150, -1, 151, 152, 153, 42, 301, -1}) {
            k < 0 ? QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton)
                  : w.animeSlider_->setValue((k * 1000 + 300) / 301);
            QVERIFY(k < 0 || shownFrame(w) == (k < 301 ? k : 42));
        }
        // 498 stands for frame 149, but the target is cut from the start frame.
        QCOMPARE(QList<int>({w.flow_.analysis_start_frame, w.flow_.analysis_end_frame,
                             w.animeSlider_->value(), shownFrame(w)}),
                 QList<int>({150, 301, 498, 150}));
    }
};

QTEST_MAIN(TstMovieModes)
#include "tst_movie_modes.moc"
