#pragma once

#include <deque>

// The arithmetic of the manual bar path analysis: the clicked rows of the
// bar, in frame pixels with y downwards, turned into heights in cm and
// velocities in cm/s with upward positive.

// A sampling area 1 pixel high or less cannot be dragged on purpose; 0 (a
// template without a calibration) or anything not finite would turn every
// height and velocity into inf or nan, so such a value measures nothing.
bool plateCalibrated(float platePixel);

// The largest rise above `baseY` over all rows, never below 0.
float maxRisePixels(const std::deque<float>& barY, int baseY);

// initHeight - (yLast - baseY) / platePixel * 45, in double precision.
float currentHeightCm(float initHeight, float yLast, int baseY, float platePixel);

// initHeight + maxRise / platePixel * 45, in double precision.
float maxHeightCm(float initHeight, float maxRise, float platePixel);

// The largest upward velocity (the most negative entry, negated), never below 0.
float maxUpwardVelocityPixels(const std::deque<float>& barVy);

// A velocity in pixels per second with y downwards as cm/s with upward positive.
float upwardVelocityCm(float vyPixels, float platePixel);

// Vertical velocity in pixels per second between two clicks recorded on
// frames `frame0` and `frame1` of a movie of `fps` frames per second. Two
// clicks on the same frame (or a movie without a frame rate) have no time
// between them: the function then returns false and leaves `vy` alone.
bool clickVelocity(int frame0, float y0, int frame1, float y1, float fps, float& vy);

// The exclusive end of the frames a manual analysis can show: the chosen end
// frame, but never past the last frame of the movie.
int manualRangeEnd(int endFrame, int frameCount);

// Whether the frame-by-frame phase is over once the next frame to show is
// `nextFrame`. A range that ends at or before its start is over at once, so
// the steps never ask for frames the movie does not have.
bool manualPhaseOver(int nextFrame, int endFrame, int frameCount);
