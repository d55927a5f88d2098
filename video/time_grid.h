#pragma once

#include <string>

// The time grid the live loop paces itself on: frame n is due n frame
// periods after the grid's origin.

// Frame `frameCount` is due `frameCount` frame periods after `startTimeMs`.
bool frameDue(double nowMs, float startTimeMs, int frameCount, float fps);

// How late the frame `frameCount` is processed at `nowMs`, in ms.
float frameDelayMs(double nowMs, float startTimeMs, int frameCount, float fps);

// "%.2f[s]" of the seconds since the grid origin; once the loop is more than
// a frame period behind, the delay in ms follows.
std::string timeLabelText(double nowMs, float startTimeMs, float delayMs, float fps);
