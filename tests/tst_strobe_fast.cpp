#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <mutex>

#include "strobe/strobe_compose.h"
#include "strobe/strobe_sparse.h"
#include "strobe_oracle.h"
#include "strobe_straightforward.h"
#include "test_support.h"

// The program's composition (each sample decoded once, sparse samples) against
// the plain one kept here: the same frames byte for byte, the same PNG files.

namespace {

struct Outcome {
    std::vector<cv::Mat> frames;
    std::map<QString, QByteArray> pngs;
    std::map<int, int> reads; // per slot
};

Outcome run(bool fast, bool typeB, const std::vector<cv::Mat>& movie, const StrobePlan& plan,
            int broken = -1)
{
    QDir("temp").removeRecursively();
    Outcome out;
    std::mutex counting;
    const StrobeFrameSource source = [&movie, &out, &counting, broken](int slot, int index,
                                                                       cv::Mat& frame) {
        {
            std::lock_guard<std::mutex> lock(counting);
            ++out.reads[slot];
        }
        return index != broken && oracle::frameAt(movie, index, frame);
    };
    // The fast composition promises never to change a frame once handed over
    // (the movie writer keeps them without a copy), so its frames are kept as
    // they are: a frame changed afterwards would no longer match the oracle.
    const StrobeFrameSink sink = [&out, fast](const cv::Mat& frame) {
        out.frames.push_back(fast ? frame : frame.clone());
    };
    if (fast)
        typeB ? composeStrobeTypeB(plan, source, sink) : composeStrobeTypeA(plan, source, sink);
    else
        typeB ? straightforward::typeB(plan, source, sink) : straightforward::typeA(plan, source, sink);
    for (const QString& name : QDir("temp").entryList(QDir::Files)) {
        QFile f("temp/" + name);
        if (f.open(QIODevice::ReadOnly))
            out.pngs[name] = f.readAll();
    }
    return out;
}

StrobePlan makePlan(int S, int E, int step, int N, int thr)
{
    StrobePlan plan;
    plan.start = S;
    plan.end = E;
    plan.step = step;
    plan.number = N;
    plan.threshold = thr;
    return plan;
}

} // namespace

class TestStrobeFast : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString oldCurrent_;
    std::map<QString, std::vector<cv::Mat>> movies_;

    void compareAll(bool typeB)
    {
        int compared = 0;
        for (const auto& [name, movie] : movies_) {
            const int count = static_cast<int>(movie.size());
            for (int thr : {0, 20, 765})
                for (int N : {0, 1, 25})
                    for (int step : {1, 3})
                        for (auto [S, E] : {std::pair{0, count}, std::pair{5, 17}, std::pair{2, 2 + 3 * step}}) {
                            const StrobePlan plan = makePlan(S, E, step, N, thr);
                            const Outcome want = run(false, typeB, movie, plan);
                            const Outcome got = run(true, typeB, movie, plan);
                            const QByteArray where = QString("%1 thr %2 N %3 step %4 S %5 E %6")
                                                         .arg(name).arg(thr).arg(N).arg(step).arg(S).arg(E)
                                                         .toLatin1();
                            QVERIFY2(got.frames.size() == want.frames.size(), where.constData());
                            for (size_t i = 0; i < want.frames.size(); ++i)
                                QVERIFY2(cv::norm(got.frames[i], want.frames[i], cv::NORM_INF) == 0,
                                         (where + " frame " + QByteArray::number(int(i))).constData());
                            QVERIFY2(got.pngs == want.pngs, where.constData());
                            // Each sample decoded once; no frame read more often than the range has.
                            QVERIFY2(got.reads.count(0) == 0 || got.reads.at(0) <= (E - S) / step + 1, where.constData());
                            compared += static_cast<int>(want.frames.size());
                        }
        }
        QVERIFY(compared > 500);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        oldCurrent_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        QVERIFY(strobescene::write("scene.avi", 40));
        movies_["decoded MJPG"] = strobescene::decodeAll("scene.avi");
        QCOMPARE(static_cast<int>(movies_["decoded MJPG"].size()), 40);
        std::vector<cv::Mat> raw;
        for (int i = 0; i < 36; ++i)
            raw.push_back(strobescene::frame(i, cv::Size(48, 40)));
        movies_["uncompressed, black block"] = raw;
    }
    void cleanupTestCase() { QDir::setCurrent(oldCurrent_); }

    void typeAEqualsPlain() { compareAll(false); }
    void typeBEqualsPlain() { compareAll(true); }

    void typeAWithBasesDecodedAgain()
    {
        // No room for the window of bases: each base comes from a second read.
        const std::vector<cv::Mat>& movie = movies_["decoded MJPG"];
        StrobePlan plan = makePlan(0, 40, 1, 5, 20);
        plan.baseWindowBytes = 0;
        const Outcome want = run(false, false, movie, plan);
        const Outcome got = run(true, false, movie, plan);
        QCOMPARE(got.frames.size(), want.frames.size());
        for (size_t i = 0; i < want.frames.size(); ++i)
            QCOMPARE(cv::norm(got.frames[i], want.frames[i], cv::NORM_INF), 0.0);
        QCOMPARE(got.reads.at(1), 40 - 5 - 1 - 1); // bases 1 to K - N - 1
    }

    void brokenFrameInsideTheRange()
    {
        // Frame 20 cannot be decoded: both ways stop at the same frame and
        // leave the same strobe images.
        const std::vector<cv::Mat>& movie = movies_["decoded MJPG"];
        for (bool typeB : {false, true})
            for (int step : {1, 3}) {
                const StrobePlan plan = makePlan(2, 38, step, 4, 20);
                const Outcome want = run(false, typeB, movie, plan, 20);
                const Outcome got = run(true, typeB, movie, plan, 20);
                QVERIFY(!want.frames.empty());
                QCOMPARE(got.frames.size(), want.frames.size());
                for (size_t i = 0; i < want.frames.size(); ++i)
                    QCOMPARE(cv::norm(got.frames[i], want.frames[i], cv::NORM_INF), 0.0);
                QVERIFY(got.pngs == want.pngs);
            }
    }

    void unreadableStrobeImageMatchesPlain()
    {
        const std::vector<cv::Mat>& movie = movies_["decoded MJPG"];
        const StrobePlan plan = makePlan(0, 14, 1, 4, 20);
        auto blocked = [&](bool fast) {
            QDir("temp").removeRecursively();
            QDir().mkpath("temp/img_3.png");
            Outcome out;
            const StrobeFrameSource source = [&movie](int, int index, cv::Mat& frame) {
                return oracle::frameAt(movie, index, frame);
            };
            const StrobeFrameSink sink = [&out](const cv::Mat& f) { out.frames.push_back(f.clone()); };
            fast ? composeStrobeTypeB(plan, source, sink) : straightforward::typeB(plan, source, sink);
            return out;
        };
        const Outcome want = blocked(false), got = blocked(true);
        QCOMPARE(got.frames.size(), want.frames.size());
        for (size_t i = 0; i < want.frames.size(); ++i)
            QCOMPARE(cv::norm(got.frames[i], want.frames[i], cv::NORM_INF), 0.0);
    }

    void sparseFormKeepsOnlyMovingPixels()
    {
        const cv::Mat a = strobescene::frame(3), b = strobescene::frame(4), c = strobescene::frame(5);
        const SparsePixels moving = movingPixels(b, c, 20);
        QVERIFY(moving.count() > 0);
        QVERIFY(moving.count() < b.total() / 4);
        cv::Mat dense = b.clone(), sample = b.clone();
        dense.setTo(cv::Scalar(1, 2, 3));
        cv::Mat viaRule = dense.clone();
        layOverTypeA(viaRule, sample, c, 20);
        layOverSparse(dense, moving, 20, 0, dense.rows);
        QCOMPARE(cv::norm(dense, viaRule, cv::NORM_INF), 0.0);

        cv::Mat masked = b.clone();
        maskStrobeImage(a, masked, c, 20);
        QCOMPARE(cv::norm(denseImage(strobePixels(a, b, c, 20)), masked, cv::NORM_INF), 0.0);
    }
};

QTEST_MAIN(TestStrobeFast)
#include "tst_strobe_fast.moc"
