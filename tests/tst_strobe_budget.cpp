#include <QtTest>

#include <cstdint>
#include <memory>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "strobe/strobe_compose.h"
#include "strobe/strobe_layer_store.h"
#include "strobe/strobe_rules.h"
#include "strobe/strobe_sparse.h"
#include "strobe_oracle.h"
#include "support.h"

// Beyond their memory budget the layers of a strobe movie go to a temporary
// file and come back as they are laid over: the movie must not change by a
// byte, however little of it fits.

namespace
{

const cv::Size kSize(64, 48);

// The moving blocks of the strobe scene (one of them black), with every
// seventh frame inverted as by a flash: the samples around a flash move all
// over, so a movie holds sparse and dense layers side by side.
std::vector<cv::Mat> flashingScene(int count)
{
    std::vector<cv::Mat> movie;
    for (int i = 0; i < count; ++i) {
        cv::Mat f = strobescene::frame(i, kSize);
        if (i % 7 == 3)
            f = cv::Scalar::all(255) - f;
        movie.push_back(f);
    }
    return movie;
}

std::vector<cv::Mat> compose(bool typeB, const std::vector<cv::Mat>& movie, const StrobePlan& plan)
{
    std::vector<cv::Mat> frames;
    const StrobeFrameSource source = [&movie](int, int index, cv::Mat& frame) {
        return oracle::frameAt(movie, index, frame);
    };
    // No copy: the composition promises never to change a frame it handed
    // over, and one changed afterwards would no longer match.
    const StrobeFrameSink sink = [&frames](const cv::Mat& frame) { frames.push_back(frame); };
    typeB ? composeStrobeTypeB(plan, source, sink) : composeStrobeTypeA(plan, source, sink);
    return frames;
}

bool sameFrames(const std::vector<cv::Mat>& got, const std::vector<cv::Mat>& want)
{
    if (got.size() != want.size())
        return false;
    for (size_t i = 0; i < want.size(); ++i)
        if (got[i].size() != want[i].size() || cv::norm(got[i], want[i], cv::NORM_INF) != 0)
            return false;
    return true;
}

} // namespace

class TestStrobeBudget : public QObject
{
    Q_OBJECT

private slots:
    void composedAsTheOracle_data()
    {
        QTest::addColumn<bool>("typeB");
        QTest::addColumn<int>("threshold");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("number");
        QTest::addColumn<qulonglong>("budget");
        QTest::addColumn<int>("blocked"); // the offset whose PNG file cannot be written
        // A dense layer takes 9216 bytes here, a sparse one at threshold 20
        // a few hundred: 2000 and 12000 keep some in memory and the rest in
        // the file, and which ones changes as the movie goes on.
        for (bool typeB : {false, true})
            for (int threshold : {0, 20})
                for (qulonglong budget : {0ull, 1ull, 2000ull, 12000ull})
                    QTest::addRow("%s thr %d budget %llu", typeB ? "B" : "A", threshold, budget)
                        << typeB << threshold << 1 << 6 << budget << -1;
        QTest::newRow("A step 3 N 9") << false << 20 << 3 << 9 << 2000ull << -1;
        QTest::newRow("B step 3 N 9") << true << 20 << 3 << 9 << 2000ull << -1;
        // The frames waiting for that file are composed again from the store.
        QTest::newRow("B PNG not written budget 0") << true << 20 << 1 << 6 << 0ull << 3;
        QTest::newRow("B PNG not written budget 12000") << true << 20 << 1 << 6 << 12000ull << 3;
    }
    void composedAsTheOracle()
    {
        QFETCH(bool, typeB);
        QFETCH(int, threshold);
        QFETCH(int, step);
        QFETCH(int, number);
        QFETCH(qulonglong, budget);
        QFETCH(int, blocked);
        WorkDir work;
        if (blocked >= 0)
            QVERIFY(QDir().mkpath(QString::fromStdString(strobeImageName(blocked))));
        const std::vector<cv::Mat> movie = flashingScene(42);
        StrobePlan plan;
        plan.start = 1;
        plan.end = 40;
        plan.step = step;
        plan.number = number;
        plan.threshold = threshold;
        plan.layerBudgetBytes = SIZE_MAX;
        const std::vector<cv::Mat> unlimited = compose(typeB, movie, plan);
        plan.layerBudgetBytes = budget;
        const std::vector<cv::Mat> got = compose(typeB, movie, plan);

        const oracle::Result want =
            typeB ? oracle::typeB(movie, plan.start, plan.end, step, number, threshold, {blocked})
                  : oracle::typeA(movie, plan.start, plan.end, step, number, threshold);
        QVERIFY(!want.frames.empty());
        QVERIFY(sameFrames(got, want.frames));
        QVERIFY(sameFrames(got, unlimited));
        // The strobe images written while their layers were in the file.
        for (const auto& [offset, image] : want.images) {
            if (offset == blocked)
                continue;
            cv::Mat png;
            QVERIFY(readStrobeImage(offset, kSize, png));
            QCOMPARE(cv::norm(png, image, cv::NORM_INF), 0.0);
        }
    }

    void storeKeepsWhatFitsInMemory()
    {
        // Threshold 0 makes every layer dense and of one size: room for three.
        const std::vector<cv::Mat> movie = flashingScene(13);
        const size_t layerBytes = kSize.area() * size_t(3);
        LayerStore store(3 * layerBytes);
        std::vector<std::shared_ptr<const Layer>> layers;
        auto put = [&](int key) {
            layers.push_back(store.put(key, movingPixels(movie[key], movie[key + 1], 0)));
            QCOMPARE(layers.back()->bytes(), layerBytes);
        };
        for (int key = 0; key < 8; ++key)
            put(key);
        QCOMPARE(store.layersInFile(), size_t(5));
        // Dropping two of those in memory makes room for two more.
        store.dropBefore(2);
        put(8);
        put(9);
        QCOMPARE(store.layersInFile(), size_t(5));
        put(10);
        QCOMPARE(store.layersInFile(), size_t(6));
        store.dropBefore(4); // one in memory, one in the file
        QCOMPARE(store.layersInFile(), size_t(5));
        put(11);
        QCOMPARE(store.layersInFile(), size_t(5));

        // Layers 4 to 7 come from the file, 8 and 9 from memory, 10 from the
        // file and 11 from memory.
        cv::Mat got = movie[12].clone(), want = movie[12].clone();
        QVERIFY(store.layOver(got, 4, 12, 20));
        for (int key = 4; key < 12; ++key)
            layOver(want, *layers[static_cast<size_t>(key)], 20, 0, want.rows);
        QCOMPARE(cv::norm(got, want, cv::NORM_INF), 0.0);
    }
};

QTEST_MAIN(TestStrobeBudget)
#include "tst_strobe_budget.moc"
