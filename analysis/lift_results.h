#pragma once

#include <string>
#include <vector>

#include "analysis/lift_phases.h"

// Writes the three files kept beside `movieFile`: the trace, its phases and
// the chart. `results` receives the analysis they were made from. False when
// any of them could not be written completely.
bool writeLiftFiles(const std::string& movieFile, const std::vector<TraceRow>& rows,
                    LiftResults& results);

// A row of the automatic analysis: the bar at (x, y) in frame `frame`, shown at
// `timeS` in the file. Heights count up from `baseY`, starting at
// `barCenterInit` cm; the velocity is taken from the previous measured row.
// Without a usable plate height the cm fields stay empty.
TraceRow movieTraceRow(int frame, double timeS, float x, float y, int baseY, float platePixel,
                       float barCenterInit, const TraceRow* previous);

// The time of a decoded frame in seconds: the decoder's timestamp when it
// gives one that moves forwards, else the frame's place at the nominal rate.
double frameTimeS(double decoderMs, int frame, double fps, const TraceRow* previous);
