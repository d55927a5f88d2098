#include "app/environment.h"

#include <chrono>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace
{

Environment makeDefaultEnvironment()
{
    Environment env;
    env.makeCamera = makeOpenCvCamera;
    env.nowMs = monotonicNowMs;
    env.cameraWarmUpMs = 3000;
    return env;
}

} // namespace

double monotonicNowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void keepFrameBuffersInHeap()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
}

Environment& environment()
{
    static Environment env = makeDefaultEnvironment();
    return env;
}

void resetEnvironment()
{
    environment() = makeDefaultEnvironment();
}
