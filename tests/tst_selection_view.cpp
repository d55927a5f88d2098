#include <QGraphicsRectItem>
#include <QSignalSpy>
#include <QStringList>
#include <QtTest>

#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "app/selection_state.h"
#include "stdout_capture.h"
#include "test_support.h"

namespace
{

// Records the order in which a view's signals arrive, together with the shared
// state each receiver would see at that moment.
struct SignalLog {
    QStringList events;

    void attach(MyGraphicsView* view, const QString& name)
    {
        auto note = [this, name](const char* signal) {
            const SelectionState& s = selectionState();
            events << QString("%1:%2 dragging=%3 press=(%4,%5) drag=(%6,%7)")
                          .arg(name, signal)
                          .arg(s.dragging_)
                          .arg(s.pressPos_.x)
                          .arg(s.pressPos_.y)
                          .arg(s.dragPos_.x)
                          .arg(s.dragPos_.y);
        };
        QObject::connect(view, &MyGraphicsView::dragStarted, view, [note] { note("started"); });
        QObject::connect(view, &MyGraphicsView::mousePressed, view, [note] { note("pressed"); });
        QObject::connect(view, &MyGraphicsView::dragMoved, view, [note] { note("moved"); });
        QObject::connect(view, &MyGraphicsView::dragEnded, view, [note] { note("ended"); });
    }
};

// A view large enough that the move limits (640 by 480) lie inside it.
std::unique_ptr<MyGraphicsView> makeLargeView()
{
    auto view = std::make_unique<MyGraphicsView>();
    view->resize(900, 700);
    view->show();
    return view;
}

} // namespace

class TestSelectionView : public QObject
{
    Q_OBJECT
private slots:
    void init() { selectionState() = SelectionState{}; }
    void cleanup() { resetEnvironment(); }

    void dragEmitsInOrderAndClampsMovePoints()
    {
        auto view = makeLargeView();
        QWidget* vp = view->viewport();
        SignalLog log;
        log.attach(view.get(), "v");
        QSignalSpy started(view.get(), &MyGraphicsView::dragStarted);
        QSignalSpy pressed(view.get(), &MyGraphicsView::mousePressed);
        QSignalSpy moved(view.get(), &MyGraphicsView::dragMoved);
        QSignalSpy ended(view.get(), &MyGraphicsView::dragEnded);

        StdoutCapture out;
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(100, 50));
        QTest::mouseMove(vp, QPoint(120, 60));
        QTest::mouseMove(vp, QPoint(-30, -5));  // left of and above the view
        QTest::mouseMove(vp, QPoint(800, 650)); // beyond the limits, inside the view
        QTest::mouseMove(vp, QPoint(640, 480)); // exactly on the limits
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(700, 10));
        const QByteArray text = out.take();

        QCOMPARE(started.count(), 1);
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(moved.count(), 4);
        QCOMPARE(ended.count(), 1);
        const QStringList expected = {
            "v:started dragging=1 press=(100,50) drag=(0,0)",
            "v:pressed dragging=1 press=(100,50) drag=(0,0)",
            "v:moved dragging=1 press=(100,50) drag=(120,60)",
            "v:moved dragging=1 press=(100,50) drag=(0,0)",
            "v:moved dragging=1 press=(100,50) drag=(640,480)",
            "v:moved dragging=1 press=(100,50) drag=(640,480)",
            // The receiver of the release still sees the drag in progress.
            "v:ended dragging=1 press=(100,50) drag=(640,480)",
        };
        QCOMPARE(log.events, expected);
        QCOMPARE(selectionState().dragging_, 0);
        // The release point is only printed, never stored.
        QCOMPARE(selectionState().dragPos_.x, 640.0);

        const QByteArray trace = "MyGraphicsView::mousePressEvent\n"
                                 "  {100.000, 50.000,}\n"
                                 "MyGraphicsView::mouseMoveEvent\n"
                                 "  {120.000, 60.000,}\n"
                                 "  {120.000, 60.000,}\n"
                                 "MyGraphicsView::mouseMoveEvent\n"
                                 "  {-30.000, -5.000,}\n"
                                 "  {0.000, 0.000,}\n"
                                 "MyGraphicsView::mouseMoveEvent\n"
                                 "  {800.000, 650.000,}\n"
                                 "  {640.000, 480.000,}\n"
                                 "MyGraphicsView::mouseMoveEvent\n"
                                 "  {640.000, 480.000,}\n"
                                 "  {640.000, 480.000,}\n"
                                 "MyGraphicsView::mouseReleaseEvent\n"
                                 "  {700.000, 10.000,}\n";
        QCOMPARE(text, trace);
    }

    void pressPointIsNotClampedButMovesAre_data()
    {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QPoint>("move");
        QTest::addColumn<QPointF>("dragPos");
        QTest::newRow("inside") << QPoint(10, 20) << QPoint(300, 200) << QPointF(300, 200);
        QTest::newRow("right of limit only")
            << QPoint(10, 20) << QPoint(641, 100) << QPointF(640, 100);
        QTest::newRow("below limit only")
            << QPoint(10, 20) << QPoint(100, 481) << QPointF(100, 480);
        QTest::newRow("press outside limits")
            << QPoint(850, 690) << QPoint(-1, 700) << QPointF(0, 480);
    }

    void pressPointIsNotClampedButMovesAre()
    {
        QFETCH(QPoint, press);
        QFETCH(QPoint, move);
        QFETCH(QPointF, dragPos);
        auto view = makeLargeView();
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, press);
        QTest::mouseMove(view->viewport(), move);
        QCOMPARE(selectionState().pressPos_.x, double(press.x()));
        QCOMPARE(selectionState().pressPos_.y, double(press.y()));
        QCOMPARE(selectionState().dragPos_.x, dragPos.x());
        QCOMPARE(selectionState().dragPos_.y, dragPos.y());
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, move);
    }

    void clickWithoutMoveKeepsTheEarlierDragPoint()
    {
        auto view = makeLargeView();
        QWidget* vp = view->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(vp, QPoint(30, 40));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(30, 40));

        SignalLog log;
        log.attach(view.get(), "v");
        // Any button starts a selection.
        QTest::mouseClick(vp, Qt::RightButton, {}, QPoint(200, 150));
        const QStringList expected = {
            "v:started dragging=1 press=(200,150) drag=(30,40)",
            "v:pressed dragging=1 press=(200,150) drag=(30,40)",
            "v:ended dragging=1 press=(200,150) drag=(30,40)",
        };
        QCOMPARE(log.events, expected);
    }

    void movingWithoutAPressDoesNothing()
    {
        auto view = makeLargeView();
        view->setMouseTracking(true);
        QSignalSpy moved(view.get(), &MyGraphicsView::dragMoved);
        StdoutCapture out;
        QTest::mouseMove(view->viewport(), QPoint(50, 60));
        QTest::mouseMove(view->viewport(), QPoint(70, 80));
        QCOMPARE(out.take(), QByteArray());
        QCOMPARE(moved.count(), 0);
        QCOMPARE(selectionState().dragPos_.x, 0.0);
        QCOMPARE(selectionState().dragPos_.y, 0.0);
    }

    void dragStateIsSharedByAllViews()
    {
        // A press on one view and moves reported by another still count as one
        // drag: the flag and the points are program-wide.
        auto first = makeLargeView();
        auto second = makeLargeView();
        SignalLog log;
        log.attach(first.get(), "a");
        log.attach(second.get(), "b");
        QTest::mousePress(first->viewport(), Qt::LeftButton, {}, QPoint(5, 6));
        QTest::mouseMove(second->viewport(), QPoint(7, 8));
        QTest::mouseRelease(second->viewport(), Qt::LeftButton, {}, QPoint(7, 8));
        QTest::mouseMove(first->viewport(), QPoint(9, 9)); // no drag any more
        const QStringList expected = {
            "a:started dragging=1 press=(5,6) drag=(0,0)",
            "a:pressed dragging=1 press=(5,6) drag=(0,0)",
            "b:moved dragging=1 press=(5,6) drag=(7,8)",
            "b:ended dragging=1 press=(5,6) drag=(7,8)",
        };
        QCOMPARE(log.events, expected);
    }

    void sceneNeverSeesTheMouse()
    {
        // Presses and drags belong to the selection; a movable item in the
        // scene must stay where it is.
        QGraphicsScene scene(0, 0, 400, 300);
        QGraphicsRectItem* item = scene.addRect(0, 0, 100, 100);
        item->setFlag(QGraphicsItem::ItemIsMovable);
        item->setFlag(QGraphicsItem::ItemIsSelectable);
        MyGraphicsView view;
        view.setScene(&scene);
        view.resize(500, 400);
        view.show();
        const QPoint inside = view.mapFromScene(QPointF(50, 50));
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, inside);
        QTest::mouseMove(view.viewport(), inside + QPoint(40, 40));
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, inside + QPoint(40, 40));
        QCOMPARE(item->pos(), QPointF(0, 0));
        QVERIFY(!item->isSelected());
        view.setScene(nullptr);
    }

    void windowViewsReportToTheSharedState()
    {
        // The tab view of a real window, after an earlier window left a drag
        // point behind: a new window starts without one.
        installFakeRig([](int) { return solidFrame(640, 480); });
        {
            MainWindow first;
            first.show();
            QVERIFY(QTest::qWaitForWindowExposed(&first));
            QWidget* vp = first.liveView_->viewport();
            QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(20, 30));
            QTest::mouseMove(vp, QPoint(60, 70));
            QCOMPARE(selectionState().dragging_, 1);
            QCOMPARE(selectionState().dragPos_.x, 60.0);
        }
        MainWindow second;
        QCOMPARE(selectionState().dragging_, 0);
        QCOMPARE(selectionState().pressPos_.x, 0.0);
        QCOMPARE(selectionState().pressPos_.y, 0.0);
        QCOMPARE(selectionState().dragPos_.x, 0.0);
        QCOMPARE(selectionState().dragPos_.y, 0.0);
        QCOMPARE(selectionState().dragLimitX_, 640);
        QCOMPARE(selectionState().dragLimitY_, 480);
    }
};

QTEST_MAIN(TestSelectionView)
#include "tst_selection_view.moc"
