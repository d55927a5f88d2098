#include "app/mygraphicsview.h"

#include <QMouseEvent>

#include "app/selection_state.h"
#include "video/diagnostics.h"

SelectionState& selectionState()
{
    static SelectionState state;
    return state;
}

ViewPoint clampDragPoint(ViewPoint p, int limitX, int limitY)
{
    if (p.x < 0)
        p.x = 0;
    if (p.x > limitX)
        p.x = limitX;
    if (p.y < 0)
        p.y = 0;
    if (p.y > limitY)
        p.y = limitY;
    return p;
}

MyGraphicsView::MyGraphicsView(QWidget* parent) : QGraphicsView(parent) {}

static ViewPoint eventPoint(const QMouseEvent* event)
{
    // Whole viewport pixels, as the selection arithmetic expects.
    const QPoint p = event->position().toPoint();
    return {static_cast<double>(p.x()), static_cast<double>(p.y())};
}

void MyGraphicsView::mousePressEvent(QMouseEvent* event)
{
    SelectionState& s = selectionState();
    diag("MyGraphicsView::mousePressEvent\n");
    s.dragging_ = 1;
    const ViewPoint p = eventPoint(event);
    diag("  {%.3f, %.3f,}\n", p.x, p.y);
    s.pressPos_ = p;
    emit dragStarted();
    emit mousePressed();
}

void MyGraphicsView::mouseMoveEvent(QMouseEvent* event)
{
    SelectionState& s = selectionState();
    if (s.dragging_ != 1)
        return;
    diag("MyGraphicsView::mouseMoveEvent\n");
    const ViewPoint p = eventPoint(event);
    diag("  {%.3f, %.3f,}\n", p.x, p.y);
    const ViewPoint c = clampDragPoint(p, s.dragLimitX_, s.dragLimitY_);
    diag("  {%.3f, %.3f,}\n", c.x, c.y);
    s.dragPos_ = c;
    emit dragMoved();
}

void MyGraphicsView::mouseReleaseEvent(QMouseEvent* event)
{
    diag("MyGraphicsView::mouseReleaseEvent\n");
    const ViewPoint p = eventPoint(event);
    diag("  {%.3f, %.3f,}\n", p.x, p.y);
    emit dragEnded();
    selectionState().dragging_ = 0;
}
