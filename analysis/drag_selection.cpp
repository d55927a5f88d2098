#include "analysis/drag_selection.h"

#include <cmath>

#include <QGraphicsRectItem>
#include <QPen>

#include <opencv2/core.hpp>

#include "analysis/lift_chart.h"
#include "app/diagnostics.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "app/selection_state.h"

QPen selectionPen()
{
    QPen pen(Qt::red, 0);
    pen.setCosmetic(true);
    return pen;
}

SelectionOffset selectionOffset(int viewWidth, int viewHeight, int frameWidth, int frameHeight)
{
    return {static_cast<float>((viewWidth - frameWidth) * 0.5),
            static_cast<float>((viewHeight - frameHeight) * 0.5)};
}

DraggedRect draggedRect(double pressX, double pressY, double dragX, double dragY)
{
    DraggedRect r;
    r.sx = static_cast<float>(pressX);
    r.sy = static_cast<float>(pressY);
    r.w = static_cast<float>(static_cast<float>(dragX) - r.sx);
    r.h = static_cast<float>(static_cast<float>(dragY) - r.sy);
    return r;
}

FrameRectF displayRect(const DraggedRect& drag, const SelectionOffset& offset)
{
    return {static_cast<double>(drag.sx) - offset.x, static_cast<double>(drag.sy) - offset.y,
            static_cast<double>(drag.w), static_cast<double>(drag.h)};
}

bool pressInsideView(const FrameRectF& rect, int viewWidth, int viewHeight)
{
    // Truncated in double, so a point far outside cannot overflow an int and a
    // NaN fails the test.
    const double ix = std::trunc(rect.x);
    const double iy = std::trunc(rect.y);
    return ix >= 0 && ix <= viewWidth && iy >= 0 && iy <= viewHeight;
}

CutRect cutRect(const DraggedRect& drag, const SelectionOffset& offset)
{
    CutRect c;
    c.x = static_cast<int>(drag.sx - offset.x);
    c.y = static_cast<int>(drag.sy - offset.y);
    c.iw = static_cast<int>(drag.w);
    c.ih = static_cast<int>(drag.h);
    c.w = drag.w;
    c.h = drag.h;
    return c;
}

bool acceptCut(const CutRect& cut, int cols, int rows)
{
    // Written so that a NaN extent fails every test.
    return cols > 0 && rows > 0 && cut.x >= 0 && cut.y >= 0 &&
           cut.x + static_cast<double>(cut.w) <= cols &&
           cut.y + static_cast<double>(cut.h) <= rows && cut.w > 1.0f && cut.h > 1.0f;
}

int cutCentreRow(const CutRect& cut)
{
    return cut.y + static_cast<int>(cut.h * 0.5);
}

namespace
{

// 0, 1, 2 for the live, auto and manual views; -1 for any other sender.
int viewIndex(const QObject* sender, const MyGraphicsView* live, const MyGraphicsView* autoView,
              const MyGraphicsView* manual)
{
    const auto* view = qobject_cast<const MyGraphicsView*>(sender);
    if (!view)
        return -1;
    if (view == live)
        return 0;
    if (view == autoView)
        return 1;
    if (view == manual)
        return 2;
    return -1;
}

// offset_ of the picture in the view of scene `sceneId`; a sender that is none
// of the three views has a frame of 0 x 0.
SelectionOffset frameOffsetFor(const MainWindow& w, int sceneId)
{
    int frameWidth = 0;
    int frameHeight = 0;
    if (sceneId == 0) {
        frameWidth = w.cameraWidth_;
        frameHeight = w.cameraHeight_;
    } else if (sceneId == 1 || sceneId == 2) {
        frameWidth = w.movieWidth;
        frameHeight = w.movieHeight;
    }
    return selectionOffset(w.viewWidth_, w.viewHeight_, frameWidth, frameHeight);
}

// Replaces the selection rectangle of a movie scene.
void showMovieSelection(MainWindow& w, QGraphicsScene* scene, const QRectF& rect)
{
    // The last rectangle goes only when it lives in this scene; one left on
    // the other movie scene stays there.
    if (w.movieRectItem_ && w.movieRectItem_->scene() == scene) {
        scene->removeItem(w.movieRectItem_);
        delete w.movieRectItem_;
    }
    w.movieRectItem_ = scene->addRect(rect, selectionPen(), Qt::NoBrush);
}

} // namespace

void MainWindow::drawSelectedRange()
{
    const int scene_id_ = viewIndex(sender(), liveView_, autoView_, manualView_);
    diag("MainWindow::drawSelectedRange[%d]\n", scene_id_);

    const SelectionState& s = selectionState();
    const DraggedRect drag = draggedRect(s.pressPos_.x, s.pressPos_.y, s.dragPos_.x, s.dragPos_.y);
    const SelectionOffset offset_ = frameOffsetFor(*this, scene_id_);
    diag("  x:%.0f, y:%.0f, w:%.0f, h:%.0f\n", drag.sx, drag.sy, drag.w, drag.h);
    diag("  offset_: %.0f, %.0f\n", offset_.x, offset_.y);

    const FrameRectF r = displayRect(drag, offset_);
    if (!pressInsideView(r, viewWidth_, viewHeight_))
        return;

    const QRectF rect(r.x, r.y, r.w, r.h);
    switch (scene_id_) {
    case 0:
        liveRect_ = rect;
        diag("  scene_id_:%d\n", scene_id_);
        // A new selection starts the live trace again.
        barX_.clear();
        barY_.clear();
        break;
    case 1:
        showMovieSelection(*this, &autoScene_, rect);
        diag("  scene_id_:%d\n", scene_id_);
        break;
    case 2:
        // Only the sampling-area step draws on the manual view.
        if (step_ == 2) {
            showMovieSelection(*this, &manualScene_, rect);
            diag("  scene_id_:%d\n", scene_id_);
        }
        break;
    default:
        break;
    }
}

void MainWindow::saveSelectedRange()
{
    const int scene_id_ = viewIndex(sender(), liveView_, autoView_, manualView_);
    diag("MainWindow::saveSelectedRange\n");

    const SelectionState& s = selectionState();
    const DraggedRect drag = draggedRect(s.pressPos_.x, s.pressPos_.y, s.dragPos_.x, s.dragPos_.y);
    const CutRect cut = cutRect(drag, frameOffsetFor(*this, scene_id_));
    diag("  offset_: %d, %d, %d, %d\n", cut.x, cut.y, cut.iw, cut.ih);
    diag("  currentFrameMat: %d, %d\n", currentFrameMat.cols, currentFrameMat.rows);

    if (!acceptCut(cut, currentFrameMat.cols, currentFrameMat.rows))
        return;
    const cv::Mat area = currentFrameMat(cv::Rect(cut.x, cut.y, cut.iw, cut.ih));

    switch (scene_id_) {
    case 0:
        if (step_ == 0) {
            platePixel_ = static_cast<float>(cut.ih);
        } else if (step_ == 1) {
            templateMat = area.clone();
            baseY_ = cutCentreRow(cut);
            if (chartWindow_)
                chartWindow_->clearLive();
        }
        break;
    case 1:
        templateMat = area.clone();
        baseY_ = cutCentreRow(cut);
        // The bar's end sits at the plate's centre: the plate gives the scale.
        findAutoPlate(cv::Rect(cut.x, cut.y, cut.iw, cut.ih));
        break;
    case 2:
        templateMat = area.clone();
        if (step_ == 2) {
            baseY_ = cutCentreRow(cut);
            platePixel_ = static_cast<float>(cut.ih);
        }
        break;
    default:
        break;
    }
}
