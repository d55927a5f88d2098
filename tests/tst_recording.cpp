#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <opencv2/videoio.hpp>

#include "app/mainwindow.h"
#include "test_support.h"
#include "video/movie_writer.h"
#include "video/recording.h"

namespace {

// Everything written to standard output between start and text(), diagnostics
// of the window and of ffmpeg alike.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        file_.open();
        saved_ = dup(STDOUT_FILENO);
        dup2(file_.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    QString text()
    {
        restore();
        QFile in(file_.fileName());
        in.open(QIODevice::ReadOnly);
        return QString::fromLocal8Bit(in.readAll());
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
    }
    QTemporaryFile file_;
    int saved_ = -1;
};

// A fresh working directory for one window: `output` is created by the
// window, ffmpeg is whatever the test puts there before constructing it.
struct WorkDir {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    WorkDir() { QDir::setCurrent(dir.path()); }
    ~WorkDir() { QDir::setCurrent(previous); }
    QStringList outputFiles() const
    {
        return QDir(dir.filePath("output")).entryList(QDir::Files, QDir::Name);
    }
    void placeScript(const QByteArray& body, bool executable = true) const
    {
        QFile script(dir.filePath("ffmpeg"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(body);
        script.close();
        QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            perms |= QFile::ExeOwner;
        script.setPermissions(perms);
    }
};

const QSize kFrame(160, 120);

// Six colours far apart, so a lossy codec cannot turn one into another.
const cv::Scalar kColours[] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},
                               {0, 255, 255}, {255, 0, 255}, {255, 255, 0}};

QString realFfmpeg()
{
    return QString::fromLocal8Bit(qgetenv("KESTROVA_FFMPEG"));
}

std::unique_ptr<MainWindow> makeWindow()
{
    installFakeRig([](int) { return solidFrame(kFrame.width(), kFrame.height()); });
    auto w = std::make_unique<MainWindow>();
    // The tests play the live loop's part themselves.
    w->cameraTimer_->stop();
    return w;
}

void showPicture(MainWindow& w, const cv::Scalar& colour)
{
    w.clearScene(&w.liveScene_);
    w.liveScene_.addPixmap(
        MainWindow::frameToPixmap(solidFrame(kFrame.width(), kFrame.height(), colour)));
}

// One processed tick of the live loop: the scene shows `colour`, the camera
// delivered a picture or not.
void tick(MainWindow& w, const cv::Scalar& colour, bool captured)
{
    showPicture(w, colour);
    w.camera_frame = captured ? solidFrame(kFrame.width(), kFrame.height()) : cv::Mat();
    QVERIFY(QMetaObject::invokeMethod(&w, "recordTick"));
}

std::vector<cv::Mat> readFrames(const QString& path)
{
    std::vector<cv::Mat> frames;
    cv::VideoCapture capture(path.toStdString());
    cv::Mat frame;
    while (capture.isOpened() && capture.read(frame))
        frames.push_back(frame.clone());
    return frames;
}

bool closeTo(const cv::Scalar& a, const cv::Scalar& b)
{
    for (int c = 0; c < 3; ++c)
        if (std::abs(a[c] - b[c]) > 25.0)
            return false;
    return true;
}

// Decodes the whole file with ffmpeg, as a player would.
bool ffmpegPlays(const QString& path)
{
    if (realFfmpeg().isEmpty())
        return true;
    QProcess ffmpeg;
    ffmpeg.start(realFfmpeg(), {"-v", "error", "-i", path, "-f", "null", "-"});
    return ffmpeg.waitForFinished(-1) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0 && ffmpeg.readAllStandardError().isEmpty();
}

void pressR(MainWindow& w)
{
    QTest::keyClick(&w, Qt::Key_R);
}

QString doubleDotName(const std::string& recording)
{
    QString name = QFileInfo(QString::fromStdString(recording)).fileName();
    name.chop(4);
    return name + "..avi";
}

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    void writeOrderRepeatsTheLastCapturedPicture()
    {
        using Order = std::vector<size_t>;
        QCOMPARE(recordingWriteOrder({0, 0, 1, 0, 1, 0}), (Order{2, 2, 2, 2, 4, 4}));
        QCOMPARE(recordingWriteOrder({1, 0, 0}), (Order{0, 0, 0}));
        QCOMPARE(recordingWriteOrder({0, 1, 1, 0}), (Order{1, 1, 2, 2}));
        // Nothing captured: the snapshots themselves, never an image that
        // does not exist.
        QCOMPARE(recordingWriteOrder({0, 0, 0}), (Order{0, 1, 2}));
        QCOMPARE(recordingWriteOrder({}), Order{});
    }

    void memoryLimitFollowsAvailableMemory()
    {
        const std::string meminfo = "MemTotal:       24683740 kB\n"
                                    "MemFree:        22801508 kB\n"
                                    "MemAvailable:    2048 kB\n"
                                    "Buffers:           1234 kB\n";
        QCOMPARE(parseMemAvailable(meminfo), std::optional<std::uint64_t>(2048u * 1024u));
        QVERIFY(!parseMemAvailable("MemTotal: 100 kB\nMemFree: 50 kB\n"));
        QVERIFY(!parseMemAvailable("MemAvailable: lots\n"));

        QCOMPARE(recordingMemoryLimit(std::uint64_t(4) << 30), size_t(2) << 30);
        QCOMPARE(recordingMemoryLimit(std::nullopt), size_t(1) << 30);
        // This machine tells.
        QVERIFY(availableMemoryBytes().has_value());
        QVERIFY(*availableMemoryBytes() > 0);

        std::vector<cv::Mat> frames(3, cv::Mat(10, 10, CV_8UC1)); // 100 bytes each
        QVERIFY(recordingBufferFull(frames, 350));
        QVERIFY(recordingBufferFull(frames, 250));
        QVERIFY(!recordingBufferFull(frames, 400));
        QVERIFY(!recordingBufferFull(frames, 0));
        QVERIFY(!recordingBufferFull({}, 10));
    }

    void flagsExampleIsWrittenAsRepeatRuleSays()
    {
        WorkDir work;
        auto w = makeWindow();
        showPicture(*w, kColours[0]);
        w->frameCount_ = 7;
        pressR(*w);
        QCOMPARE(w->recState_, 1);
        QCOMPARE(w->frameCount_, 0);
        QCOMPARE(w->recFrameSize_, cv::Size(kFrame.width(), kFrame.height()));

        const int flags[] = {0, 0, 1, 0, 1, 0};
        for (int i = 0; i < 6; ++i)
            tick(*w, kColours[i], flags[i] == 1);
        QCOMPARE(w->frameFlags_, (std::vector<int>{0, 0, 1, 0, 1, 0}));

        w->frameCount_ = 5;
        StdoutCapture out;
        pressR(*w);
        const QString printed = out.text();
        QCOMPARE(w->recState_, 0);
        QCOMPARE(w->frameCount_, 0);
        QCOMPARE(printed.count("cvWriteFrame["), 6);
        QVERIFY(printed.contains("cvWriteFrame[3]:0, 160, 120\n"));
        QVERIFY(printed.contains("cvWriteFrame[4]:1, 160, 120\n"));
        // The saving notice is gone once the file is complete.
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY(widget->windowTitle() != "Now saving...");

        const QString file = QString::fromStdString(w->recFileName_);
        QCOMPARE(work.outputFiles(), QStringList(QFileInfo(file).fileName()));
        const std::vector<cv::Mat> frames = readFrames(file);
        QCOMPARE(frames.size(), size_t(6));
        const int expected[] = {2, 2, 2, 2, 4, 4};
        for (int i = 0; i < 6; ++i)
            QVERIFY2(closeTo(cv::mean(frames[size_t(i)]), kColours[expected[i]]),
                     qPrintable(QString("frame %1").arg(i)));
        QVERIFY(ffmpegPlays(file));
    }

    // No tick had a camera picture, and the scene grew while recording: every
    // snapshot is written, each at the size the writer was opened with.
    void uncapturedAndResizedImagesAreWrittenFitted()
    {
        WorkDir work;
        auto w = makeWindow();
        showPicture(*w, kColours[0]);
        pressR(*w);
        tick(*w, kColours[0], false);
        // An item right of the picture grows the scene and so the snapshot.
        w->liveScene_.addText("wide")->setPos(kFrame.width() + 40, 10);
        QVERIFY(QMetaObject::invokeMethod(w.get(), "recordTick"));
        QVERIFY(w->frameList_.back().cols > kFrame.width());
        tick(*w, kColours[2], false);
        pressR(*w);

        const std::vector<cv::Mat> frames = readFrames(QString::fromStdString(w->recFileName_));
        QCOMPARE(frames.size(), size_t(3));
        for (const cv::Mat& frame : frames)
            QCOMPARE(frame.size(), cv::Size(kFrame.width(), kFrame.height()));
        QVERIFY(closeTo(cv::mean(frames[0]), kColours[0]));
        QVERIFY(closeTo(cv::mean(frames[2]), kColours[2]));
    }

    void reencoding_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("reencoded");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no ffmpeg") << "none" << false << "";
        QTest::newRow("real ffmpeg") << "real" << true << "";
        QTest::newRow("ffmpeg fails") << "fails" << false << "exited with code 3";
        QTest::newRow("ffmpeg claims success, writes nothing")
            << "silent" << false << "wrote no file";
        QTest::newRow("ffmpeg leaves an empty file") << "empty" << false << "empty";
        QTest::newRow("ffmpeg crashes") << "crashes" << false << "did not run to its end";
        QTest::newRow("ffmpeg cannot be started") << "notExecutable" << false << "started";
    }

    void reencoding()
    {
        QFETCH(QString, kind);
        QFETCH(bool, reencoded);
        QFETCH(QString, reason);
        if (kind == "real" && realFfmpeg().isEmpty())
            QSKIP("no ffmpeg on this machine");

        WorkDir work;
        if (kind == "real")
            QVERIFY(QFile::link(realFfmpeg(), work.dir.filePath("ffmpeg")));
        else if (kind == "fails")
            work.placeScript("#!/bin/sh\necho 'not today' >&2\nexit 3\n");
        else if (kind == "silent")
            work.placeScript("#!/bin/sh\nexit 0\n");
        else if (kind == "empty")
            work.placeScript("#!/bin/sh\n: > \"$5\"\nexit 0\n");
        else if (kind == "crashes")
            work.placeScript("#!/bin/sh\nkill -9 $$\n");
        else if (kind == "notExecutable")
            work.placeScript("not a program\n", false);

        auto w = makeWindow();
        QCOMPARE(w->ffmpegFlag, kind == "none" ? 0 : 1);
        showPicture(*w, kColours[0]);
        pressR(*w);
        for (int i = 0; i < 3; ++i)
            tick(*w, kColours[i], true);
        StdoutCapture out;
        pressR(*w);
        const QString printed = out.text();

        const QString first = QFileInfo(QString::fromStdString(w->recFileName_)).fileName();
        const QStringList files = work.outputFiles();
        // The empty file is ffmpeg's; it is left where ffmpeg put it.
        QCOMPARE(files.size(), kind == "empty" ? 2 : 1);
        if (kind == "none") {
            QVERIFY(!printed.contains("command:"));
        } else {
            QVERIFY(printed.contains("command:" + work.dir.filePath("ffmpeg") + " -i output/" +
                                     first + " -b:v 1.0M output/cap1_"));
            QVERIFY(printed.contains("..avi\ncommand executed\n"));
        }
        if (reencoded) {
            QVERIFY(files.first().endsWith("..avi"));
            QVERIFY(files.first() != first);
            const QString copy = work.dir.filePath("output/" + files.first());
            QCOMPARE(readFrames(copy).size(), size_t(3));
            QVERIFY(ffmpegPlays(copy));
        } else {
            QVERIFY(files.contains(first));
            QCOMPARE(readFrames(work.dir.filePath("output/" + first)).size(), size_t(3));
            if (!reason.isEmpty()) {
                QVERIFY2(printed.contains("re-encode failed"), qPrintable(printed));
                QVERIFY2(printed.contains(reason), qPrintable(printed));
            }
        }
    }

    void startAndStopInOneSecondDifferOnlyByTheDot()
    {
        if (realFfmpeg().isEmpty())
            QSKIP("no ffmpeg on this machine");
        WorkDir work;
        QVERIFY(QFile::link(realFfmpeg(), work.dir.filePath("ffmpeg")));
        auto w = makeWindow();
        showPicture(*w, kColours[0]);
        // Start right after a second begins so that stop falls in the same
        // second; a slow machine gets another try.
        bool sameSecond = false;
        for (int attempt = 0; attempt < 3 && !sameSecond; ++attempt) {
            const std::time_t begin = std::time(nullptr);
            while (std::time(nullptr) == begin)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const QStringList before = work.outputFiles();
            pressR(*w);
            tick(*w, kColours[1], true);
            pressR(*w);
            QStringList added = work.outputFiles();
            for (const QString& name : before)
                added.removeAll(name);
            QCOMPARE(added.size(), 1);
            const QString expected = doubleDotName(w->recFileName_);
            sameSecond = added.first() == expected;
            if (!sameSecond)
                QVERIFY2(added.first().startsWith("cap1_") && added.first().endsWith("..avi"),
                         qPrintable(added.first()));
        }
        QVERIFY(sameSecond);
    }

    void recordingsStartedInOneSecondBothStay()
    {
        WorkDir work;
        auto w = makeWindow();
        showPicture(*w, kColours[0]);
        const std::time_t begin = std::time(nullptr);
        while (std::time(nullptr) == begin)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pressR(*w);
        tick(*w, kColours[1], true);
        pressR(*w);
        const std::string firstName = w->recFileName_;
        pressR(*w);
        tick(*w, kColours[2], true);
        tick(*w, kColours[3], true);
        pressR(*w);
        QVERIFY(w->recFileName_ != firstName);
        QCOMPARE(work.outputFiles().size(), 2);
        const std::vector<cv::Mat> first = readFrames(QString::fromStdString(firstName));
        QCOMPARE(first.size(), size_t(1));
        QVERIFY(closeTo(cv::mean(first[0]), kColours[1]));
        QCOMPARE(readFrames(QString::fromStdString(w->recFileName_)).size(), size_t(2));
    }

    void recordingOnAnotherTabWritesNoFrame()
    {
        if (!movieModesEnabled)
            QSKIP("the live camera tab is the only tab in this configuration");
        WorkDir work;
        installFakeRig([](int) { return solidFrame(kFrame.width(), kFrame.height()); });
        MainWindow w; // camera timer running: the live loop gets its ticks
        showPicture(w, kColours[0]);
        // Left over from an earlier recording or a manual analysis.
        w.frameList_.push_back(solidFrame(kFrame.width(), kFrame.height()));
        w.frameFlags_.push_back(1);
        w.tabWidget_->setCurrentIndex(1);
        StdoutCapture out;
        pressR(w);
        QCOMPARE(w.recState_, 1);
        QTest::qWait(50);
        pressR(w);
        const QString printed = out.text();
        QCOMPARE(w.recState_, 0);
        QVERIFY(!printed.contains("cvWriteFrame"));
        QVERIFY(w.frameList_.empty());
        QVERIFY(readFrames(QString::fromStdString(w.recFileName_)).empty());
    }

    void writerThatCannotOpenLeavesRecordingIdle()
    {
        WorkDir work;
        auto w = makeWindow();
        showPicture(*w, kColours[0]);
        QVERIFY(QDir(work.dir.path()).rmdir("output"));
        QFile blocker(work.dir.filePath("output"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        StdoutCapture out;
        pressR(*w);
        const QString printed = out.text();
        QCOMPARE(w->recState_, 0);
        QVERIFY(printed.contains("cvCreateVideoWriter canncel\n"));
        QVERIFY(!w->recWriter_.isOpened());

        QVERIFY(blocker.remove());
        QVERIFY(QDir(work.dir.path()).mkdir("output"));
        pressR(*w);
        QCOMPARE(w->recState_, 1);
        tick(*w, kColours[1], true);
        pressR(*w);
        QCOMPARE(readFrames(QString::fromStdString(w->recFileName_)).size(), size_t(1));
    }

    void closingTheWindow_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::addColumn<bool>("recording");
        QTest::newRow("close button while recording") << false << true;
        QTest::newRow("Q while recording") << true << true;
        QTest::newRow("Q while idle") << true << false;
    }

    void closingTheWindow()
    {
        QFETCH(bool, byKey);
        QFETCH(bool, recording);
        WorkDir work;
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        showPicture(*w, kColours[0]);
        if (recording) {
            pressR(*w);
            for (int i = 0; i < 4; ++i)
                tick(*w, kColours[i], true);
        }
        if (byKey)
            QTest::keyClick(w.get(), Qt::Key_Q);
        else
            QVERIFY(w->close());
        QVERIFY(!w->isVisible());
        QCOMPARE(w->recState_, 0);
        if (!recording) {
            QVERIFY(work.outputFiles().isEmpty());
            return;
        }
        const QString file = QString::fromStdString(w->recFileName_);
        const std::vector<cv::Mat> frames = readFrames(file);
        QCOMPARE(frames.size(), size_t(4));
        QVERIFY(closeTo(cv::mean(frames[3]), kColours[3]));
        QVERIFY(ffmpegPlays(file));
    }

    void otherKeysOnlyPrint()
    {
        WorkDir work;
        auto w = makeWindow();
        w->show();
        showPicture(*w, kColours[0]);
        StdoutCapture out;
        for (Qt::Key key : {Qt::Key_A, Qt::Key_Space, Qt::Key_Escape, Qt::Key_F1})
            QTest::keyClick(w.get(), key);
        QCOMPARE(out.text(), QString("keyPressEvent:\n").repeated(4));
        QVERIFY(w->isVisible());
        QCOMPARE(w->recState_, 0);
        QVERIFY(work.outputFiles().isEmpty());
    }

    void fullBufferSavesItselfAndSaysSo()
    {
        WorkDir work;
        auto w = makeWindow();
        showPicture(*w, kColours[0]);
        pressR(*w);
        QVERIFY(w->recMemoryLimit_ > 0);
        const size_t frameBytes = size_t(kFrame.width()) * size_t(kFrame.height()) * 3;
        w->recMemoryLimit_ = frameBytes * 7 / 2;
        tick(*w, kColours[0], true);
        tick(*w, kColours[1], true);
        QCOMPARE(w->recState_, 1);
        tick(*w, kColours[2], true);
        QCOMPARE(w->recState_, 0);
        QCOMPARE(w->promptLabel_->text(),
                 QString("Memory is running low: the recording was stopped and saved."));
        QVERIFY(w->frameList_.empty());

        const std::vector<cv::Mat> frames = readFrames(QString::fromStdString(w->recFileName_));
        QCOMPARE(frames.size(), size_t(3));
        QVERIFY(closeTo(cv::mean(frames[2]), kColours[2]));
        // The next R starts a new recording rather than stopping.
        pressR(*w);
        QCOMPARE(w->recState_, 1);
        pressR(*w);
    }

    void movieWriterCannotBreakARunningRecording()
    {
        WorkDir work;
        auto w = makeWindow();
        showPicture(*w, kColours[0]);
        pressR(*w);
        tick(*w, kColours[0], true);
        tick(*w, kColours[1], true);
        // An analysed movie written meanwhile opens and releases its writer.
        QVERIFY(openMovieWriter(w->videoWriter_, "output/other.avi", 30.0, cv::Size(64, 48)));
        w->videoWriter_.write(solidFrame(64, 48));
        w->videoWriter_.release();
        tick(*w, kColours[2], true);
        pressR(*w);
        QCOMPARE(readFrames(QString::fromStdString(w->recFileName_)).size(), size_t(3));
        QCOMPARE(readFrames(work.dir.filePath("output/other.avi")).size(), size_t(1));
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
