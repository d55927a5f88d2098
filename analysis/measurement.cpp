#include "analysis/measurement.h"

#include <algorithm>
#include <cmath>

bool plateCalibrated(float platePixel)
{
    return std::isfinite(platePixel) && platePixel > 0.0f;
}

float cmPerPixel(float platePixel)
{
    return plateCalibrated(platePixel) ? kPlateDiameterCm / platePixel : 0.0f;
}

float maxRisePixels(const std::deque<float>& barY, int baseY)
{
    float maxRise = 0.0f;
    for (float y : barY)
        maxRise = std::max(maxRise, static_cast<float>(baseY) - y);
    return maxRise;
}

float maxUpwardVelocityPixels(const std::deque<float>& barVy)
{
    float maxUp = 0.0f;
    for (float v : barVy)
        maxUp = std::max(maxUp, -v);
    return maxUp;
}

bool measureHeight(const std::deque<float>& barY, int baseY, float platePixel, float barCenterInit,
                   float& height, float& maxHeight)
{
    if (barY.empty())
        return false;
    if (!plateCalibrated(platePixel)) {
        height = 0.0f;
        maxHeight = 0.0f;
        return true;
    }
    const float rise = maxRisePixels(barY, baseY);
    height =
        barCenterInit - (barY.back() - static_cast<float>(baseY)) / platePixel * kPlateDiameterCm;
    maxHeight = barCenterInit + rise / platePixel * kPlateDiameterCm;
    return true;
}

bool measureVelocity(const std::deque<float>& barVy, float platePixel, float& vy, float& maxVy)
{
    if (barVy.empty())
        return false;
    if (!plateCalibrated(platePixel)) {
        vy = 0.0f;
        maxVy = 0.0f;
        return true;
    }
    vy = -barVy.back() / platePixel * kPlateDiameterCm;
    maxVy = maxUpwardVelocityPixels(barVy) / platePixel * kPlateDiameterCm;
    return true;
}

float currentHeightCm(float initHeight, float yLast, int baseY, float platePixel)
{
    return static_cast<float>(initHeight - (static_cast<double>(yLast) - baseY) / platePixel *
                                               static_cast<double>(kPlateDiameterCm));
}

float maxHeightCm(float initHeight, float maxRise, float platePixel)
{
    return static_cast<float>(initHeight + static_cast<double>(maxRise) / platePixel *
                                               static_cast<double>(kPlateDiameterCm));
}

float upwardVelocityCm(float vyPixels, float platePixel)
{
    return static_cast<float>(static_cast<double>(-vyPixels / platePixel) *
                              static_cast<double>(kPlateDiameterCm));
}
