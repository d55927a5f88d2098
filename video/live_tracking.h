#pragma once

#include <deque>
#include <string>

#include <opencv2/core.hpp>

#include "analysis/template_search.h"

// The arithmetic of the live trace: the time grid the loop paces itself on,
// where it looks for the target, how a match becomes a point of the path and
// how the path becomes heights and velocities.

/* ---- Time grid ---- */

// Frame `frameCount` is due `frameCount` frame periods after `startTimeMs`.
bool frameDue(double nowMs, float startTimeMs, int frameCount, float fps);

// How late the frame `frameCount` is processed at `nowMs`, in ms.
float frameDelayMs(double nowMs, float startTimeMs, int frameCount, float fps);

// "%.2f[s]" of the seconds since the grid origin; once the loop is more than
// a frame period behind, the delay in ms follows.
std::string timeLabelText(double nowMs, float startTimeMs, float delayMs, float fps);

/* ---- Search window and match ---- */

// The whole frame while the path is empty; otherwise three template sizes
// around the last centre, pushed inside the frame where it can be.
SearchWindow searchWindow(const std::deque<float>& barX, const std::deque<float>& barY,
                          int templCols, int templRows, int frameWidth, int frameHeight);

struct TrackPoint {
    float x = 0.0f;
    float y = 0.0f;
};

// Centre of a rectangle rectW x rectH placed at `match` inside the window
// (whose untruncated origin counts).
TrackPoint centreFromMatch(cv::Point match, float rectW, float rectH, const SearchWindow& window);

// The whole step: window, match and centre. False when the window does not
// fit or the frame and template cannot be matched (different pixel types).
bool trackTarget(const cv::Mat& frame, const cv::Mat& templ, const std::deque<float>& barX,
                 const std::deque<float>& barY, float rectW, float rectH, TrackPoint& centre);

/* ---- Path ---- */

// Appends a centre, keeping at most `cap` entries: when both lists are full
// the oldest entry of each goes first. The two lists stay equally long.
void appendCentre(std::deque<float>& barX, std::deque<float>& barY, float cx, float cy, int cap);

// Pixels per second between two rows one frame period apart (y downwards).
float verticalVelocity(float previousY, float y, float fps);

// Appends a velocity, dropping the oldest entry when `cap` are held.
void appendVelocity(std::deque<float>& barVy, float v, int cap);

/* ---- Measurement ---- */

// Centimetres per pixel of a 45 cm plate `platePixel` pixels high; 0 while
// there is no usable plate height, so that nothing is divided by zero.
float cmPerPixel(float platePixel);

// Current and highest bar height in cm from the path rows, measured up from
// `baseY` and added to `barCenterInit`. Leaves the values alone and returns
// false for an empty path; gives 0 for both while there is no calibration.
bool measureHeight(const std::deque<float>& barY, int baseY, float platePixel, float barCenterInit,
                   float& height, float& maxHeight);

// Current and highest upward velocity in cm/s from the velocities in pixels
// per second (y downwards). Same rules as measureHeight.
bool measureVelocity(const std::deque<float>& barVy, float platePixel, float& vy, float& maxVy);
