#include "video/time_grid.h"

#include <cstdio>

namespace
{

double framePeriodMs(float fps)
{
    return (1.0 / fps) * 1000.0;
}

} // namespace

bool frameDue(double nowMs, float startTimeMs, int frameCount, float fps)
{
    return !(nowMs - startTimeMs < frameCount * framePeriodMs(fps));
}

float frameDelayMs(double nowMs, float startTimeMs, int frameCount, float fps)
{
    return static_cast<float>((nowMs - startTimeMs) - framePeriodMs(fps) * frameCount);
}

std::string timeLabelText(double nowMs, float startTimeMs, float delayMs, float fps)
{
    const double elapsed = (nowMs - startTimeMs) * 0.001;
    char text[64];
    if (delayMs > 1000.0f / fps)
        std::snprintf(text, sizeof text, "%.2f[s] delay:%.0f[ms]", elapsed,
                      static_cast<double>(delayMs));
    else
        std::snprintf(text, sizeof text, "%.2f[s]", elapsed);
    return text;
}
