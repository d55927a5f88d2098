#pragma once

#include <limits>

// One row of a trace: a recorded tick, an analysed frame or a click.
struct TraceRow {
    // The movie's frame index, or the tick number of a recording.
    int frame = 0;
    // Seconds on the source's own clock: the frame's timestamp in the file,
    // or the live loop's clock. The files count from the first row.
    double timeS = 0.0;
    // False when the tick or frame measured nothing: its row has empty fields.
    bool measured = false;
    // The bar's centre in frame pixels, y downwards.
    double x = 0.0;
    double y = 0.0;
    // Height in cm and velocity in cm/s (upward positive) as the box shows
    // them; not finite when there is no scale.
    double heightCm = std::numeric_limits<double>::quiet_NaN();
    double velocityCmS = std::numeric_limits<double>::quiet_NaN();
};
