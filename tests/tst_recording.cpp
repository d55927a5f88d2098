#include <ctime>

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QtTest>

#include "app/mainwindow.h"
#include "support.h"
#include "video/output_naming.h"
#include "video/recording.h"

static void nextTick(FakeRig& rig) // one more processed tick of the live loop
{
    const int reads = rig.camera->reads;
    advance(rig, 84);
    QTRY_COMPARE(rig.camera->reads, reads + 1);
}

class TstRecording : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    void writeOrder_data()
    {
        QTest::addColumn<QList<int>>("flags");
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("repeat") << QList<int>{0, 0, 1, 0, 1, 0} << QList<int>{2, 2, 2, 2, 4, 4};
        QTest::newRow("captured late") << QList<int>{0, 1, 1, 0} << QList<int>{1, 1, 2, 2};
        QTest::newRow("none captured") << QList<int>{0, 0, 0} << QList<int>{0, 1, 2};
        QTest::newRow("empty") << QList<int>{} << QList<int>{};
    }
    void writeOrder()
    {
        QFETCH(QList<int>, flags);
        QFETCH(QList<int>, order);
        const std::vector<size_t> got = recordingWriteOrder({flags.begin(), flags.end()});
        QCOMPARE(QList<int>(got.begin(), got.end()), order);
    }
    void recordingThroughTheLiveLoop_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::addColumn<bool>("reencoded");
        QTest::addColumn<QString>("ffmpeg"); // "real", a script in the working directory, or none
        QTest::newRow("R, no ffmpeg") << "R" << false << "";
        QTest::newRow("R, ffmpeg re-encodes") << "R" << true << "real";
        QTest::newRow("R, ffmpeg fails") << "R" << false << "#!/bin/sh\nexit 3\n";
        QTest::newRow("R, ffmpeg writes nothing") << "R" << false << "#!/bin/sh\nexit 0\n";
        QTest::newRow("window closed") << "close" << false << "";
        QTest::newRow("buffer full") << "full" << false << "";
    }
    void recordingThroughTheLiveLoop()
    {
        QFETCH(QString, stop);
        QFETCH(bool, reencoded);
        QFETCH(QString, ffmpeg);
        if (ffmpeg == "real")
            REQUIRE_FFMPEG();
        WorkDir dir;
        QFile script(dir.path("ffmpeg"));
        if (ffmpeg == "real")
            QVERIFY(QFile::link(ffmpegPath(), script.fileName()));
        else if (!ffmpeg.isEmpty())
            QVERIFY(script.open(QIODevice::WriteOnly) && script.write(ffmpeg.toLatin1()) > 0 &&
                    script.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        script.close();
        FakeRig rig = installFakeRig([](int k) { return syntheticFrame(k, {640, 480}); });
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_COMPARE(w.frameCount_, 1); // a picture is shown
        QTest::keyClick(&w, Qt::Key_R);
        const QSize size = w.liveScene_.sceneRect().size().toSize();
        if (stop == "full") // room for five pictures
            w.recMemoryLimit_ = size_t(size.width()) * size_t(size.height()) * 3 * 5;
        std::vector<cv::Mat> shown; // what the live view shows at each recorded tick
        for (int i = 0; i < 5; ++i) {
            if (i > 0)
                nextTick(rig);
            QTRY_COMPARE(w.frameCount_, i + 1);
            shown.push_back(MainWindow::sceneSnapshot(&w.liveScene_, false));
        }
        if (stop == "R")
            QTest::keyClick(&w, Qt::Key_R);
        else if (stop == "close")
            QVERIFY(w.close());
        QCOMPARE(w.recState_, 0);
        QCOMPARE(w.promptLabel_->text().startsWith("Memory is running low:"), stop == "full");
        const QStringList movies = dir.outputMovies();
        const QString recording = QFileInfo(QString::fromStdString(w.recFileName_)).fileName();
        QCOMPARE(movies.size(), 1);
        QCOMPARE(movies[0] != recording, reencoded); // else the recording itself stays
        const std::vector<cv::Mat> frames = readAllFrames(dir.path("output/" + movies[0]));
        QCOMPARE(frames.size(), shown.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            // The Motion JPEG encoder keeps even sizes.
            QCOMPARE(frames[i].size(), cv::Size(size.width() & ~1, size.height() & ~1));
            QCOMPARE(frameMark(frames[i]), frameMark(shown[i]));
            const cv::Mat seen = shown[i](cv::Rect({0, 0}, frames[i].size()));
            QVERIFY(cv::norm(frames[i], seen, cv::NORM_L1) / double(seen.total() * 3) < 5);
        }
    }
    void namesInOneSecondStayApart()
    {
        WorkDir dir;
        FakeRig rig = installFakeRig([](int k) { return syntheticFrame(k, {640, 480}); });
        MainWindow w;
        QTRY_COMPARE(w.frameCount_, 1);
        // Both recordings begin within one second: the second name waits for the next stamp.
        const std::time_t begin = std::time(nullptr);
        while (std::time(nullptr) == begin)
            QTest::qWait(2);
        for (int ticks = 1; ticks <= 2; ++ticks) {
            QCOMPARE(std::time(nullptr), begin + 1);
            QTest::keyClick(&w, Qt::Key_R);
            QTRY_COMPARE(w.frameCount_, 1);
            for (int i = 1; i < ticks; ++i)
                nextTick(rig);
            QTRY_COMPARE(w.frameCount_, ticks);
            QTest::keyClick(&w, Qt::Key_R);
        }
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
        const QString name = QString::fromStdString(w.makeOutputFileName("avi"));
        QVERIFY2(name.endsWith("_2.avi") && !QFile::exists(name), qPrintable(name));
    }
};

QTEST_MAIN(TstRecording)
#include "tst_recording.moc"
