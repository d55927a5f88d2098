#pragma once

// Geometry of a rectangle dragged on a selection view. The views show their
// frame unscaled and centred, so a view point becomes a frame point by taking
// off the margin around the picture.

// Margin between the view's corner and the picture's corner.
struct SelectionOffset {
    float x = 0.0f;
    float y = 0.0f;
};

SelectionOffset selectionOffset(int viewWidth, int viewHeight, int frameWidth, int frameHeight);

// The drag as the slots see it: press point and extent, in view coordinates
// reduced to single precision. A drag up or to the left has a negative extent.
struct DraggedRect {
    float sx = 0.0f;
    float sy = 0.0f;
    float w = 0.0f;
    float h = 0.0f;
};

DraggedRect draggedRect(double pressX, double pressY, double dragX, double dragY);

// The rectangle being dragged, in frame coordinates, for display.
struct FrameRectF {
    double x = 0.0;
    double y = 0.0;
    double w = 0.0;
    double h = 0.0;
};

FrameRectF displayRect(const DraggedRect& drag, const SelectionOffset& offset);

// Whether the press point of a drag is shown at all: its frame point, truncated
// toward zero, must lie within 0..viewWidth by 0..viewHeight.
bool pressInsideView(const FrameRectF& rect, int viewWidth, int viewHeight);

// The pixels a finished drag cuts from the frame: the truncated frame point of
// the press and the truncated extent. `w` and `h` keep the untruncated extent
// for the acceptance test.
struct CutRect {
    int x = 0;
    int y = 0;
    int iw = 0;
    int ih = 0;
    float w = 0.0f;
    float h = 0.0f;
};

CutRect cutRect(const DraggedRect& drag, const SelectionOffset& offset);

// Whether a finished drag may be cut from a frame of cols x rows: more than one
// pixel wide and high, dragged down and to the right, and lying wholly inside
// the picture. A drag that starts in the margin left of or above the picture
// is refused like one that runs past the right or bottom edge: cutting only
// the part inside would silently change the plate height or move the target
// centre the user chose.
bool acceptCut(const CutRect& cut, int cols, int rows);

// Row of the centre of an accepted cut: the height reference of the trace.
int cutCentreRow(const CutRect& cut);
