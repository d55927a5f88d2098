#pragma once

// Mouse state shared by every selection view: a drag on any view counts, and
// the live loop pauses its tracking while one is in progress.
struct ViewPoint {
    double x = 0.0;
    double y = 0.0;
};

struct SelectionState {
    int dragging_ = 0;
    ViewPoint pressPos_;
    ViewPoint dragPos_;
    int dragLimitX_ = 640;
    int dragLimitY_ = 480;
};

SelectionState& selectionState();

// Clamps a move point into 0..limitX by 0..limitY.
ViewPoint clampDragPoint(ViewPoint p, int limitX, int limitY);
