#pragma once

// What the user sets in the top bar, the View menu and the FPS menu. Only
// their slots write it; construction sets the start values with the boxes.
struct Settings {
    int weight_ = 0;
    float barCenterInitPos_ = 23.0f;
    // The measurement box, in picture pixels; its size never changes. It
    // starts in the top right corner of a 640 pixel wide picture.
    const int textBoxWidth_ = 220;
    const int textBoxHeight_ = 140;
    int textBoxY_ = 3;
    int textBoxX_ = 635 - textBoxWidth_;
    int strobeFrameStep_ = 1;
    int strobeFrameNumber_ = 25;
    int strobeError_ = 20;
    int viewFlip_ = 0;
    // 10 until construction sets the first rate of the FPS menu.
    float FPS_ = 10.0f;
};
