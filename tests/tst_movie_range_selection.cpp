#include <QGraphicsRectItem>
#include <QGraphicsView>
#include <QPen>
#include <QTabWidget>
#include <QtTest>

#include <opencv2/core.hpp>

#include "analysis/range_selection.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "test_support.h"

namespace {

QList<QGraphicsRectItem*> rectItems(QGraphicsScene& scene)
{
    QList<QGraphicsRectItem*> rects;
    for (QGraphicsItem* item : scene.items())
        if (auto* r = qgraphicsitem_cast<QGraphicsRectItem*>(item))
            rects.append(r);
    return rects;
}

bool sameBytes(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

} // namespace

// The movie views take the movie's size for the margin; a movie is "open" here
// by setting the size and the current frame as opening one would.
class TestMovieRangeSelection : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    void movieViewsDrawAndSaveByStep()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const cv::Mat frame = noiseFrame(320, 240, 3);
        w.movieWidth = 320;
        w.movieHeight = 240;
        w.currentFrameMat = frame;
        const SelectionOffset off = selectionOffset(w.viewWidth_, w.viewHeight_, 320, 240);
        QVERIFY(off.x > 0 && off.y > 0);
        auto viewPoint = [&](int fx, int fy) {
            return QPoint(static_cast<int>(std::ceil(fx + off.x)),
                          static_cast<int>(std::ceil(fy + off.y)));
        };
        const double dx = viewPoint(0, 0).x() - off.x;
        const double dy = viewPoint(0, 0).y() - off.y;

        // Auto view: the red rectangle follows the drag, the cut is the target.
        w.tabWidget_->setCurrentIndex(1);
        w.step_ = 2;
        dragOnView(w.autoView_, viewPoint(10, 20), viewPoint(60, 50));
        dragOnView(w.autoView_, viewPoint(100, 40), viewPoint(150, 100));
        QCOMPARE(rectItems(w.autoScene_).size(), 1);
        QVERIFY(w.movieRectItem_ && w.movieRectItem_->scene() == &w.autoScene_);
        QCOMPARE(w.movieRectItem_->rect(), QRectF(100 + dx, 40 + dy, 50, 60));
        QCOMPARE(w.movieRectItem_->pen().color(), QColor(Qt::red));
        QCOMPARE(w.movieRectItem_->brush().style(), Qt::NoBrush);
        QVERIFY(sameBytes(w.templateMat, frame(cv::Rect(100, 40, 50, 60))));
        QCOMPARE(w.baseY_, 70);
        QCOMPARE(w.platePixel_, 0.0f);

        // Dragged up and left: the rectangle shows the negative size, nothing is saved.
        dragOnView(w.autoView_, viewPoint(200, 200), viewPoint(180, 150));
        QCOMPARE(w.movieRectItem_->rect().width(), -20.0);
        QCOMPARE(w.movieRectItem_->rect().height(), -50.0);
        QCOMPARE(w.baseY_, 70);

        // Manual view outside the sampling step: no rectangle, only the template.
        w.tabWidget_->setCurrentIndex(2);
        w.step_ = 3;
        dragOnView(w.manualView_, viewPoint(5, 5), viewPoint(25, 45));
        QCOMPARE(rectItems(w.manualScene_).size(), 0);
        QVERIFY(sameBytes(w.templateMat, frame(cv::Rect(5, 5, 20, 40))));
        QCOMPARE(w.baseY_, 70);
        QCOMPARE(w.platePixel_, 0.0f);

        // Sampling step: rectangle, template, height reference and calibration.
        w.step_ = 2;
        dragOnView(w.manualView_, viewPoint(30, 60), viewPoint(120, 150));
        QCOMPARE(rectItems(w.manualScene_).size(), 1);
        QVERIFY(w.movieRectItem_->scene() == &w.manualScene_);
        QVERIFY(sameBytes(w.templateMat, frame(cv::Rect(30, 60, 90, 90))));
        QCOMPARE(w.baseY_, 105);
        QCOMPARE(w.platePixel_, 90.0f);

        // The rectangle now lives on the manual scene, so a drag on the auto
        // view leaves the auto scene's earlier one in place.
        w.tabWidget_->setCurrentIndex(1);
        dragOnView(w.autoView_, viewPoint(0, 0), viewPoint(40, 40));
        QCOMPARE(rectItems(w.autoScene_).size(), 2);
        QCOMPARE(rectItems(w.manualScene_).size(), 1);
    }
};

QTEST_MAIN(TestMovieRangeSelection)
#include "tst_movie_range_selection.moc"
