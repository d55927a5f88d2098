#pragma once

// The frame a slider value stands for: value * frameCount / maximum, product
// first, truncated. The slider's maximum gives frameCount, one past the last
// frame: as an end frame that is the exclusive end of the range.
inline int frameFromSlider(int value, int frameCount, int maximum)
{
    if (maximum <= 0)
        return 0;
    return static_cast<int>(static_cast<long long>(value) * frameCount / maximum);
}

// The slider value that the return to the start frame moves to:
// maximum * (startFrame / frameCount), truncated.
inline int sliderForStartFrame(int startFrame, int frameCount, int maximum)
{
    if (frameCount <= 0)
        return 0;
    return static_cast<int>(maximum * (static_cast<double>(startFrame) / frameCount));
}
