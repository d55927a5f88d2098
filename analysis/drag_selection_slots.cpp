#include <optional>

#include <opencv2/core.hpp>

#include "analysis/drag_selection.h"
#include "analysis/lift_chart.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "app/selection_state.h"
#include "video/diagnostics.h"

namespace
{

// The tab whose view sent a selection signal; none for any other sender.
std::optional<Tab> viewTab(const QObject* sender, const MyGraphicsView* live,
                           const MyGraphicsView* autoView, const MyGraphicsView* manual)
{
    const auto* view = qobject_cast<const MyGraphicsView*>(sender);
    if (!view)
        return std::nullopt;
    if (view == live)
        return Tab::Live;
    if (view == autoView)
        return Tab::MovieAuto;
    if (view == manual)
        return Tab::MovieManual;
    return std::nullopt;
}

// The number the diagnostics give the view: its tab's, or -1.
int sceneId(std::optional<Tab> tab)
{
    return tab ? static_cast<int>(*tab) : -1;
}

// offset_ of the picture in the view of `tab`; a sender that is none of the
// three views has a frame of 0 x 0.
SelectionOffset frameOffsetFor(const MainWindow& w, std::optional<Tab> tab)
{
    int frameWidth = 0;
    int frameHeight = 0;
    if (tab == Tab::Live) {
        frameWidth = w.camera_.cameraWidth_;
        frameHeight = w.camera_.cameraHeight_;
    } else if (tab == Tab::MovieAuto || tab == Tab::MovieManual) {
        frameWidth = w.movie_.movieWidth;
        frameHeight = w.movie_.movieHeight;
    }
    return selectionOffset(w.shell_.viewWidth_, w.shell_.viewHeight_, frameWidth, frameHeight);
}

} // namespace

void MainWindow::drawSelectedRange()
{
    const std::optional<Tab> tab = viewTab(sender(), liveView_, autoView_, manualView_);
    const int scene_id_ = sceneId(tab);
    diag("MainWindow::drawSelectedRange[%d]\n", scene_id_);

    const SelectionState& s = selectionState();
    const DraggedRect drag = draggedRect(s.pressPos_.x, s.pressPos_.y, s.dragPos_.x, s.dragPos_.y);
    const SelectionOffset offset_ = frameOffsetFor(*this, tab);
    diag("  x:%.0f, y:%.0f, w:%.0f, h:%.0f\n", drag.sx, drag.sy, drag.w, drag.h);
    diag("  offset_: %.0f, %.0f\n", offset_.x, offset_.y);

    const FrameRectF r = displayRect(drag, offset_);
    if (!tab || !pressInsideView(r, shell_.viewWidth_, shell_.viewHeight_))
        return;

    const QRectF rect(r.x, r.y, r.w, r.h);
    switch (*tab) {
    case Tab::Live:
        live_.liveRect_ = rect;
        diag("  scene_id_:%d\n", scene_id_);
        // A new selection starts the live trace again.
        live_.restartPath();
        break;
    case Tab::MovieAuto:
        movie_.replaceSelection(&autoScene_, rect);
        diag("  scene_id_:%d\n", scene_id_);
        break;
    case Tab::MovieManual:
        // Only the sampling-area step draws on the manual view.
        if (flow_.stepAs<ManualStep>() == ManualStep::DragSamplingArea) {
            movie_.replaceSelection(&manualScene_, rect);
            diag("  scene_id_:%d\n", scene_id_);
        }
        break;
    case Tab::Strobe:
        break;
    }
}

void MainWindow::saveSelectedRange()
{
    const std::optional<Tab> tab = viewTab(sender(), liveView_, autoView_, manualView_);
    diag("MainWindow::saveSelectedRange\n");

    const SelectionState& s = selectionState();
    const DraggedRect drag = draggedRect(s.pressPos_.x, s.pressPos_.y, s.dragPos_.x, s.dragPos_.y);
    const CutRect cut = cutRect(drag, frameOffsetFor(*this, tab));
    const cv::Mat& frame = movie_.currentFrameMat;
    diag("  offset_: %d, %d, %d, %d\n", cut.x, cut.y, cut.iw, cut.ih);
    diag("  currentFrameMat: %d, %d\n", frame.cols, frame.rows);

    if (!tab || !acceptCut(cut, frame.cols, frame.rows))
        return;
    const cv::Mat area = frame(cv::Rect(cut.x, cut.y, cut.iw, cut.ih));

    switch (*tab) {
    case Tab::Live:
        if (flow_.stepAs<LiveStep>() == LiveStep::DragPlate) {
            measure_.platePixel_ = static_cast<float>(cut.ih);
        } else if (flow_.stepAs<LiveStep>() == LiveStep::DragTarget) {
            live_.templateMat = area.clone();
            measure_.baseY_ = cutCentreRow(cut);
            chartWindow_->clearLive();
        }
        break;
    case Tab::MovieAuto:
        live_.templateMat = area.clone();
        measure_.baseY_ = cutCentreRow(cut);
        // The bar's end sits at the plate's centre: the plate gives the scale.
        findAutoPlate(cv::Rect(cut.x, cut.y, cut.iw, cut.ih));
        break;
    case Tab::MovieManual:
        live_.templateMat = area.clone();
        if (flow_.stepAs<ManualStep>() == ManualStep::DragSamplingArea) {
            measure_.baseY_ = cutCentreRow(cut);
            measure_.platePixel_ = static_cast<float>(cut.ih);
        }
        break;
    case Tab::Strobe:
        break;
    }
}
