#include "analysis/overlay.h"

#include <cmath>
#include <cstdio>

#include "analysis/measurement.h"

void limitOverlayValues(float& maxHeight, float& height, float& maxVy, float& vy)
{
    for (float* v : {&maxHeight, &height, &maxVy, &vy}) {
        if (!std::isfinite(*v))
            *v = 0.0f;
    }
    if (maxVy > 1000.0f)
        maxVy = 999.0f;
    if (std::fabs(vy) > 1000.0f)
        vy = 0.0f;
}

std::array<std::string, 5> overlayLines(int weight, float maxHeight, float height, float maxVy,
                                        float vy)
{
    char buf[5][128];
    std::snprintf(buf[0], sizeof buf[0], "Weight: %d[kg]", weight);
    std::snprintf(buf[1], sizeof buf[1], "Max H: %.0f[cm]", maxHeight);
    std::snprintf(buf[2], sizeof buf[2], "      H: %.0f[cm]", height);
    std::snprintf(buf[3], sizeof buf[3], "Max Vy: %3.0f[cm/s]", maxVy);
    std::snprintf(buf[4], sizeof buf[4], "      Vy: %3.0f[cm/s]", vy);
    return {buf[0], buf[1], buf[2], buf[3], buf[4]};
}

Measurement shownMeasurement(Measurement m)
{
    limitOverlayValues(m.maxHeight_, m.height_, m.maxVy_, m.vy_);
    return m;
}
