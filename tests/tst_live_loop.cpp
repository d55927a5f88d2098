#include "analysis/live_tracking.h"
#include "analysis/measurement.h"
#include "support.h"

static const cv::Size kFrame(640, 480);
static int blankRead = -1;          // the read on which the camera gives no picture
static cv::Mat liftOnTexture(int k) // the lift scene's target on a textured background
{
    cv::Mat frame = noiseFrame(640, 480, 7);
    const cv::Rect r(targetTopLeft(k, kFrame), targetSize(kFrame));
    syntheticFrame(k, kFrame)(r).copyTo(frame(r));
    return k == blankRead ? cv::Mat() : frame;
}
class TstLiveLoop : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }
    void liveRoadFollowsTheLift()
    {
        WorkDir dir;
        FakeRig rig = installFakeRig(liftOnTexture);
        MainWindow w;
        auto y = [](int k) { return targetCentre(k, kFrame).y; };
        w.fpsActions_[2]->trigger(); // 20 fps: frame n is due exactly 50 n ms after the first
        w.show();
        QTRY_COMPARE(w.camera_.frameCount_,
                     1); // the first picture comes at once, the next 50 ms later
        advance(rig, 49);
        QCOMPARE(w.camera_.frameCount_, 1);
        const int first = rig.camera->reads - 1, last = first + 55, held = first + 4;
        const cv::Rect target(targetTopLeft(first, kFrame), targetSize(kFrame));
        QTest::mouseClick(findButton(w, "Analysis"), Qt::LeftButton);
        for (const cv::Rect r : {cv::Rect(100, 100, 50, 90), target}) { // the plate, the target
            dragOverFrame(w, w.liveView_, r);
            QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
        }
        blankRead = first + 2; // neither it nor the tick a press is held over is traced
        for (int k = first + 1; k <= last; ++k) {
            if (k == held || k == held + 1)
                QTest::mouseEvent(k == held ? QTest::MousePress : QTest::MouseRelease,
                                  w.liveView_->viewport(), Qt::LeftButton, {}, QPoint(60, 60));
            advance(rig, k == first + 1 ? 1 : 50);
            QTRY_COMPARE(rig.camera->reads, k + 1);
            const cv::Point2f at(w.live_.barX_.back(), w.live_.barY_.back()),
                want = targetCentre(k == held || k == blankRead ? k - 1 : k, kFrame);
            QVERIFY(cv::norm(at - want) <= 1 && w.live_.barX_.size() <= 50);
        }
        // Up from the dragged row, 45 cm over 90 px, upward positive; maxima over the last 50.
        float rise = 0, up = 0;
        for (int k = last - 49; k <= last; ++k)
            rise = std::max(rise, y(first) - y(k)), up = std::max(up, y(k - 1) - y(k));
        QVERIFY(std::abs(w.measure_.height_ - 23 - (y(first) - y(last)) / 2) <= 0.5f &&
                std::abs(w.measure_.maxHeight_ - 23 - rise / 2) <= 0.5f);
        QVERIFY(std::abs(w.measure_.vy_ - (y(last - 1) - y(last)) * 10) <= 20 &&
                std::abs(w.measure_.maxVy_ - up * 10) <= 20);
        w.flipAction_->trigger(); // mirrored from the next picture on
        advance(rig, 50);
        QTRY_COMPARE(rig.camera->reads, last + 2);
        cv::Mat mirrored;
        cv::flip(liftOnTexture(last + 1), mirrored, 1);
        QCOMPARE(cv::norm(w.movie_.currentFrameMat, mirrored, cv::NORM_INF), 0.0);
    }
    void searchWindowsStayInTheFrame_data()
    {
        QTest::addColumn<QPointF>("p");
        const double inf = INFINITY, nan = NAN;
        const QPointF points[] = {{320, 240}, {0, 0},     {639, 240},  {639, 479}, {-50, -1e9},
                                  {700, 1e9}, {inf, inf}, {-inf, 240}, {nan, 240}, {320, nan}};
        for (const QPointF& p : points)
            QTest::addRow("%g,%g", p.x(), p.y()) << p;
    }
    void searchWindowsStayInTheFrame()
    {
        QFETCH(QPointF, p);
        const cv::Mat frame = noiseFrame(640, 480, 3);
        for (const cv::Size t :
             {cv::Size(8, 6), cv::Size(213, 160), cv::Size(214, 20), cv::Size(20, 161)}) {
            const SearchWindow win = searchWindow(std::deque<float>{float(p.x())}, {float(p.y())},
                                                  t.width, t.height, 640, 480);
            const bool fits = windowFits(win, 640, 480, t.width, t.height);
            // Up to a third of the frame, searched for around any point but nan, inside the frame.
            QCOMPARE(fits, !std::isnan(p.x() + p.y()) && t.width <= 213 && t.height <= 160);
            QVERIFY(!fits || (windowRect(win) & cv::Rect(0, 0, 640, 480)) == windowRect(win));
            cv::Point at;
            QCOMPARE(matchInWindow(frame, frame(cv::Rect({0, 0}, t)), win, at), fits);
        }
    }
    void measurement_data()
    {
        QTest::addColumn<float>("plate");
        for (float plate : {90.0f, 97.3f, 0.0f, -90.0f, std::nanf(""), float(INFINITY)})
            QTest::addRow("%g px", double(plate)) << plate;
    }
    void measurement()
    {
        QFETCH(float, plate);
        // Dragged row 315; the bar rose 100 px and is back at 240. Velocities in px/s, y down.
        float h = -1, maxH = -1, vy = -1, maxVy = -1;
        QVERIFY(measureHeight({315, 260, 215, 240}, 315, plate, 23, h, maxH) &&
                measureVelocity({0, -120, -240, 60}, plate, vy, maxVy));
        const bool calibrated = std::isfinite(plate) && plate > 0;
        const float cm = calibrated ? 45.0f / plate : 0.0f, base = calibrated ? 23.0f : 0.0f;
        QVERIFY(plateCalibrated(plate) == calibrated && cmPerPixel(plate) == cm);
        const float want[] = {base + 75 * cm, base + 100 * cm, -60 * cm, 240 * cm},
                    got[] = {h, maxH, vy, maxVy};
        for (int i = 0; i < 4; ++i)
            QVERIFY(std::abs(got[i] - want[i]) <= 1e-4f * std::abs(want[i]));
    }
};

QTEST_MAIN(TstLiveLoop)
#include "tst_live_loop.moc"
