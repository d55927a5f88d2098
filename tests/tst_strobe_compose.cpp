#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include "strobe/strobe_compose.h"
#include "strobe/strobe_rules.h"
#include "strobe_oracle.h"
#include "video/output_naming.h"
#include "test_support.h"

namespace {

struct Run {
    std::vector<cv::Mat> frames;
    int written = 0;
};

Run compose(bool typeB, const std::vector<cv::Mat>& movie, int S, int E, int step, int N, int thr)
{
    Run run;
    StrobePlan plan;
    plan.start = S;
    plan.end = E;
    plan.step = step;
    plan.number = N;
    plan.threshold = thr;
    const StrobeFrameSource source = [&movie](int, int index, cv::Mat& frame) {
        return oracle::frameAt(movie, index, frame);
    };
    const StrobeFrameSink sink = [&run](const cv::Mat& frame) { run.frames.push_back(frame.clone()); };
    run.written = typeB ? composeStrobeTypeB(plan, source, sink) : composeStrobeTypeA(plan, source, sink);
    return run;
}

bool sameFrames(const std::vector<cv::Mat>& a, const std::vector<cv::Mat>& b, QString* why)
{
    if (a.size() != b.size()) {
        *why = QString("%1 frames, expected %2").arg(a.size()).arg(b.size());
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size() || cv::norm(a[i], b[i], cv::NORM_INF) != 0) {
            *why = QString("frame %1 differs").arg(i);
            return false;
        }
    }
    return true;
}

std::vector<cv::Mat> rawScene(int count)
{
    std::vector<cv::Mat> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(strobescene::frame(i));
    return frames;
}

cv::Mat pixel(int b, int g, int r)
{
    return cv::Mat(1, 1, CV_8UC3, cv::Scalar(b, g, r));
}

} // namespace

class TestStrobeCompose : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString oldCurrent_;
    std::vector<cv::Mat> decoded_;

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        oldCurrent_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        // The lossy file, decoded once: these exact frames feed both sides.
        QVERIFY(strobescene::write("scene.avi", 40));
        decoded_ = strobescene::decodeAll("scene.avi");
        QCOMPARE(static_cast<int>(decoded_.size()), 40);
    }
    void cleanupTestCase() { QDir::setCurrent(oldCurrent_); }
    void init() { QDir("temp").removeRecursively(); }

    void distanceAndThresholdEdges()
    {
        const uchar a[3] = {10, 200, 0};
        const uchar b[3] = {0, 255, 255};
        QCOMPARE(colourDistance(a, b), 10 + 55 + 255);
        QCOMPARE(colourDistance(b, a), colourDistance(a, b));

        // Distance exactly the threshold is not alike: laid over. One less is alike.
        for (int thr : {30, 31}) {
            cv::Mat base = pixel(100, 100, 100), sample = pixel(110, 110, 110), next = pixel(140, 140, 140);
            layOverTypeA(base, sample, next, thr);
            QCOMPARE(base.at<cv::Vec3b>(0, 0), thr == 30 ? cv::Vec3b(110, 110, 110) : cv::Vec3b(100, 100, 100));
        }
        // Alike to Next (but not Base): not laid, and the sample is blackened.
        cv::Mat base = pixel(0, 0, 0), sample = pixel(50, 50, 50), next = pixel(52, 50, 50);
        layOverTypeA(base, sample, next, 20);
        QCOMPARE(base.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));
        QCOMPARE(sample.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));

        // Threshold 0: nothing is alike, every set pixel is laid, black never.
        base = pixel(9, 9, 9);
        sample = pixel(9, 9, 9);
        next = pixel(9, 9, 9);
        layOverTypeA(base, sample, next, 0);
        QCOMPARE(base.at<cv::Vec3b>(0, 0), cv::Vec3b(9, 9, 9));
        base = pixel(255, 255, 255);
        sample = pixel(0, 0, 0);
        next = pixel(255, 255, 255);
        layOverTypeA(base, sample, next, 0);
        QCOMPARE(base.at<cv::Vec3b>(0, 0), cv::Vec3b(255, 255, 255));

        // Threshold 765: only the largest possible distance counts.
        base = pixel(0, 0, 0);
        sample = pixel(255, 255, 255);
        next = pixel(0, 0, 0);
        layOverTypeA(base, sample, next, 765);
        QCOMPARE(base.at<cv::Vec3b>(0, 0), cv::Vec3b(255, 255, 255));
        base = pixel(0, 0, 1);
        sample = pixel(255, 255, 255);
        next = pixel(0, 0, 0);
        layOverTypeA(base, sample, next, 765);
        QCOMPARE(base.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 1));
    }

    void strobeImageMaskAndCopy()
    {
        // Four pixels: moving, alike to prev, alike to next, black.
        cv::Mat prev(1, 4, CV_8UC3, cv::Scalar(100, 100, 100));
        cv::Mat next = prev.clone();
        cv::Mat cur(1, 4, CV_8UC3, cv::Scalar(10, 20, 200));
        prev.at<cv::Vec3b>(0, 1) = cv::Vec3b(10, 20, 205);
        next.at<cv::Vec3b>(0, 2) = cv::Vec3b(12, 20, 200);
        cur.at<cv::Vec3b>(0, 3) = cv::Vec3b(0, 0, 0);
        maskStrobeImage(prev, cur, next, 20);
        QCOMPARE(cur.at<cv::Vec3b>(0, 0), cv::Vec3b(10, 20, 200));
        QCOMPARE(cur.at<cv::Vec3b>(0, 1), cv::Vec3b(0, 0, 0));
        QCOMPARE(cur.at<cv::Vec3b>(0, 2), cv::Vec3b(0, 0, 0));

        cv::Mat out(1, 4, CV_8UC3, cv::Scalar(1, 2, 3));
        cur.at<cv::Vec3b>(0, 1) = cv::Vec3b(0, 0, 1); // barely set: still copied
        copySetPixels(cur, out);
        QCOMPARE(out.at<cv::Vec3b>(0, 0), cv::Vec3b(10, 20, 200));
        QCOMPARE(out.at<cv::Vec3b>(0, 1), cv::Vec3b(0, 0, 1));
        QCOMPARE(out.at<cv::Vec3b>(0, 2), cv::Vec3b(1, 2, 3));
        QCOMPARE(out.at<cv::Vec3b>(0, 3), cv::Vec3b(1, 2, 3));
    }

    void frameArithmetic()
    {
        QCOMPARE(strobeSampleSteps(30, 1), 30);
        QCOMPARE(strobeSampleSteps(31, 3), 10);
        QCOMPARE(strobeSampleSteps(-5, 1), 0);
        QCOMPARE(strobeSampleSteps(30, 0), 0);
        QCOMPARE(typeAFrameCount(30, 25), 29); // K - 1
        QCOMPARE(typeAFrameCount(26, 25), 25); // K = N + 1: the build-up only
        QCOMPARE(typeAFrameCount(25, 25), 0);
        QCOMPARE(typeAFrameCount(10, 0), 9);   // plain bases 1 to K - 1
        QCOMPARE(typeAFrameCount(1, 0), 0);
        QCOMPARE(typeAFrameRate(25.0, 2), 12.5);

        const std::vector<int> offsets = {2, 4, 6, 8};
        int first = -1, end = -1;
        strobeImagesForFrame(offsets, 1, 3, &first, &end);
        QCOMPARE(end, 0);
        QCOMPARE(first, 0);
        strobeImagesForFrame(offsets, 5, 3, &first, &end);
        QCOMPARE(end, 2);
        QCOMPARE(first, 0);
        strobeImagesForFrame(offsets, 100, 3, &first, &end);
        QCOMPARE(end, 4);
        QCOMPARE(first, 1);
        strobeImagesForFrame(offsets, 100, 0, &first, &end);
        QCOMPARE(first, end);
        QCOMPARE(strobeImageName(12), std::string("temp") + pathSeparator() + "img_12.png");
    }

    void typeAMatchesReference_data()
    {
        QTest::addColumn<int>("S");
        QTest::addColumn<int>("E");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("N");
        QTest::addColumn<int>("thr");
        QTest::addColumn<int>("frames");
        QTest::newRow("defaults, K - N < 1") << 0 << 25 << 1 << 25 << 20 << 0;
        QTest::newRow("defaults") << 0 << 30 << 1 << 25 << 20 << 29;
        QTest::newRow("N 5: K - 1") << 2 << 32 << 1 << 5 << 20 << 29;
        QTest::newRow("K = N + 1: build-up only") << 0 << 6 << 1 << 5 << 20 << 5;
        QTest::newRow("N 0: bases 1 to K - 1") << 3 << 13 << 1 << 0 << 20 << 9;
        QTest::newRow("threshold 0") << 0 << 20 << 1 << 3 << 0 << 19;
        QTest::newRow("threshold 765") << 0 << 20 << 1 << 3 << 765 << 19;
        QTest::newRow("step 3") << 1 << 39 << 3 << 4 << 20 << 11;
        QTest::newRow("N 1") << 5 << 15 << 1 << 1 << 20 << 9;
        QTest::newRow("E before S") << 20 << 10 << 1 << 1 << 20 << 0;
    }
    void typeAMatchesReference()
    {
        QFETCH(int, S);
        QFETCH(int, E);
        QFETCH(int, step);
        QFETCH(int, N);
        QFETCH(int, thr);
        QFETCH(int, frames);
        const Run run = compose(false, decoded_, S, E, step, N, thr);
        const oracle::Result want = oracle::typeA(decoded_, S, E, step, N, thr);
        QCOMPARE(run.written, frames);
        QString why;
        QVERIFY2(sameFrames(run.frames, want.frames, &why), qPrintable(why));
        if (N == 0) {
            for (int e = 1; e < frames + 1; ++e)
                QCOMPARE(cv::norm(run.frames[e - 1], decoded_[S + e * step], cv::NORM_INF), 0.0);
        }
    }

    void typeBMatchesReference_data()
    {
        QTest::addColumn<int>("S");
        QTest::addColumn<int>("E");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("N");
        QTest::addColumn<int>("thr");
        QTest::newRow("defaults") << 0 << 30 << 1 << 25 << 20;
        QTest::newRow("step 2") << 4 << 24 << 2 << 3 << 20;
        QTest::newRow("step 3, short range") << 0 << 8 << 3 << 25 << 20;
        QTest::newRow("threshold 0") << 0 << 12 << 1 << 4 << 0;
        QTest::newRow("threshold 765") << 0 << 12 << 1 << 4 << 765;
        QTest::newRow("N 0") << 0 << 12 << 1 << 0 << 20;
        QTest::newRow("K < 2") << 7 << 8 << 1 << 3 << 20;
    }
    void typeBMatchesReference()
    {
        QFETCH(int, S);
        QFETCH(int, E);
        QFETCH(int, step);
        QFETCH(int, N);
        QFETCH(int, thr);
        QVERIFY(!QDir("temp").exists());
        const Run run = compose(true, decoded_, S, E, step, N, thr);
        const oracle::Result want = oracle::typeB(decoded_, S, E, step, N, thr);
        QCOMPARE(run.written, E - S);
        QString why;
        QVERIFY2(sameFrames(run.frames, want.frames, &why), qPrintable(why));
        // The strobe images on disk: exactly the sample offsets step, 2 step, ...
        QStringList expected;
        for (const auto& [offset, image] : want.images) {
            expected << QString("img_%1.png").arg(offset);
            const cv::Mat png = cv::imread(strobeImageName(offset), cv::IMREAD_UNCHANGED);
            QCOMPARE(png.type(), CV_8UC3);
            QCOMPARE(cv::norm(png, image, cv::NORM_INF), 0.0);
        }
        QStringList onDisk = QDir("temp").entryList(QDir::Files);
        std::sort(onDisk.begin(), onDisk.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(onDisk, expected);
        if (step == 2) {
            QVERIFY(expected.contains("img_2.png") && expected.contains("img_4.png"));
            for (int X : {0, 1})
                QCOMPARE(cv::norm(run.frames[X], decoded_[S + X], cv::NORM_INF), 0.0);
            // Frame 2 carries its own sample (no change); frame 3 shows image 2.
            QVERIFY(cv::norm(run.frames[3], decoded_[S + 3], cv::NORM_INF) > 0);
        }
        if (N == 0 || E - S < 2 * step) {
            for (size_t X = 0; X < run.frames.size(); ++X)
                QCOMPARE(cv::norm(run.frames[X], decoded_[S + X], cv::NORM_INF), 0.0);
        }
    }

    void typeBWritesNothingForReversedRange()
    {
        const Run run = compose(true, decoded_, 20, 10, 1, 3, 20);
        QCOMPARE(run.written, 0);
        QVERIFY(QDir("temp").entryList(QDir::Files).isEmpty());
    }

    void blackMovingPixelNeverLaidOver()
    {
        // Uncompressed frames, so the moving block is truly black.
        const std::vector<cv::Mat> movie = rawScene(30);
        for (int thr : {0, 20}) {
            for (bool typeB : {false, true}) {
                const Run run = compose(typeB, movie, 0, 30, 1, 5, thr);
                QVERIFY(run.written > 0);
                int covered = 0;
                for (int i = 0; i < run.written; ++i) {
                    // The plain frame under output i: base 0 during Type A's
                    // build-up, then base i - N + 1; frame i in Type B.
                    const int under = typeB ? i : (i < 5 ? 0 : i - 4);
                    cv::Mat blackNow, blackBefore;
                    cv::inRange(run.frames[i], cv::Scalar::all(0), cv::Scalar::all(0), blackNow);
                    cv::inRange(movie[under], cv::Scalar::all(0), cv::Scalar::all(0), blackBefore);
                    // Black may be covered, but never spread.
                    QCOMPARE(cv::countNonZero(blackNow & ~blackBefore), 0);
                    cv::Mat changed;
                    cv::absdiff(run.frames[i], movie[under], changed);
                    covered += cv::countNonZero(changed.reshape(1));
                }
                // Something was laid over, so the black block had its chances.
                QVERIFY(covered > 0);
            }
        }
    }

    void undecodableEndFrameIsNeverUsed()
    {
        // E = the frame count, as the slider's last position gives it.
        const int count = static_cast<int>(decoded_.size());
        const Run a = compose(false, decoded_, 30, count, 1, 3, 20);
        QCOMPARE(a.written, typeAFrameCount(count - 30, 3) - 1); // the last base needs frame E
        QString why;
        QVERIFY2(sameFrames(a.frames, oracle::typeA(decoded_, 30, count, 1, 3, 20).frames, &why),
                 qPrintable(why));
        QVERIFY2(sameFrames(a.frames, oracle::typeA(decoded_, 30, count - 1, 1, 3, 20).frames, &why),
                 qPrintable(why));

        const Run b = compose(true, decoded_, 30, count, 1, 3, 20);
        QCOMPARE(b.written, count - 30);
        QVERIFY2(sameFrames(b.frames, oracle::typeB(decoded_, 30, count, 1, 3, 20).frames, &why),
                 qPrintable(why));
        QVERIFY(!QFile::exists(QString::fromStdString(strobeImageName(count - 30 - 1))));
    }

    void unreadableStrobeImageIsLeftOut()
    {
        // A directory where image 2 should go: it can be neither written nor read.
        QVERIFY(QDir().mkpath("temp/img_2.png"));
        const Run run = compose(true, decoded_, 0, 12, 1, 4, 20);
        QCOMPARE(run.written, 12);
        QString why;
        QVERIFY2(sameFrames(run.frames, oracle::typeB(decoded_, 0, 12, 1, 4, 20, {2}).frames, &why),
                 qPrintable(why));
        // Image 2 really carried something, so leaving it out is visible.
        QVERIFY(!sameFrames(run.frames, oracle::typeB(decoded_, 0, 12, 1, 4, 20).frames, &why));
    }
};

QTEST_MAIN(TestStrobeCompose)
#include "tst_strobe_compose.moc"
