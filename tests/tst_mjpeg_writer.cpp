#include <opencv2/videoio.hpp>

#include "support.h"
#include "video/movie_writer.h"
#include "video/read_ahead.h"

namespace
{
// Players that know no OpenDML find the first segment's frames through idx1
// alone: its entries, or -1 when one does not lead to a frame chunk of its size.
int classicIndexEntries(const QByteArray& b)
{
    auto at = [&b](qsizetype i) { return qFromLittleEndian<quint32>(b.constData() + i); };
    const qsizetype movi = b.indexOf("movi"), idx1 = b.indexOf("idx1");
    const int n = movi > 0 && idx1 > 0 ? static_cast<int>(at(idx1 + 4) / 16) : -1;
    for (qsizetype e = idx1 + 8, chunk; e < idx1 + 8 + 16 * n; e += 16)
        if (b.mid(e, 4) != "00dc" || b.mid(chunk = movi + at(e + 8), 4) != "00dc" ||
            at(chunk + 4) != at(e + 12))
            return -1;
    return n;
}
} // namespace

class TstMjpegWriter : public QObject
{
    Q_OBJECT
private slots:
    // A movie in segments of a few frames: every frame comes back in order, though several
    // threads encode them; the later segments can be sought into; ffmpeg finds nothing wrong.
    void roundTripInSegments()
    {
        WorkDir wd;
        MjpegAviWriter writer;
        writer.setSegmentLimit(20000);
        QVERIFY(openMovieWriter(writer, "movie.avi", 12.5, {160, 120}));
        for (int i = 0; i < 30; ++i)
            writer.write(syntheticFrame(i, {160, 120}));
        QVERIFY(writer.release() && writer.framesWritten() == 30);
        cv::VideoCapture capture("movie.avi");
        QVERIFY(capture.get(cv::CAP_PROP_FPS) == 12.5 &&
                capture.get(cv::CAP_PROP_FRAME_COUNT) == 30);
        // Decoded ahead, as the strobe movies read theirs: in order, and
        // nothing read past the read that failed at the end.
        int reads = 0;
        auto read = [&](int, cv::Mat& frame) { return ++reads, capture.read(frame); };
        ReadAhead ahead(read, 40);
        cv::Mat frame;
        for (int i = 0; i < 30; ++i)
            QVERIFY(ahead.next(frame) && frame.size() == cv::Size(160, 120) &&
                    frameMark(frame) == i && cv::PSNR(frame, syntheticFrame(i, {160, 120})) > 35);
        QVERIFY(!ahead.next(frame) && !ahead.next(frame) && reads == 31);
        for (int target : {27, 3, 16})
            QVERIFY(capture.set(cv::CAP_PROP_POS_FRAMES, target) && capture.read(frame) &&
                    frameMark(frame) == target);
        QFile file("movie.avi");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const int indexed = classicIndexEntries(bytes);
        QVERIFY(indexed > 0 && indexed < 30 && bytes.count("AVIX") >= 3);
        REQUIRE_FFMPEG();
        QProcess ffmpeg;
        ffmpeg.start(ffmpegPath(), {"-v", "error", "-i", "movie.avi", "-f", "null", "-"});
        QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);
        QCOMPARE(ffmpeg.readAllStandardError(), QByteArray());
    }

    // What cannot be written is said so, while the good frames are all kept;
    // a writer left unreleased still completes its file.
    void failures()
    {
        WorkDir wd;
        auto writer = std::make_unique<MjpegAviWriter>();
        QVERIFY(!writer->open("a.avi", 0.0, {32, 32}) && !writer->open("b.avi", 30.0, {0, 32}));
        QVERIFY(!writer->open("missing/c.avi", 30.0, {32, 32}) && !writer->isOpened());
        // The program opens a movie without a usable rate at 30 fps.
        QVERIFY(openMovieWriter(*writer, "mixed.avi", 0.0, {32, 32}));
        for (const cv::Mat& f : {solidFrame(32, 32), solidFrame(48, 32), cv::Mat(32, 32, CV_8UC1),
                                 solidFrame(32, 32, {200, 10, 10})})
            writer->write(f);
        QVERIFY(!writer->release() && writer->open("unreleased.avi", 30.0, {32, 32}));
        for (int i = 0; i < 5; ++i)
            writer->write(solidFrame(32, 32, cv::Scalar(i * 40, 0, 0)));
        writer.reset();
        QCOMPARE(cv::VideoCapture("mixed.avi").get(cv::CAP_PROP_FPS), 30.0);
        const std::vector<cv::Mat> frames = readAllFrames("mixed.avi");
        QVERIFY(frames.size() == 2 && frames[1].at<cv::Vec3b>(16, 16)[0] > 190);
        QCOMPARE(readAllFrames("unreleased.avi").size(), size_t(5));
    }
};

QTEST_MAIN(TstMjpegWriter)
#include "tst_mjpeg_writer.moc"
