#include "analysis/lift_results.h"

#include <cmath>

#include "analysis/lift_chart.h"
#include "analysis/measurement.h"

bool writeLiftFiles(const std::string& movieFile, const std::vector<TraceRow>& rows,
                    LiftResults& results)
{
    results = analyseLift(rows);
    const double firstTime = rows.empty() ? 0.0 : rows.front().timeS;
    // Each file is tried even when one before failed: what can be kept, is.
    bool ok = writeTraceCsv(companionFileName(movieFile, ".csv"), rows, results);
    ok = writePhasesCsv(companionFileName(movieFile, ".phases.csv"), results.phases, firstTime) &&
         ok;
    ok = writeLiftChartPng(companionFileName(movieFile, ".png"), rows, results) && ok;
    return ok;
}

TraceRow movieTraceRow(int frame, double timeS, float x, float y, int baseY, float platePixel,
                       float barCenterInit, const TraceRow* previous)
{
    TraceRow row;
    row.frame = frame;
    row.timeS = timeS;
    row.measured = std::isfinite(x) && std::isfinite(y);
    row.x = x;
    row.y = y;
    if (!row.measured || !plateCalibrated(platePixel))
        return row;
    row.heightCm = currentHeightCm(barCenterInit, y, baseY, platePixel);
    if (previous && previous->measured && timeS > previous->timeS)
        row.velocityCmS = upwardVelocityCm(
            static_cast<float>((row.y - previous->y) / (timeS - previous->timeS)), platePixel);
    return row;
}

double frameTimeS(double decoderMs, int frame, double fps, const TraceRow* previous)
{
    const double nominal = fps > 0.0 && std::isfinite(fps) ? frame / fps : 0.0;
    // Some decoders give 0 for every frame, or nothing at all; a timestamp
    // running backwards is no better.
    if (!std::isfinite(decoderMs) || decoderMs < 0.0 || (decoderMs == 0.0 && frame > 0))
        return nominal;
    const double t = decoderMs / 1000.0;
    if (previous && t < previous->timeS)
        return nominal;
    return t;
}
