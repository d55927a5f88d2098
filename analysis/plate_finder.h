#pragma once

#include <opencv2/core.hpp>

// The automatic movie analysis has no calibration drag: the 45 cm plate is
// found around the target the user set on the bar's end, which sits at the
// plate's centre. A plate turned about the vertical axis looks like an
// ellipse narrower than it is tall, so the plate's height in pixels is its
// vertical extent, as the dragged calibration measures a rectangle's height.

struct PlateFit {
    // The plate's outer rim in frame pixels, as cv::fitEllipse gives it.
    cv::RotatedRect ellipse;
    // The rim's vertical extent in pixels: 45 cm.
    float heightPx = 0;
    // Of the rays from the target that could see the rim (in the frame, past
    // the sleeve), the share finding an edge on it: 0..1.
    float score = 0;
    // Mean colour gradient on the rim over the median gradient around it.
    float contrast = 0;
};

// Looks for the plate's rim around `target` (the centre of the target
// rectangle, frame pixels) in an 8-bit frame of 1, 3 or 4 channels: an
// ellipse centred within 15 % of its radius or half the target's size of the
// target, its radius at most 0.6 of the frame's height, and about half of it
// or more in the frame. `targetSize` is the rectangle's size: edges within
// its half-diagonal belong to the sleeve and are not looked at. Returns
// false, leaving `fit` alone, when no such rim is clearly there, and for an
// empty frame, a target outside it or inputs that are not finite.
bool findPlate(const cv::Mat& frame, cv::Point2f target, cv::Size2f targetSize, PlateFit& fit);
