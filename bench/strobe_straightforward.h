#pragma once

#include "strobe/strobe_compose.h"

// The strobe composition done the plain way: one frame read per use and the
// strobe images read back from their PNG files. It is slow (minutes for a long
// 1080p movie) but needs no more memory than a few frames, and the benchmarks
// measure the fast composition against it.

int composeStrobeTypeAStraightforward(const StrobePlan& plan, const StrobeFrameSource& source,
                                      const StrobeFrameSink& sink);

int composeStrobeTypeBStraightforward(const StrobePlan& plan, const StrobeFrameSource& source,
                                      const StrobeFrameSink& sink);
