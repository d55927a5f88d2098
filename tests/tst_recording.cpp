#include <ctime>

#include <opencv2/imgcodecs.hpp>

#include "support.h"
#include "video/output_naming.h"
#include "video/recording.h"

// How close a picture stays to itself through JPEG at the recording writer's quality (95).
static double jpegPsnr(const cv::Mat& image)
{
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", image, jpeg, {cv::IMWRITE_JPEG_QUALITY, 95});
    return cv::PSNR(cv::imdecode(jpeg, cv::IMREAD_COLOR), image);
}

static void writeScript(const QString& path, const QByteArray& text)
{
    QFile script(path);
    QVERIFY(script.open(QIODevice::WriteOnly) && script.write(text) > 0);
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
}

class TstRecording : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    // Each recorded tick, by its camera picture ('x') or none ('-'), as the marks
    // of the file's frames (-1: black).
    void recordingThroughTheLiveLoop_data()
    {
        QTest::addColumn<QString>("ticks");
        QTest::addColumn<QList<int>>("marks");
        QTest::addColumn<QString>("ffmpeg"); // "real", a script in the working directory, or none
        QTest::addColumn<bool>("close");     // else R stops
        const QList<int> five{0, 1, 2, 3, 4};
        const QString none, real("real"), fails("#!/bin/sh\nexit 3\n"), empty("#!/bin/sh\n");
        QTest::newRow("no ffmpeg") << "xxxxx" << five << none << false;
        QTest::newRow("ffmpeg re-encodes") << "xxxxx" << five << real << false;
        QTest::newRow("ffmpeg fails") << "xxxxx" << five << fails << false;
        QTest::newRow("ffmpeg writes nothing") << "xxxxx" << five << empty << false;
        QTest::newRow("window closed") << "xxxxx" << five << none << true;
        QTest::newRow("held, then a picture")
            << "--x-x" << QList<int>{2, 2, 2, 2, 4} << none << false;
        QTest::newRow("repeated after a picture")
            << "x--x" << QList<int>{0, 0, 0, 3} << none << false;
        QTest::newRow("never a picture") << "---" << QList<int>{-1, -1, -1} << none << true;
    }
    void recordingThroughTheLiveLoop()
    {
        QFETCH(QString, ticks);
        QFETCH(QList<int>, marks);
        QFETCH(QString, ffmpeg);
        QFETCH(bool, close);
        if (ffmpeg == "real")
            REQUIRE_FFMPEG();
        WorkDir dir;
        if (ffmpeg == "real")
            QVERIFY(QFile::link(ffmpegPath(), dir.path("ffmpeg")));
        else if (!ffmpeg.isEmpty())
            writeScript(dir.path("ffmpeg"), ffmpeg.toLatin1());
        auto first = std::make_shared<int>(1 << 20); // the read of the first recorded tick
        FakeRig rig = installFakeRig([=](int k) {
            const int t = k - *first;
            return t < 0                                 ? syntheticFrame(100, {640, 480})
                   : t < ticks.size() && ticks[t] == 'x' ? syntheticFrame(t, {640, 480})
                                                         : cv::Mat();
        });
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_COMPARE(w.camera_.frameCount_, 1); // a picture is shown
        *first = rig.camera->reads;
        QTest::keyClick(&w, Qt::Key_R);
        QVERIFY(w.rec_.recState_ == 1 && !w.fpsMenu_->isEnabled()); // the file's rate is fixed
        std::vector<cv::Mat> shown; // the live view at each recorded tick
        for (int i = 0; i < ticks.size(); ++i) {
            if (i > 0)
                nextTick(rig, 84);
            QTRY_COMPARE(w.camera_.frameCount_, i + 1);
            shown.push_back(sceneSnapshot(&w.liveScene_, false));
        }
        if (close)
            QVERIFY(w.close());
        else
            QTest::keyClick(&w, Qt::Key_R);
        QVERIFY(w.rec_.recState_ == 0 && w.fpsMenu_->isEnabled());
        const QStringList movies = dir.outputMovies();
        const QString recording = QFileInfo(QString::fromStdString(w.rec_.recFileName_)).fileName();
        QCOMPARE(movies.size(), 1);
        QCOMPARE(movies[0] != recording, ffmpeg == "real"); // else the recording itself stays
        // Its numbers beside the movie that is kept, a row for each recorded tick.
        const QString base = dir.path("output/" + QFileInfo(movies[0]).completeBaseName());
        QCOMPARE(csvLines(base + ".csv").size(), marks.size() + 1);
        QVERIFY(QFile::exists(base + ".png"));
        const QString name = QFileInfo(base).fileName();
        QCOMPARE(QDir(dir.path("output")).entryList({"*.csv"}),
                 QStringList({name + ".csv", name + ".phases.csv"}));
        const std::vector<cv::Mat> frames = readAllFrames(dir.path("output/" + movies[0]));
        QCOMPARE(int(frames.size()), marks.size());
        const QRectF r = w.liveScene_.sceneRect(); // the picture's place in the scene
        const cv::Rect picture(cvRound(-r.x()), cvRound(-r.y()), 640, 480);
        const cv::Rect belowRec(0, 80, int(r.width()), int(r.height()) - 80); // never recorded
        for (int i = 0; i < marks.size(); ++i) {
            QCOMPARE(frames[i].size(), shown[0].size()); // the scene as at the start
            if (marks[i] < 0) {
                QVERIFY(cv::norm(frames[i], cv::NORM_INF) < 16);
                continue;
            }
            QCOMPARE(frameMark(frames[i](picture)), marks[i]);
            const cv::Mat seen = shown[size_t(marks[i])](belowRec);
            if (ffmpeg != "real") // as shown, within the loss of its JPEG quality
                QVERIFY(cv::PSNR(frames[i](belowRec), seen) >= jpegPsnr(seen) - 1);
        }
    }
    void failedWriteKeepsTheFile()
    {
        WorkDir dir;
        writeScript(dir.path("ffmpeg"), "#!/bin/sh\ntouch ran\nexit 0\n");
        FakeRig rig = installFakeRig([](int k) { return noiseFrame(640, 480, k); });
        MainWindow w;
        QTRY_COMPARE(w.camera_.frameCount_, 1);
        QVERIFY(w.rec_.ffmpegFlag == 1);
        {
            const FileSizeLimit limit(200000); // a few noisy frames
            QTest::keyClick(&w, Qt::Key_R);
            for (int i = 0; i < 60 && w.rec_.recState_ == 1; ++i)
                nextTick(rig, 84);
        }
        QCOMPARE(w.rec_.recState_, 0);
        QCOMPARE(w.promptLabel_->text(), QString("The recording could not be written "
                                                 "completely: what was written is kept."));
        QCOMPARE(dir.outputMovies().size(), 1);
        QVERIFY(QFileInfo(dir.path("output/" + dir.outputMovies()[0])).size() > 0);
        QVERIFY(!QFile::exists(dir.path("ran"))); // no re-encode of a broken file
    }
    // More room for larger or faster recordings; never none; no rate counts as 30 fps.
    void diskReserve()
    {
        const auto r = [](int w, int h, double fps) { return recordingDiskReserve({w, h}, fps); };
        QVERIFY(r(320, 240, 30) < r(640, 480, 30) && r(640, 480, 10) < r(640, 480, 60));
        QVERIFY(r(0, 0, 30) > 0 && r(640, 480, 0) == r(640, 480, 30));
        QCOMPARE(r(64, 48, -5), r(64, 48, 30));
    }
    // R typed into the focused Weight box records; digits still go into the box.
    void namesInOneSecondStayApart()
    {
        WorkDir dir;
        FakeRig rig = installFakeRig([](int k) { return syntheticFrame(k, {640, 480}); });
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.weightSpinBox_->setFocus();
        w.weightSpinBox_->selectAll();
        QTRY_COMPARE(w.camera_.frameCount_, 1);
        // Both recordings begin within one second: the second name waits for the next stamp.
        const std::time_t begin = std::time(nullptr);
        while (std::time(nullptr) == begin)
            QTest::qWait(2);
        for (int ticks = 1; ticks <= 2; ++ticks) {
            QCOMPARE(std::time(nullptr), begin + 1);
            QTest::keyClick(w.weightSpinBox_, Qt::Key_R);
            QTRY_COMPARE(w.camera_.frameCount_, 1);
            QTest::keyClicks(w.weightSpinBox_, QString::number(ticks));
            for (int i = 1; i < ticks; ++i)
                nextTick(rig, 84);
            QTRY_COMPARE(w.camera_.frameCount_, ticks);
            QTest::keyClick(w.weightSpinBox_, Qt::Key_R);
        }
        QCOMPARE(w.weightSpinBox_->text(), QString("12"));
        const QStringList movies = dir.outputMovies();
        QCOMPARE(movies.size(), 2);
        QCOMPARE(readAllFrames(dir.path("output/" + movies[0])).size(), size_t(1));
        QCOMPARE(readAllFrames(dir.path("output/" + movies[1])).size(), size_t(2));
        // Taken for longer than the wait (this second and the next two): a counter, never
        // the old file.
        for (std::time_t t = std::time(nullptr); t < begin + 6; ++t) {
            std::tm local{};
            localtime_r(&t, &local);
            QFile taken(QString::fromStdString(outputFileName(formatStamp(local), "avi")));
            QVERIFY(taken.open(QIODevice::WriteOnly));
        }
        const QString name = QString::fromStdString(makeOutputFileName("avi"));
        QVERIFY2(name.endsWith("_2.avi") && !QFile::exists(name), qPrintable(name));
    }
};

QTEST_MAIN(TstRecording)
#include "tst_recording.moc"
