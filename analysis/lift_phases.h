#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "video/trace_row.h"

// The numbers a coach keeps from a trace: a smoothed velocity for every row,
// the upward (concentric) phases of the lift, and the two CSV files written
// beside a movie. Nothing here needs a widget.

// An upward phase starts at the last local minimum before the smoothed height
// rises this far above it...
constexpr double kPhaseMinRiseCm = 10.0;
// ...and ends at the next local maximum; a dip smaller than this does not end it.
constexpr double kPhaseEndDipCm = 2.0;
// At its low and at its peak the bar is taken to stand while the smoothed
// height stays within a tolerance of the extremum: the larger of this floor
// (about a pixel of jitter, and the ringing of the filter at a sudden start)
// and this many times the noise the smoothing leaves. The boundary is then
// carried from where the bar leaves that band to where its velocity is zero,
// so that neither noise nor a rest moves it about.
constexpr double kPhaseRestFloorCm = 0.5;
constexpr double kPhaseRestNoise = 3.0;

struct LiftPhase {
    // Boundaries may fall between rows: the times are interpolated, the
    // frames are the interpolated frame index rounded to the nearest.
    int startFrame = 0;
    int endFrame = 0;
    double startTimeS = 0.0; // on the rows' clock
    double endTimeS = 0.0;
    double startHeightCm = 0.0;
    double peakHeightCm = 0.0;
    double rangeCm = 0.0; // peak - start
    double peakVelocityMS = 0.0;
    double meanVelocityMS = 0.0;      // range over duration
    double timeToPeakVelocityS = 0.0; // from the start
    // False when the trace ends before the phase is over: before the height
    // has dipped kPhaseEndDipCm below the peak, or the bar has stood near it
    // for a period of the smoothing's cut-off. The files keep such a phase;
    // the live table waits for it to end.
    bool ended = true;
};

// The columns of a phase as the phases file and the chart window's table show
// them: both read this one list, in its order.
struct PhaseColumn {
    const char* csvHeader;
    const char* tableHeader;
    // Digits after the point; a whole number (the phase's number, a frame) has -1.
    int csvDecimals;
    int tableDecimals;
};
constexpr size_t kPhaseColumnCount = 11;
extern const PhaseColumn kPhaseColumns[kPhaseColumnCount];

// The values of phase `number` (counted from 1) in the columns' order, its
// times counted from `originS`.
std::array<double, kPhaseColumnCount> phaseValues(const LiftPhase& phase, int number,
                                                  double originS);

struct LiftResults {
    // One entry per row, in cm/s; NaN for rows that measured nothing and for
    // every row when there is no scale.
    std::vector<double> smoothedVelocityCmS;
    std::vector<LiftPhase> phases;
};

// The low-pass cut-off for a sampling rate: min(6 Hz, a quarter of the rate).
double smoothingCutoffHz(double sampleRateHz);

// A second-order Butterworth low-pass run forwards and backwards (zero phase),
// with the ends padded so that they do not ring. Fewer than 2 samples, or a
// rate or cut-off that is not usable, give the input back.
std::vector<double> zeroPhaseLowPass(const std::vector<double>& samples, double sampleRateHz,
                                     double cutoffHz);

// The whole analysis of a trace: resample the measured heights onto an even
// grid at the median row interval, low-pass, differentiate, sample back at the
// rows' times, and find the upward phases. Rows without a finite height (no
// scale, nothing measured, values not finite) take no part; with fewer than
// two usable rows the result has NaN velocities and no phases.
LiftResults analyseLift(const std::vector<TraceRow>& rows);

// `<name>.csv`, RFC 4180 with a header row, '.' as the decimal point whatever
// the locale; a row that measured nothing has its fields after frame and time
// empty, and so have the cm columns without a scale. False when the file
// cannot be written completely.
bool writeTraceCsv(const std::string& path, const std::vector<TraceRow>& rows,
                   const LiftResults& results);

// `<name>.phases.csv`: a header row and one row per upward phase.
bool writePhasesCsv(const std::string& path, const std::vector<LiftPhase>& phases,
                    double firstRowTimeS);

// The companion files of a kept movie: its name with the extension (the text
// after the last '.') replaced, so "cap1_X.avi" gives "cap1_X.csv" and
// "cap1_X..avi" gives "cap1_X..csv". `suffix` is ".csv", ".phases.csv" or ".png".
std::string companionFileName(const std::string& movieFile, const std::string& suffix);
