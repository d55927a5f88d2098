#include <vector>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "test_support.h"
#include "video/mjpeg_avi_writer.h"

namespace
{

// Smoothed noise (what JPEG can keep) with a bright bar whose place gives the
// frame's number away, so that frames read back can be told apart even after
// the lossy encoding.
cv::Mat numberedFrame(int width, int height, int n)
{
    cv::Mat frame;
    cv::GaussianBlur(noiseFrame(width, height, 100 + n), frame, cv::Size(0, 0), 2.0);
    const int x = (n * 7) % (width - 6);
    cv::rectangle(frame, cv::Rect(x, 0, 6, height), cv::Scalar(255, 255, 255), cv::FILLED);
    return frame;
}

// Numbered frames written at `fps` through the writer; false when it would
// not open or reported a failure.
bool writeNumbered(const QString& path, int count, cv::Size size, double fps,
                   std::vector<cv::Mat>& sources, uint64_t segmentLimit = 0)
{
    sources.clear();
    for (int i = 0; i < count; ++i)
        sources.push_back(numberedFrame(size.width, size.height, i));
    MjpegAviWriter writer;
    if (segmentLimit > 0)
        writer.setSegmentLimit(segmentLimit);
    if (!writer.open(path.toStdString(), fps, size))
        return false;
    for (const cv::Mat& f : sources)
        writer.write(f);
    return writer.release() && !writer.isOpened() && writer.framesWritten() == count;
}

// The source frame a decoded frame is nearest to.
int nearest(const cv::Mat& decoded, const std::vector<cv::Mat>& sources)
{
    int best = -1;
    double bestNorm = 0;
    for (int i = 0; i < static_cast<int>(sources.size()); ++i) {
        const double d = cv::norm(decoded, sources[i], cv::NORM_L1);
        if (best < 0 || d < bestNorm) {
            best = i;
            bestNorm = d;
        }
    }
    return best;
}

uint32_t le32(const QByteArray& bytes, qsizetype at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uchar>(bytes[at + i]);
    return v;
}

// Players that know no OpenDML find the frames of the first segment through
// the classic index alone (ffmpeg reads the other one): every entry must lead
// to a frame chunk of the size it gives. Returns the entries, -1 for a bad one.
int classicIndexEntries(const QByteArray& bytes)
{
    const qsizetype movi = bytes.indexOf("movi");
    const qsizetype idx1 = bytes.indexOf("idx1");
    if (movi < 0 || idx1 < 0)
        return -1;
    const uint32_t entries = le32(bytes, idx1 + 4) / 16;
    for (uint32_t e = 0; e < entries; ++e) {
        const qsizetype at = idx1 + 8 + 16 * e;
        const qsizetype chunk = movi + le32(bytes, at + 8);
        if (bytes.mid(at, 4) != "00dc" || bytes.mid(chunk, 4) != "00dc" ||
            le32(bytes, chunk + 4) != le32(bytes, at + 12))
            return -1;
    }
    return static_cast<int>(entries);
}

} // namespace

class TestMjpegAviWriter : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(dir_.isValid()); }

    // Every frame comes back once, in order, at the size and rate given, even
    // though several threads encode them.
    void framesComeBackInOrder()
    {
        const QString path = dir_.filePath("plain.avi");
        std::vector<cv::Mat> sources;
        QVERIFY(writeNumbered(path, 40, cv::Size(96, 64), 12.5, sources));

        cv::VideoCapture capture(path.toStdString());
        QVERIFY(capture.isOpened());
        QCOMPARE(capture.get(cv::CAP_PROP_FPS), 12.5);
        QCOMPARE(capture.get(cv::CAP_PROP_FRAME_WIDTH), 96.0);
        QCOMPARE(capture.get(cv::CAP_PROP_FRAME_HEIGHT), 64.0);
        QCOMPARE(capture.get(cv::CAP_PROP_FRAME_COUNT), 40.0);
        const std::vector<cv::Mat> frames = readAllFrames(path);
        QCOMPARE(frames.size(), sources.size());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(classicIndexEntries(file.readAll()), 40);
        for (int i = 0; i < 40; ++i) {
            QCOMPARE(nearest(frames[i], sources), i);
            QVERIFY2(cv::PSNR(frames[i], sources[i]) > 35, qPrintable(QString::number(i)));
        }
    }

    // A long movie goes on in extension segments: every frame can still be
    // read and sought to, and ffmpeg finds nothing wrong with the file.
    void longMoviesGoOnInSegments()
    {
        const QString path = dir_.filePath("long.avi");
        std::vector<cv::Mat> sources;
        // Segments of a few frames each.
        QVERIFY(writeNumbered(path, 30, cv::Size(160, 120), 25.0, sources, 20000));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY2(bytes.count("AVIX") >= 3, "the movie was not split into segments");
        QCOMPARE(bytes.count("idx1"), 1);
        const int first = classicIndexEntries(bytes);
        QVERIFY2(first > 0 && first < 30, qPrintable(QString::number(first)));

        const std::vector<cv::Mat> frames = readAllFrames(path);
        QCOMPARE(frames.size(), sources.size());
        for (int i = 0; i < 30; ++i)
            QCOMPARE(nearest(frames[i], sources), i);

        cv::VideoCapture capture(path.toStdString());
        QCOMPARE(capture.get(cv::CAP_PROP_FRAME_COUNT), 30.0);
        for (int target : {27, 3, 16}) {
            QVERIFY(capture.set(cv::CAP_PROP_POS_FRAMES, target));
            cv::Mat frame;
            QVERIFY(capture.read(frame));
            QCOMPARE(nearest(frame, sources), target);
        }

        const QString ffmpeg = qEnvironmentVariable("KESTROVA_FFMPEG");
        if (ffmpeg.isEmpty())
            QSKIP("no ffmpeg to check the file with");
        QProcess check;
        check.start(ffmpeg, {"-v", "error", "-i", path, "-f", "null", "-"});
        QVERIFY(check.waitForFinished(60000));
        QCOMPARE(check.exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(check.readAllStandardError()), QString());
    }

    // What cannot be written is said so: the writer does not open, or its
    // release reports the frame it had to leave out, while the good frames
    // are all in the file. A writer left unreleased still completes its file.
    void failuresAreReported()
    {
        MjpegAviWriter writer;
        QVERIFY(!writer.open(dir_.filePath("zero.avi").toStdString(), 0.0, cv::Size(32, 32)));
        QVERIFY(!writer.open(dir_.filePath("empty.avi").toStdString(), 30.0, cv::Size(0, 32)));
        QVERIFY(
            !writer.open(dir_.filePath("missing/dir.avi").toStdString(), 30.0, cv::Size(32, 32)));
        QVERIFY(!writer.isOpened());

        const QString mixed = dir_.filePath("mixed.avi");
        QVERIFY(writer.open(mixed.toStdString(), 30.0, cv::Size(32, 32)));
        writer.write(solidFrame(32, 32));
        writer.write(solidFrame(48, 32));
        cv::Mat grey(32, 32, CV_8UC1, cv::Scalar(9));
        writer.write(grey);
        writer.write(solidFrame(32, 32, cv::Scalar(200, 10, 10)));
        QVERIFY(!writer.release());
        QCOMPARE(readAllFrames(mixed).size(), size_t(2));

        // Reopening starts clean.
        const QString again = dir_.filePath("again.avi");
        {
            MjpegAviWriter scoped;
            QVERIFY(scoped.open(again.toStdString(), 30.0, cv::Size(32, 32)));
            for (int i = 0; i < 5; ++i)
                scoped.write(solidFrame(32, 32, cv::Scalar(i * 40, 0, 0)));
        }
        const std::vector<cv::Mat> frames = readAllFrames(again);
        QCOMPARE(frames.size(), size_t(5));
        QVERIFY(std::abs(frames[4].at<cv::Vec3b>(16, 16)[0] - 160) < 8);
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestMjpegAviWriter)
#include "tst_mjpeg_avi_writer.moc"
