#pragma once

#include <deque>

// Heights in cm and velocities in cm/s from the bar's rows in frame pixels
// (y downwards), calibrated on a plate of known diameter. Upward motion gives
// positive heights and velocities.
//
// Two precisions are in use: the live box works in single precision, the
// manual analysis in double. Their results differ in the last digits, and a
// coach comparing a recording with an earlier one expects the same numbers,
// so each keeps its own.

// The diameter of the calibration plate.
constexpr float kPlateDiameterCm = 45.0f;

// A plate height of 1 pixel or less cannot be dragged on purpose; 0 (no
// calibration yet) or anything not finite would turn every height and
// velocity into inf or nan, so such a value measures nothing.
bool plateCalibrated(float platePixel);

// The calibration and the values the measurement box shows. The guided
// analysis writes it: the selections calibrate it, the live trace and the
// manual steps measure into it (as the box shows them, limits applied).
struct Measurement {
    // Height in pixels of the dragged plate (live) or sampling area (manual).
    float platePixel_ = 0.0f;
    // The height in pixels of the plate found around the Movie Auto target; 0
    // when none was.
    float autoPlatePixel_ = 0.0f;
    // The bar centre's row at its start position: the rise is measured from it.
    int baseY_ = 0;

    // Whether the live or manual plate gives a scale.
    bool calibrated() const { return plateCalibrated(platePixel_); }

    float maxHeight_ = 0.0f;
    float height_ = 0.0f;
    float maxVy_ = 0.0f;
    float vy_ = 0.0f;
};

// Centimetres per pixel; 0 while the plate height is not usable.
float cmPerPixel(float platePixel);

// The largest rise above `baseY` over all rows, never below 0.
float maxRisePixels(const std::deque<float>& barY, int baseY);

// The largest upward velocity (the most negative entry, negated), never below 0.
float maxUpwardVelocityPixels(const std::deque<float>& barVy);

/* ---- Single precision: the live trace ---- */

// Current and highest bar height in cm from the path rows, measured up from
// `baseY` and added to `barCenterInit`. Leaves the values alone and returns
// false for an empty path; gives 0 for both while there is no calibration.
bool measureHeight(const std::deque<float>& barY, int baseY, float platePixel, float barCenterInit,
                   float& height, float& maxHeight);

// Current and highest upward velocity in cm/s from the velocities in pixels
// per second (y downwards). Same rules as measureHeight.
bool measureVelocity(const std::deque<float>& barVy, float platePixel, float& vy, float& maxVy);

/* ---- Double precision: the manual analysis ---- */

// initHeight - (yLast - baseY) / platePixel * 45.
float currentHeightCm(float initHeight, float yLast, int baseY, float platePixel);

// initHeight + maxRise / platePixel * 45.
float maxHeightCm(float initHeight, float maxRise, float platePixel);

// A velocity in pixels per second with y downwards as cm/s with upward positive.
float upwardVelocityCm(float vyPixels, float platePixel);
