#pragma once

#include <array>
#include <string>

// The velocity limits of the measurement box, applied to the stored values:
// a maximum above 1000 cm/s reads 999, a current value beyond +-1000 reads 0.
// A value that is not a number at all (no calibration yet) reads 0 as well.
void limitOverlayValues(float& maxHeight, float& height, float& maxVy, float& vy);

struct Measurement;

// The measurement as the box shows it: the limits above applied to its four
// values, the calibration left as it is. The live trace and the manual steps
// keep what they measured this way, so that the rows they give and the box
// agree.
Measurement shownMeasurement(Measurement m);

// The five lines of the box, top to bottom.
std::array<std::string, 5> overlayLines(int weight, float maxHeight, float height, float maxVy,
                                        float vy);
