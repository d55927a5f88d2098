#include <cmath>

#include <QAction>
#include <QGraphicsLineItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include "analysis/range_selection.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "app/selection_state.h"
#include "test_support.h"

namespace {

// What the fake camera films: a textured background with a distinctive
// target whose top-left corner the test moves.
struct Stage {
    cv::Mat background;
    cv::Mat target;
    cv::Point at{300, 300};
    bool blank = false;

    Stage()
    {
        background.create(480, 640, CV_8UC3);
        cv::RNG(11).fill(background, cv::RNG::NORMAL, 128, 50);
        cv::GaussianBlur(background, background, cv::Size(5, 5), 0);
        target.create(30, 30, CV_8UC3);
        target.setTo(cv::Scalar(0, 255, 255));
        cv::rectangle(target, cv::Rect(8, 8, 14, 14), cv::Scalar(255, 0, 0), cv::FILLED);
        cv::line(target, {0, 0}, {29, 29}, cv::Scalar(0, 0, 0), 2);
    }
    cv::Mat frame() const
    {
        if (blank)
            return cv::Mat();
        cv::Mat f = background.clone();
        target.copyTo(f(cv::Rect(at, target.size())));
        return f;
    }
};

struct Rig {
    std::shared_ptr<Stage> stage = std::make_shared<Stage>();
    FakeRig fake;
    Rig()
    {
        auto s = stage;
        fake = installFakeRig([s](int) { return s->frame(); });
    }
    int reads() const { return fake.camera->reads; }
};

// One timer tick `ms` after the previous one.
void tick(MainWindow& w, Rig& rig, double ms)
{
    rig.fake.clock->now += ms;
    QMetaObject::invokeMethod(&w, "updateCamera");
}

QPushButton* button(MainWindow& w, const QString& text)
{
    for (QPushButton* b : w.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// Viewport point showing frame point (fx, fy), by the window's own margin.
QPoint viewPoint(const MainWindow& w, int fx, int fy)
{
    const SelectionOffset off =
        selectionOffset(w.viewWidth_, w.viewHeight_, w.cameraWidth_, w.cameraHeight_);
    return QPoint(static_cast<int>(std::ceil(fx + off.x)), static_cast<int>(std::ceil(fy + off.y)));
}

void drag(MainWindow& w, QPoint fromFrame, QPoint toFrame)
{
    dragOnView(w.liveView_, viewPoint(w, fromFrame.x(), fromFrame.y()),
               viewPoint(w, toFrame.x(), toFrame.y()));
}

template <typename T> QList<T*> itemsOf(QGraphicsScene& scene)
{
    QList<T*> found;
    for (QGraphicsItem* item : scene.items(Qt::AscendingOrder))
        if (auto* t = qgraphicsitem_cast<T*>(item))
            found.append(t);
    return found;
}

QStringList texts(QGraphicsScene& scene)
{
    QStringList all;
    for (QGraphicsTextItem* t : itemsOf<QGraphicsTextItem>(scene))
        all.append(t->toPlainText());
    return all;
}

int magentaLines(QGraphicsScene& scene)
{
    int n = 0;
    for (QGraphicsLineItem* l : itemsOf<QGraphicsLineItem>(scene))
        n += l->pen().color() == QColor(Qt::magenta) ? 1 : 0;
    return n;
}

// A window whose first processed tick has happened and whose target is the
// stage's target at its current place, as a plate and target drag leave it.
void selectTarget(MainWindow& w, Rig& rig, float platePixel)
{
    QMetaObject::invokeMethod(&w, "updateCamera");
    QCOMPARE(w.frameCount_, 1);
    w.platePixel_ = platePixel;
    w.step_ = 1;
    const cv::Point a = rig.stage->at;
    drag(w, {a.x, a.y}, {a.x + 30, a.y + 30});
    QCOMPARE(w.templateMat.cols, 30);
}

} // namespace

class TestLiveCamera : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    void liveRoadTracesTheTarget()
    {
        Rig rig;
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QMetaObject::invokeMethod(&w, "updateCamera");
        QCOMPARE(w.frameCount_, 1); // the first tick is due at once, later ones wait

        QTest::mouseClick(button(w, "Analysis"), Qt::LeftButton);
        QCOMPARE(w.promptLabel_->text(), QString("Please drag 45cm plate and press [Apply]:"));
        drag(w, {100, 100}, {150, 190});
        QCOMPARE(w.platePixel_, 90.0f);
        QTest::mouseClick(button(w, "Apply"), Qt::LeftButton);
        QCOMPARE(w.promptLabel_->text(), QString("Please drag target area and press Apply:"));
        drag(w, {300, 300}, {330, 330});
        QCOMPARE(w.baseY_, 315);
        QTest::mouseClick(button(w, "Apply"), Qt::LeftButton);
        QCOMPARE(w.promptLabel_->text(), QString("Trace mode is activated:"));
        QCOMPARE(w.step_, 2);

        // The bar goes up 100 px in ten frames, drifting right.
        const std::deque<float> velocitiesBefore = w.barVy_;
        for (int k = 1; k <= 10; ++k) {
            rig.stage->at = {300 + 2 * k, 300 - 10 * k};
            tick(w, rig, 84);
            QCOMPARE(w.frameCount_, 1 + k);
            QVERIFY(std::fabs(w.barX_.back() - (315 + 2 * k)) <= 1.0f);
            QVERIFY(std::fabs(w.barY_.back() - (315 - 10 * k)) <= 1.0f);
            QCOMPARE(w.barX_.size(), size_t(k));
            QCOMPARE(w.liveRect_.center(), QPointF(w.barX_.back(), w.barY_.back()));
            QCOMPARE(w.liveRect_.size(), QSizeF(30, 30));
            if (k == 1) // the first match after a selection has no velocity
                QVERIFY(w.barVy_ == velocitiesBefore);
            else
                QCOMPARE(w.barVy_.back(), -120.0f); // 10 px up per 1/12 s
        }
        QCOMPARE(w.height_, 73.0f);
        QCOMPARE(w.maxHeight_, 73.0f);
        QCOMPARE(w.vy_, 60.0f);
        QCOMPARE(w.maxVy_, 60.0f);
        QVERIFY(texts(w.liveScene_).contains("      H: 73[cm]"));
        QVERIFY(texts(w.liveScene_).contains("      Vy:  60[cm/s]"));
        QCOMPARE(magentaLines(w.liveScene_), 9);
        QVERIFY(cv::norm(w.currentFrameMat, rig.stage->frame(), cv::NORM_INF) == 0);

        // Items from bottom to top: picture, trail, rectangle, cross, time, box.
        const QList<QGraphicsItem*> items = w.liveScene_.items(Qt::AscendingOrder);
        QCOMPARE(items.size(), 1 + 9 + 1 + 2 + 1 + 6);
        QVERIFY(qgraphicsitem_cast<QGraphicsPixmapItem*>(items[0]));
        auto* rect = qgraphicsitem_cast<QGraphicsRectItem*>(items[10]);
        QVERIFY(rect && rect->pen().color() == QColor(Qt::red) && rect->pen().width() == 5);
        QCOMPARE(rect->rect(), w.liveRect_);
        auto* crossV = qgraphicsitem_cast<QGraphicsLineItem*>(items[11]);
        QVERIFY(crossV && crossV->line() == QLineF(320, 0, 320, 480));
        auto* timeLabel = qgraphicsitem_cast<QGraphicsTextItem*>(items[13]);
        QVERIFY(timeLabel && timeLabel->toPlainText().endsWith("[s]"));
        QCOMPARE(timeLabel->defaultTextColor(), QColor(Qt::green));

        // "Analysis" stops the trace at once; the box keeps the last values.
        QTest::mouseClick(button(w, "Analysis"), Qt::LeftButton);
        rig.stage->at = {320, 150};
        tick(w, rig, 84);
        QCOMPARE(w.barX_.size(), size_t(10));
        QCOMPARE(w.height_, 73.0f);
    }

    void pacingFollowsTheTimeGrid()
    {
        Rig rig;
        MainWindow w;
        QMetaObject::invokeMethod(&w, "updateCamera"); // origin
        const int readsAtOrigin = rig.reads();
        tick(w, rig, 80);
        QCOMPARE(rig.reads(), readsAtOrigin); // 83.3 ms not reached
        QCOMPARE(w.frameCount_, 1);
        tick(w, rig, 4);
        QCOMPARE(rig.reads(), readsAtOrigin + 1);
        QVERIFY(texts(w.liveScene_).contains("0.08[s]"));

        // A second late: one frame per tick until the grid is reached again.
        rig.fake.clock->now += 1000;
        int processed = 0;
        while (true) {
            const int before = rig.reads();
            QMetaObject::invokeMethod(&w, "updateCamera");
            if (rig.reads() == before)
                break;
            ++processed;
            const QString label = itemsOf<QGraphicsTextItem>(w.liveScene_).first()->toPlainText();
            const bool late = w.frameCount_ - 1 <= 12; // frame k is late by 1084 - 83.3 k
            QCOMPARE(label.contains(" delay:"), late);
            if (processed == 1)
                QCOMPARE(label, QString("1.08[s] delay:917[ms]"));
        }
        QCOMPARE(processed, 12); // frames 2 to 13 were due by 1084 ms
        QCOMPARE(w.frameCount_, 14);
    }

    void flipMirrorsBeforeEverything()
    {
        Rig rig;
        rig.stage->at = {0, 200};
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QMetaObject::invokeMethod(&w, "updateCamera");
        w.flipAction_->trigger();
        QCOMPARE(w.viewFlip_, 1);
        tick(w, rig, 84);
        cv::Mat mirrored;
        cv::flip(rig.stage->frame(), mirrored, 1);
        QVERIFY(cv::norm(w.currentFrameMat, mirrored, cv::NORM_INF) == 0);
        const QImage shown = itemsOf<QGraphicsPixmapItem>(w.liveScene_).first()->pixmap().toImage();
        // The target's yellow corner, seen on the right edge.
        QCOMPARE(QColor(shown.pixel(636, 220)), QColor(255, 255, 0));

        rig.stage->at = {0, 200};
        w.step_ = 1;
        drag(w, {610, 200}, {640, 230});
        QVERIFY(cv::norm(w.templateMat, mirrored(cv::Rect(610, 200, 30, 30)), cv::NORM_INF) == 0);
        rig.stage->at = {0, 180};
        tick(w, rig, 84);
        QCOMPARE(w.barX_.back(), 625.0f);
        QCOMPARE(w.barY_.back(), 195.0f);
    }

    void trailCapAndOversizedTemplate()
    {
        Rig rig;
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        selectTarget(w, rig, 90.0f);
        // A full path of 50 centres: the next one drops the first.
        for (int i = 0; i < 50; ++i) {
            w.barX_.push_back(315.0f);
            w.barY_.push_back(315.0f + i * 0.01f);
        }
        tick(w, rig, 84);
        QCOMPARE(w.barX_.size(), size_t(50));
        QCOMPARE(w.barY_.front(), 315.01f);
        // The window origin 270.49 is added back untruncated.
        QCOMPARE(w.barY_.back(), 315.49f);
        QCOMPARE(magentaLines(w.liveScene_), 49);

        // A template wider than a third of the frame is not searched for
        // around the last centre: rectangle and path stay where they were.
        w.templateMat = rig.stage->frame()(cv::Rect(100, 100, 300, 40)).clone();
        const QRectF before = w.liveRect_;
        rig.stage->at = {320, 290};
        tick(w, rig, 84);
        QCOMPARE(w.liveRect_, before);
        QCOMPARE(w.barX_.size(), size_t(50));
        QCOMPARE(w.barY_.back(), 315.49f);
        QCOMPARE(magentaLines(w.liveScene_), 49); // still drawn
    }

    void noMatchingWhileADragIsInProgress()
    {
        Rig rig;
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        selectTarget(w, rig, 90.0f);
        w.step_ = 2;
        rig.stage->at = {300, 280};
        tick(w, rig, 84);
        QCOMPARE(w.barX_.size(), size_t(1));

        QTest::mousePress(w.liveView_->viewport(), Qt::LeftButton, Qt::NoModifier,
                          viewPoint(w, 50, 50));
        QCOMPARE(selectionState().dragging_, 1);
        rig.stage->at = {300, 250};
        w.barCenterInitPos_ = 40.0f;
        tick(w, rig, 84);
        QCOMPARE(w.barX_.size(), size_t(1));
        QCOMPARE(w.barY_.back(), 295.0f);
        QCOMPARE(w.height_, 40.0f + 20.0f / 90.0f * 45.0f); // measured on the stored path
        QTest::mouseRelease(w.liveView_->viewport(), Qt::LeftButton, Qt::NoModifier,
                            viewPoint(w, 50, 50));
        tick(w, rig, 84);
        QCOMPARE(w.barY_.back(), 265.0f);
    }

    void unpluggedCameraAndMissingPlate()
    {
        Rig rig;
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // A target without a plate: the box must read numbers, not inf or nan.
        selectTarget(w, rig, 0.0f);
        rig.stage->at = {300, 250};
        tick(w, rig, 84);
        tick(w, rig, 84);
        for (const QString& t : texts(w.liveScene_))
            QVERIFY2(!t.contains("inf") && !t.contains("nan"), qPrintable(t));
        for (float v : {w.height_, w.maxHeight_, w.vy_, w.maxVy_})
            QVERIFY(std::isfinite(v));

        // The camera gives nothing for a while: the loop keeps its pace, the
        // scene does not pile up and the last picture stays for selections.
        const cv::Mat lastPicture = w.currentFrameMat.clone();
        rig.stage->blank = true;
        tick(w, rig, 84);
        const int items = w.liveScene_.items().size();
        for (int i = 0; i < 5; ++i)
            tick(w, rig, 84);
        QCOMPARE(w.frameCount_, 9);
        QCOMPARE(w.liveScene_.items().size(), items);
        QVERIFY(itemsOf<QGraphicsPixmapItem>(w.liveScene_).isEmpty());
        QVERIFY(cv::norm(w.currentFrameMat, lastPicture, cv::NORM_INF) == 0);
        QCOMPARE(w.barX_.size(), size_t(2));

        rig.stage->blank = false;
        rig.stage->at = {300, 240};
        tick(w, rig, 84);
        QCOMPARE(w.barY_.back(), 255.0f);
        QCOMPARE(itemsOf<QGraphicsPixmapItem>(w.liveScene_).size(), 1);
    }

    void liveCopyLeavesAMoviePictureAlone()
    {
        Rig rig;
        MainWindow w;
        QMetaObject::invokeMethod(&w, "updateCamera");
        // A movie opened meanwhile left currentFrameMat as a header over its frame.
        w.movieFrame_ = solidFrame(640, 480, cv::Scalar(1, 2, 3));
        w.currentFrameMat = w.movieFrame_;
        tick(w, rig, 84);
        QVERIFY(cv::norm(w.movieFrame_, solidFrame(640, 480, cv::Scalar(1, 2, 3)), cv::NORM_INF) ==
                0);
        QVERIFY(cv::norm(w.currentFrameMat, rig.stage->frame(), cv::NORM_INF) == 0);
    }

    void recordingLabelOnTop()
    {
        Rig rig;
        MainWindow w;
        QMetaObject::invokeMethod(&w, "updateCamera");
        QVERIFY(!texts(w.liveScene_).contains("Rec"));
        w.recState_ = 1;
        tick(w, rig, 84);
        auto* top =
            qgraphicsitem_cast<QGraphicsTextItem*>(w.liveScene_.items(Qt::AscendingOrder).last());
        QVERIFY(top && top->toPlainText() == "Rec");
        QCOMPARE(top->pos(), QPointF(500, 5));
        QCOMPARE(top->defaultTextColor(), QColor(Qt::red));
    }

    void missingCameraClosesTheWindow()
    {
        installFakeRig([](int) { return cv::Mat(); }, false);
        closeNextModalBox();
        MainWindow w;
        QCOMPARE(w.noCamera_, 1);
        w.show();
        QVERIFY(w.isVisible());
        QMetaObject::invokeMethod(&w, "updateCamera");
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TestLiveCamera)
#include "tst_live_camera.moc"
