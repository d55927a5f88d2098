#pragma once

#include <deque>

// The arithmetic of the manual bar path analysis: the time between clicks and
// the frames it may show. Heights and velocities in cm are the measurement
// module's.

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
