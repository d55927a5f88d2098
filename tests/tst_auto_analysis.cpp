#include <algorithm>
#include <deque>

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include "analysis/auto_analysis.h"
#include "movie_fixtures.h"

namespace
{
const cv::Size kSize(320, 240);
}

class TestAutoAnalysis : public QObject
{
    Q_OBJECT
private slots:
    void searchWindowRule()
    {
        // The example: 40 x 30 template, last point (620, 100), 640 x 480.
        SearchWindow win = searchWindow(true, 620.0, 100.0, 40, 30, 640, 480);
        QCOMPARE(win.x, 520.0);
        QCOMPARE(win.y, 55.0);
        QCOMPARE(win.w, 120.0);
        QCOMPARE(win.h, 90.0);
        QVERIFY(windowFits(win, 640, 480, 40, 30));

        // First frame: the whole frame.
        win = searchWindow(false, 300.0, 300.0, 40, 30, 640, 480);
        QCOMPARE(win.x, 0.0);
        QCOMPARE(win.y, 0.0);
        QCOMPARE(win.w, 640.0);
        QCOMPARE(win.h, 480.0);

        // Near the left and top edges the window starts at 0; near the bottom
        // it ends at the frame's edge.
        win = searchWindow(true, 10.0, 470.0, 40, 30, 640, 480);
        QCOMPARE(win.x, 0.0);
        QCOMPARE(win.y, 390.0);

        // A template wider than a third of the frame: the window starts left
        // of the frame and cannot be searched.
        win = searchWindow(true, 320.0, 240.0, 220, 30, 640, 480);
        QCOMPARE(win.x, 640.0 - 660.0);
        QVERIFY(!windowFits(win, 640, 480, 220, 30));
        // Taller than a third likewise.
        win = searchWindow(true, 320.0, 240.0, 40, 161, 640, 480);
        QVERIFY(!windowFits(win, 640, 480, 40, 161));

        // A template larger than the whole frame never fits.
        QVERIFY(!windowFits(searchWindow(false, 0, 0, 700, 30, 640, 480), 640, 480, 700, 30));

        // The point is the template centre at the best match, in frame pixels.
        const cv::Point2f p = pointFromMatch(7, 3, SearchWindow{520.0, 55.0, 120.0, 90.0}, 41, 30);
        QCOMPARE(p.x, 20.5f + 7.0f + 520.0f);
        QCOMPARE(p.y, 15.0f + 3.0f + 55.0f);
    }

    void matchFindsTheTargetInTheWindow()
    {
        const cv::Mat frame = fixtures::syntheticFrame(7, kSize);
        const cv::Point tl = fixtures::targetTopLeft(7, kSize);
        const cv::Mat templ = frame(cv::Rect(tl, fixtures::targetSize(kSize))).clone();
        cv::Point at(-1, -1);
        SearchWindow whole{0, 0, 320, 240};
        QVERIFY(matchInWindow(frame, templ, whole, at));
        QCOMPARE(at, tl);
        const SearchWindow around =
            searchWindow(true, tl.x + 5.0, tl.y + 3.0, templ.cols, templ.rows, 320, 240);
        QVERIFY(matchInWindow(frame, templ, around, at));
        QCOMPARE(at.x + static_cast<int>(around.x), tl.x);
        QCOMPARE(at.y + static_cast<int>(around.y), tl.y);
        // No search: the location stays as it was.
        at = cv::Point(-5, -5);
        QVERIFY(!matchInWindow(frame, cv::Mat(200, 200, CV_8UC3, cv::Scalar::all(9)),
                               searchWindow(true, 160, 120, 200, 200, 320, 240), at));
        QCOMPARE(at, cv::Point(-5, -5));
        QVERIFY(!matchInWindow(frame, cv::Mat(10, 10, CV_8UC1), whole, at));
    }

    void burnedPathCanBeTakenOutAgain()
    {
        const cv::Mat original = fixtures::syntheticFrame(3, kSize);
        // Points at the frame's edges and corners, where the area is clipped.
        const std::deque<float> xs = {0.5f, 40.2f, 319.9f, 319.0f, 150.0f, 2.0f};
        const std::deque<float> ys = {0.0f, 80.7f, 10.0f, 239.5f, 120.0f, 239.0f};
        for (size_t n = 0; n <= xs.size(); ++n) {
            const std::deque<float> px(xs.begin(), xs.begin() + static_cast<long>(n));
            const std::deque<float> py(ys.begin(), ys.begin() + static_cast<long>(n));
            cv::Mat frame = original.clone();
            const CleanPatch patch = savePathArea(frame, px, py);
            drawPathIntoFrame(frame, px, py);
            // Every pixel the path changed lies inside the saved area.
            cv::Mat changed;
            cv::compare(frame, original, changed, cv::CMP_NE);
            cv::Mat outside = changed.clone();
            if (!patch.area.empty())
                outside(patch.area).setTo(0);
            QCOMPARE(cv::countNonZero(outside.reshape(1)), 0);
            QCOMPARE(cv::countNonZero(changed.reshape(1)) > 0, n >= 2);
            // Putting the patch back gives the frame as decoded; the burned
            // frame itself is left as it is.
            const cv::Mat clean = withPatch(frame, patch);
            QCOMPARE(cv::norm(clean, original, cv::NORM_INF), 0.0);
            if (n >= 2)
                QVERIFY(cv::norm(frame, original, cv::NORM_INF) > 0.0);
        }
        // The burned line is cyan and thick: it covers the rows beside its
        // axis, and no further than the margin the saved area allows for.
        cv::Mat frame(60, 60, CV_8UC3, cv::Scalar::all(0));
        drawPathIntoFrame(frame, {10.0f, 50.9f}, {30.0f, 30.0f});
        for (int row : {29, 30, 31})
            QCOMPARE(frame.at<cv::Vec3b>(row, 30), cv::Vec3b(255, 255, 0));
        QCOMPARE(frame.at<cv::Vec3b>(26, 30), cv::Vec3b(0, 0, 0));
        QCOMPARE(frame.at<cv::Vec3b>(34, 30), cv::Vec3b(0, 0, 0));
        QCOMPARE(frame.at<cv::Vec3b>(30, 55), cv::Vec3b(0, 0, 0));
    }

    void incrementalBurnMatchesDrawingEveryLine()
    {
        // A wandering path with repeated points, edge points and long jumps;
        // after each point the burned frame must equal the one drawn line by
        // line, byte for byte, and the patch must give the decoded frame back.
        cv::RNG rng(7);
        std::deque<float> xs, ys;
        PathBurner burner;
        burner.reset(kSize);
        float x = 160.0f, y = 120.0f;
        for (int k = 0; k < 60; ++k) {
            if (k % 9 == 4) {
                x = static_cast<float>(rng.uniform(0.0, 320.0));
                y = static_cast<float>(rng.uniform(0.0, 240.0));
            } else if (k % 7 != 3) {
                x = std::clamp(x + static_cast<float>(rng.uniform(-9.0, 9.0)), 0.0f, 319.9f);
                y = std::clamp(y + static_cast<float>(rng.uniform(-9.0, 9.0)), 0.0f, 239.9f);
            }
            xs.push_back(x);
            ys.push_back(y);
            burner.addPoint(x, y);

            const cv::Mat decoded = fixtures::syntheticFrame(k, kSize);
            cv::Mat oracle = decoded.clone();
            drawPathIntoFrame(oracle, xs, ys);
            cv::Mat burned = decoded.clone();
            const CleanPatch patch = burner.burnInto(burned);
            QVERIFY2(cv::norm(burned, oracle, cv::NORM_INF) == 0.0, qPrintable(QString::number(k)));
            QCOMPARE(cv::norm(withPatch(burned, patch), decoded, cv::NORM_INF), 0.0);
        }
        // A frame of another size is not touched.
        cv::Mat other = fixtures::syntheticFrame(0, cv::Size(160, 120));
        const cv::Mat before = other.clone();
        QVERIFY(burner.burnInto(other).area.empty());
        QCOMPARE(cv::norm(other, before, cv::NORM_INF), 0.0);
    }
};

QTEST_MAIN(TestAutoAnalysis)
#include "tst_auto_analysis.moc"
