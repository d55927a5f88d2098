#include <cmath>

#include "app/command_line.h"
#include "support.h"

class TstFileCamera : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    // A movie of one second as the camera, the live loop ticking at 12 fps.
    void playsOnTheLoopsClock_data()
    {
        QTest::addColumn<double>("fps");
        QTest::addColumn<bool>("loop");
        QTest::newRow("loop faster: frames twice") << 5.0 << false;
        QTest::newRow("loop slower: frames skipped") << 30.0 << false;
        QTest::newRow("again from the start") << 5.0 << true;
    }
    void playsOnTheLoopsClock()
    {
        QFETCH(double, fps);
        QFETCH(bool, loop);
        WorkDir dir;
        const QString movie = dir.path("lift.avi");
        QVERIFY(writeMjpgMovie(movie.toStdString(), int(fps), {320, 240}, fps));
        QStringList args{"kestrova", "--camera", movie};
        QCOMPARE(applyCommandLine(loop ? args << "--loop" : args), -1);
        auto clock = std::make_shared<double>(5000.0);
        environment().nowMs = [clock] { return *clock; };
        MainWindow w;
        QTRY_COMPARE(w.camera_.frameCount_, 1);
        QList<int> marks, expected;
        for (double elapsed = 0; elapsed < 1000; elapsed += 84) {
            if (elapsed > 0) {
                const int ticks = w.camera_.frameCount_;
                *clock += 84;
                QTRY_COMPARE(w.camera_.frameCount_, ticks + 1);
            }
            marks << frameMark(w.camera_.camera_frame);
            expected << int(std::floor(elapsed * fps / 1000));
        }
        QCOMPARE(marks, expected);
        w.live_.barX_ = {1, 2};
        w.live_.barY_ = {3, 4};
        const int ticks = w.camera_.frameCount_;
        *clock += 1000; // past the end
        QTRY_VERIFY(w.camera_.frameCount_ > ticks);
        QCOMPARE(frameMark(w.camera_.camera_frame), loop ? 0 : -1);
        QCOMPARE(w.live_.barX_.empty() && w.live_.barY_.empty(), loop); // no jump in the path
    }
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("device");
        QTest::newRow("none") << QStringList() << -1 << 0;
        QTest::newRow("--help") << QStringList{"--help"} << 0 << 0;
        QTest::newRow("--version") << QStringList{"--version"} << 0 << 0;
        QTest::newRow("--bogus") << QStringList{"--bogus"} << 2 << 0;
        QTest::newRow("extra argument") << QStringList{"video.avi"} << 2 << 0;
        QTest::newRow("--camera 3") << QStringList{"--camera", "3"} << -1 << 3;
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(int, device);
        QCOMPARE(applyCommandLine(QStringList("kestrova") + args), status);
        QCOMPARE(environment().cameraDevice, device);
    }
    void unreadableFileIsNoCamera()
    {
        WorkDir dir;
        QFile junk(dir.path("junk.avi"));
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("not a movie") > 0);
        junk.close();
        QCOMPARE(applyCommandLine({"kestrova", "--camera", junk.fileName()}), -1);
        QString title;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&title] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                box->done(0);
            }
        });
        answer.start(20);
        MainWindow w;
        QCOMPARE(title, QString("Error Message"));
        QCOMPARE(w.camera_.noCamera_, 1);
    }
};

QTEST_MAIN(TstFileCamera)
#include "tst_file_camera.moc"
