#include "video/live_camera.h"

double LiveCamera::clockMs(double nowMs)
{
    // The grid origin is kept in single precision. Counted from the first
    // reading of this window rather than from the machine's boot, the clock
    // stays small enough for that to hold it to well under a millisecond.
    if (!clockStarted_) {
        clockOriginMs_ = nowMs;
        clockStarted_ = true;
    }
    return nowMs - clockOriginMs_;
}
