#include <QGraphicsView>
#include <QtTest>

#include <opencv2/core.hpp>

#include "analysis/range_selection.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "test_support.h"

namespace {

bool sameBytes(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

} // namespace

class TestRangeSelection : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    void geometryFollowsTheViewMargin()
    {
        // A 640 x 480 movie centred in a 700 x 520 view.
        const SelectionOffset off = selectionOffset(700, 520, 640, 480);
        QCOMPARE(off.x, 30.0f);
        QCOMPARE(off.y, 20.0f);
        QCOMPARE(selectionOffset(641, 480, 640, 480).x, 0.5f);

        const DraggedRect drag = draggedRect(130, 70, 230, 130);
        const FrameRectF shown = displayRect(drag, off);
        QCOMPARE(shown.x, 100.0);
        QCOMPARE(shown.y, 50.0);
        QCOMPARE(shown.w, 100.0);
        QCOMPARE(shown.h, 60.0);

        const CutRect cut = cutRect(drag, off);
        QCOMPARE(cut.x, 100);
        QCOMPARE(cut.y, 50);
        QCOMPARE(cut.iw, 100);
        QCOMPARE(cut.ih, 60);
        QVERIFY(acceptCut(cut, 640, 480));
        QCOMPARE(cutCentreRow(cut), 80);
        // Odd heights: the centre row is truncated, not rounded.
        QCOMPARE(cutCentreRow(cutRect(draggedRect(0, 10, 5, 17), {})), 13);
    }

    void pressTestIsAgainstTheViewNotTheFrame()
    {
        // Truncation toward zero lets a point less than a pixel left through.
        QVERIFY(pressInsideView({-0.5, 0, 10, 10}, 700, 520));
        QVERIFY(!pressInsideView({-1.0, 0, 10, 10}, 700, 520));
        QVERIFY(!pressInsideView({0, -3, 10, 10}, 700, 520));
        QVERIFY(pressInsideView({700, 520, 10, 10}, 700, 520));
        QVERIFY(!pressInsideView({701, 0, 10, 10}, 700, 520));
        QVERIFY(!pressInsideView({std::nan(""), 0, 10, 10}, 700, 520));
    }

    void acceptanceKeepsTheCutInsideThePicture_data()
    {
        QTest::addColumn<double>("pressX");
        QTest::addColumn<double>("pressY");
        QTest::addColumn<double>("dragX");
        QTest::addColumn<double>("dragY");
        QTest::addColumn<bool>("accepted");
        // Frame 640 x 480 with no margin.
        QTest::newRow("right edge exactly") << 600.0 << 10.0 << 640.0 << 50.0 << true;
        QTest::newRow("past the right edge") << 601.0 << 10.0 << 641.5 << 50.0 << false;
        QTest::newRow("bottom edge exactly") << 0.0 << 400.0 << 30.0 << 480.0 << true;
        QTest::newRow("past the bottom edge") << 0.0 << 400.0 << 30.0 << 480.5 << false;
        QTest::newRow("one pixel wide") << 10.0 << 10.0 << 11.0 << 50.0 << false;
        QTest::newRow("one pixel high") << 10.0 << 10.0 << 50.0 << 11.0 << false;
        QTest::newRow("just over one pixel") << 10.0 << 10.0 << 12.0 << 12.0 << true;
        QTest::newRow("dragged up and left") << 100.0 << 100.0 << 50.0 << 50.0 << false;
        QTest::newRow("starts left of the picture") << -20.0 << 10.0 << 40.0 << 50.0 << false;
        QTest::newRow("starts above the picture") << 10.0 << -20.0 << 40.0 << 50.0 << false;
        QTest::newRow("starts a fraction left") << -0.5 << 10.0 << 40.0 << 50.0 << true;
        QTest::newRow("not a number") << 10.0 << 10.0 << std::nan("") << 50.0 << false;
    }

    void acceptanceKeepsTheCutInsideThePicture()
    {
        QFETCH(double, pressX);
        QFETCH(double, pressY);
        QFETCH(double, dragX);
        QFETCH(double, dragY);
        QFETCH(bool, accepted);
        const CutRect cut = cutRect(draggedRect(pressX, pressY, dragX, dragY), {});
        QCOMPARE(acceptCut(cut, 640, 480), accepted);
        if (accepted) {
            QVERIFY(cut.x >= 0 && cut.y >= 0);
            QVERIFY(cut.x + cut.iw <= 640 && cut.y + cut.ih <= 480);
        }
        QVERIFY(!acceptCut(cut, 0, 480));
        QVERIFY(!acceptCut(cut, 640, 0));
    }

    void liveDragsCalibrateAndCutTheTarget()
    {
        const cv::Mat frame = noiseFrame(640, 480, 7);
        installFakeRig([frame](int) { return frame.clone(); });
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.viewWidth_ > 0 && w.viewHeight_ > 0);
        w.currentFrameMat = frame.clone();
        const SelectionOffset off = selectionOffset(w.viewWidth_, w.viewHeight_, 640, 480);
        auto viewPoint = [&](int fx, int fy) {
            return QPoint(static_cast<int>(std::ceil(fx + off.x)),
                          static_cast<int>(std::ceil(fy + off.y)));
        };
        const double dx = viewPoint(0, 0).x() - off.x;
        const double dy = viewPoint(0, 0).y() - off.y;

        // Step 0: the plate. Its height becomes the calibration.
        w.step_ = 0;
        QSignalSpy moved(w.liveView_, &MyGraphicsView::dragMoved);
        dragOnView(w.liveView_, viewPoint(200, 100), viewPoint(290, 190));
        QCOMPARE(moved.count(), 4);
        QCOMPARE(w.platePixel_, 90.0f);
        QVERIFY(w.templateMat.empty());
        QCOMPARE(w.liveRect_, QRectF(200 + dx, 100 + dy, 90, 90));
        QVERIFY(w.barX_.empty());
        QVERIFY(w.barY_.empty());
        QCOMPARE(w.barVy_.size(), size_t(50)); // velocities are kept

        // Step 1: the target. Template and height reference come from the frame.
        w.step_ = 1;
        w.barX_.push_back(1.0f);
        w.barY_.push_back(1.0f);
        dragOnView(w.liveView_, viewPoint(300, 200), viewPoint(340, 230));
        QVERIFY(w.barX_.empty());
        QVERIFY(sameBytes(w.templateMat, frame(cv::Rect(300, 200, 40, 30))));
        QCOMPARE(w.baseY_, 215);
        QCOMPARE(w.platePixel_, 90.0f);

        // A drag from the margin left of or above the picture cuts nothing and
        // keeps the template and the calibration.
        const cv::Mat before = w.templateMat.clone();
        dragOnView(w.liveView_, viewPoint(-20, 10), viewPoint(40, 50));
        dragOnView(w.liveView_, viewPoint(10, -20), viewPoint(40, 50));
        QVERIFY(sameBytes(w.templateMat, before));
        QCOMPARE(w.baseY_, 215);
        w.step_ = 0;
        dragOnView(w.liveView_, viewPoint(10, -20), viewPoint(40, 50));
        QCOMPARE(w.platePixel_, 90.0f);

        // The template is a copy: changing the frame afterwards leaves it alone.
        w.currentFrameMat.setTo(cv::Scalar::all(0));
        QVERIFY(sameBytes(w.templateMat, frame(cv::Rect(300, 200, 40, 30))));
    }
};

QTEST_MAIN(TestRangeSelection)
#include "tst_range_selection.moc"
