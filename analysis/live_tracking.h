#pragma once

#include <deque>

#include <opencv2/core.hpp>

#include "analysis/template_search.h"

// The arithmetic of the live trace: where it looks for the target, how a
// match becomes a point of the path and how the path gives velocities.
// Heights and velocities in cm are the measurement module's.

// The whole frame while the path is empty; otherwise three template sizes
// around the last centre, pushed inside the frame where it can be.
SearchWindow searchWindow(const std::deque<float>& barX, const std::deque<float>& barY,
                          int templCols, int templRows, int frameWidth, int frameHeight);

// The whole step: window, match and the centre of the dragged rectangle
// (rectW x rectH) placed there. False when the window does not fit or the
// frame and template cannot be matched (different pixel types).
bool trackTarget(const cv::Mat& frame, const cv::Mat& templ, const std::deque<float>& barX,
                 const std::deque<float>& barY, float rectW, float rectH, cv::Point2f& centre);

// Appends a centre, keeping at most `cap` entries: when both lists are full
// the oldest entry of each goes first. The two lists stay equally long.
void appendCentre(std::deque<float>& barX, std::deque<float>& barY, float cx, float cy, int cap);

// Pixels per second between two rows one frame period apart (y downwards).
float verticalVelocity(float previousY, float y, float fps);

// Appends a velocity, dropping the oldest entry when `cap` are held.
void appendVelocity(std::deque<float>& barVy, float v, int cap);
