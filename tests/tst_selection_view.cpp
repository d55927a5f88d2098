#include "app/selection_state.h"
#include "support.h"

Q_DECLARE_METATYPE(cv::Rect)

class TstSelectionView : public QObject
{
    Q_OBJECT
    WorkDir dir_;
private slots:
    void cleanup() { resetEnvironment(); }

    void movesAreClampedUntilTheDragEnds()
    {
        selectionState() = SelectionState{};
        MyGraphicsView view;
        view.resize(900, 700);
        view.show();
        QList<QPointF> at; // where each move leaves the drag
        connect(&view, &MyGraphicsView::dragMoved, this,
                [&at] { at << QPointF(selectionState().dragPos_.x, selectionState().dragPos_.y); });
        QWidget* vp = view.viewport();
        QTest::mouseMove(vp, QPoint(50, 60)); // no button down: no drag
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(100, 50));
        for (QPoint p : {QPoint(120, 60), QPoint(-30, -5), QPoint(800, 650)}) // beyond 640 x 480
            QTest::mouseMove(vp, p);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(700, 10));
        QTest::mouseMove(vp, QPoint(9, 9)); // the drag is over
        QCOMPARE(at, QList<QPointF>({{120, 60}, {0, 0}, {640, 480}}));
        QCOMPARE(selectionState().dragging_, 0);
    }

    // Drags (press point and extent, in frame pixels) for the plate, then the target.
    void liveDragsCutOnlyInsideThePicture_data()
    {
        QTest::addColumn<cv::Rect>("drag");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("inside, odd height") << cv::Rect(100, 50, 40, 31) << true;
        QTest::newRow("to the bottom-right corner") << cv::Rect(280, 200, 40, 40) << true;
        QTest::newRow("starts left of the picture") << cv::Rect(-20, 10, 60, 40) << false;
        QTest::newRow("starts above the picture") << cv::Rect(10, -20, 30, 70) << false;
        QTest::newRow("past the right edge") << cv::Rect(290, 10, 40, 40) << false;
        QTest::newRow("past the bottom edge") << cv::Rect(10, 200, 40, 50) << false;
        QTest::newRow("up and to the left") << cv::Rect(100, 100, -50, -50) << false;
        QTest::newRow("one pixel wide") << cv::Rect(10, 10, 1, 40) << false;
    }

    void liveDragsCutOnlyInsideThePicture()
    {
        QFETCH(cv::Rect, drag);
        QFETCH(bool, accepted);
        const cv::Mat frame = noiseFrame(320, 240, 5);
        installFakeRig([frame](int) { return frame.clone(); });
        MainWindow w;
        w.show();
        QTRY_VERIFY(!w.movie_.currentFrameMat.empty());
        QSignalSpy moved(w.liveView_, &MyGraphicsView::dragMoved);
        for (LiveStep step : {LiveStep::DragPlate, LiveStep::DragTarget}) {
            w.flow_.goTo(step);
            dragOverFrame(w, w.liveView_, drag, {320, 240});
        }
        QCOMPARE(moved.count(), 8);
        const bool shown = drag.x >= 0 && drag.y >= 0; // the red rectangle follows it
        QCOMPARE(w.live_.liveRect_.size(), shown ? QSizeF(drag.width, drag.height) : QSizeF(0, 0));
        QCOMPARE(w.measure_.platePixel_, accepted ? float(drag.height) : 0.0f);
        QCOMPARE(w.measure_.baseY_, accepted ? drag.y + drag.height / 2 : 0);
        QCOMPARE(w.live_.templateMat.empty(), !accepted);
        if (accepted) // exactly the frame's pixels under the drag
            QCOMPARE(cv::norm(w.live_.templateMat, frame(drag), cv::NORM_INF), 0.0);
    }
};

QTEST_MAIN(TstSelectionView)
#include "tst_selection_view.moc"
