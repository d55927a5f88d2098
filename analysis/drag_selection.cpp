#include "analysis/drag_selection.h"

#include <cmath>

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
