#include "analysis/lift_phases.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace
{

constexpr double kMaxCutoffHz = 6.0;
// However far apart the first and last rows lie, the even grid stays within a
// few times the rows: a clock that jumped must not ask for gigabytes.
constexpr size_t kGridPerRow = 8;
constexpr size_t kMinGrid = 1024;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The rows that take part: measured, with a finite time and height, each
// later than the one before.
struct Samples {
    std::vector<size_t> row; // index into the rows
    std::vector<double> t;
    std::vector<double> h;
};

Samples usableSamples(const std::vector<TraceRow>& rows)
{
    Samples s;
    for (size_t i = 0; i < rows.size(); ++i) {
        const TraceRow& r = rows[i];
        if (!r.measured || !std::isfinite(r.timeS) || !std::isfinite(r.heightCm))
            continue;
        if (!s.t.empty() && !(r.timeS > s.t.back()))
            continue;
        s.row.push_back(i);
        s.t.push_back(r.timeS);
        s.h.push_back(r.heightCm);
    }
    return s;
}

double medianInterval(const std::vector<double>& t)
{
    std::vector<double> d(t.size() - 1);
    for (size_t i = 1; i < t.size(); ++i)
        d[i - 1] = t[i] - t[i - 1];
    auto mid = d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2);
    std::nth_element(d.begin(), mid, d.end());
    return *mid;
}

// Linear interpolation of (t, v) at `x`, held at the ends; `hint` walks
// forwards with ascending x so that sampling a whole grid stays linear.
double interpolate(const std::vector<double>& t, const std::vector<double>& v, double x,
                   size_t& hint)
{
    if (x <= t.front())
        return v.front();
    if (x >= t.back())
        return v.back();
    while (hint + 1 < t.size() && t[hint + 1] < x)
        ++hint;
    const double span = t[hint + 1] - t[hint];
    const double u = span > 0.0 ? (x - t[hint]) / span : 0.0;
    return v[hint] + u * (v[hint + 1] - v[hint]);
}

// The even grid the heights are filtered on.
struct Grid {
    double t0 = 0.0;
    double dt = 0.0;
    std::vector<double> raw; // height before smoothing, cm
    std::vector<double> h;   // smoothed height, cm
    std::vector<double> v;   // its derivative, cm/s
    std::vector<double> a;   // and the derivative of that, cm/s²
    double timeAt(double index) const { return t0 + index * dt; }
};

// Sub-sample place and value of an extremum at grid index i (a parabola
// through it and its neighbours), kept within half a sample.
void refineExtremum(const std::vector<double>& y, size_t i, double& index, double& value)
{
    index = static_cast<double>(i);
    value = y[i];
    if (i == 0 || i + 1 >= y.size())
        return;
    const double a = y[i - 1], b = y[i], c = y[i + 1];
    const double curvature = a - 2.0 * b + c;
    if (curvature == 0.0)
        return;
    const double offset = std::clamp(0.5 * (a - c) / curvature, -0.5, 0.5);
    index += offset;
    value = b - 0.25 * (a - c) * offset;
}

// Central differences, one-sided at the ends.
std::vector<double> derivative(const std::vector<double>& y, double rate)
{
    const size_t n = y.size();
    std::vector<double> d(n, 0.0);
    if (n < 2)
        return d;
    d[0] = (y[1] - y[0]) * rate;
    d[n - 1] = (y[n - 1] - y[n - 2]) * rate;
    for (size_t i = 1; i + 1 < n; ++i)
        d[i] = (y[i + 1] - y[i - 1]) * rate / 2.0;
    return d;
}

// The row frame at a time on the rows' clock: interpolated between the
// neighbouring usable rows, rounded to the nearest.
int frameAt(const std::vector<TraceRow>& rows, const Samples& s, double t)
{
    const auto upper = std::lower_bound(s.t.begin(), s.t.end(), t);
    if (upper == s.t.begin())
        return rows[s.row.front()].frame;
    if (upper == s.t.end())
        return rows[s.row.back()].frame;
    const size_t k = static_cast<size_t>(upper - s.t.begin());
    const double f0 = rows[s.row[k - 1]].frame, f1 = rows[s.row[k]].frame;
    const double u = (t - s.t[k - 1]) / (s.t[k] - s.t[k - 1]);
    return static_cast<int>(std::lround(f0 + u * (f1 - f0)));
}

// Where a grid series crosses `level` between samples i and i + 1, as a grid index.
double crossing(const std::vector<double>& y, size_t i, double level)
{
    const double d = y[i + 1] - y[i];
    return d != 0.0 ? static_cast<double>(i) + std::clamp((level - y[i]) / d, 0.0, 1.0)
                    : static_cast<double>(i);
}

double sampleAt(const std::vector<double>& y, double index)
{
    const size_t i = std::min(static_cast<size_t>(index), y.size() - 1);
    if (i + 1 >= y.size())
        return y[i];
    const double u = index - static_cast<double>(i);
    return y[i] + u * (y[i + 1] - y[i]);
}

// The noise left in the smoothed height: the tolerance within which the bar
// is taken to stand at its low or its peak. Estimated from how far the raw
// heights lie from the smoothed ones (the median, so that the fast parts of a
// lift do not count as noise), scaled by the share of white noise the filter
// lets through.
double restTolerance(const Grid& g, double cutoffHz)
{
    std::vector<double> residual(g.h.size());
    for (size_t i = 0; i < g.h.size(); ++i)
        residual[i] = std::abs(g.raw[i] - g.h[i]);
    auto mid = residual.begin() + static_cast<std::ptrdiff_t>(residual.size() / 2);
    std::nth_element(residual.begin(), mid, residual.end());
    const double sigma = 1.4826 * *mid;
    const double passed = std::sqrt(std::min(1.0, M_PI / M_SQRT2 * cutoffHz * g.dt));
    return std::max(kPhaseRestFloorCm, kPhaseRestNoise * sigma * passed);
}

struct PhaseBounds {
    size_t low = 0;  // grid index of the lowest point before the rise
    size_t rise = 0; // the first sample kPhaseMinRiseCm above it
    size_t peak = 0; // the highest point of the phase
    bool ended = false;
};

// Where, as a grid index, the bar left its low `extremum` or (`peak`) reached
// its peak: the last (first) moment before (after) the rise at `from` that the
// smoothed height lies within `tolerance` of the extremum, then one Newton
// step along the velocity towards where it is zero, since the smoothing rounds
// a corner and noise moves a plain extremum about. The step stays between that
// moment and the extremum itself.
double boundaryIndex(const Grid& g, size_t extremum, size_t from, double tolerance, bool peak)
{
    const double level = peak ? g.h[extremum] - tolerance : g.h[extremum] + tolerance;
    double index = static_cast<double>(extremum);
    if (peak) {
        size_t i = extremum;
        while (i > from && g.h[i - 1] >= level)
            --i;
        if (i > from)
            index = crossing(g.h, i - 1, level);
        else
            index = static_cast<double>(i);
    } else {
        size_t i = from;
        while (i > extremum && g.h[i - 1] > level)
            --i;
        if (i > extremum)
            index = crossing(g.h, i - 1, level);
        else
            index = static_cast<double>(i);
    }
    const double v = sampleAt(g.v, index), a = sampleAt(g.a, index);
    const double limit = std::abs(static_cast<double>(extremum) - index);
    double step = 0.0;
    if (peak ? (a < 0.0 && v > 0.0) : (a > 0.0 && v > 0.0))
        step = std::min(limit, std::abs(v / a) / g.dt);
    return peak ? index + step : index - step;
}

LiftPhase makePhase(const Grid& g, const PhaseBounds& b, double tolerance,
                    const std::vector<TraceRow>& rows, const Samples& s)
{
    LiftPhase p;
    const double startIndex = boundaryIndex(g, b.low, b.rise, tolerance, false);
    const double endIndex = boundaryIndex(g, b.peak, b.rise, tolerance, true);
    p.startTimeS = g.timeAt(startIndex);
    p.endTimeS = g.timeAt(endIndex);
    p.startFrame = frameAt(rows, s, p.startTimeS);
    p.endFrame = frameAt(rows, s, p.endTimeS);
    p.startHeightCm = sampleAt(g.h, startIndex);
    p.peakHeightCm = g.h[b.peak];
    p.rangeCm = p.peakHeightCm - p.startHeightCm;
    size_t fastest = b.low;
    for (size_t i = b.low; i <= b.peak; ++i) {
        if (g.v[i] > g.v[fastest])
            fastest = i;
    }
    double fastestIndex = 0, peakVelocity = 0;
    refineExtremum(g.v, fastest, fastestIndex, peakVelocity);
    p.peakVelocityMS = peakVelocity / 100.0;
    const double duration = p.endTimeS - p.startTimeS;
    p.meanVelocityMS = duration > 0.0 ? p.rangeCm / 100.0 / duration : 0.0;
    p.timeToPeakVelocityS = std::clamp(g.timeAt(fastestIndex) - p.startTimeS, 0.0, duration);
    p.ended = b.ended;
    return p;
}

// One pass over the smoothed height. Below a phase, the lowest point so far
// is the candidate low; once the height is kPhaseMinRiseCm above it, a phase
// has begun, and its peak is the highest point so far. The phase is over when
// the height falls kPhaseEndDipCm below the peak, or when the bar has stood
// near the peak for one period of the cut-off: it has stopped, and a rise
// after that is a phase of its own.
std::vector<LiftPhase> findPhases(const Grid& g, double cutoffHz, const std::vector<TraceRow>& rows,
                                  const Samples& s)
{
    std::vector<LiftPhase> phases;
    const double tolerance = restTolerance(g, cutoffHz);
    const double stopS = 1.0 / cutoffHz;
    const size_t n = g.h.size();
    size_t i = 0;
    while (i < n) {
        PhaseBounds b;
        b.low = i;
        for (; i < n; ++i) {
            if (g.h[i] < g.h[b.low])
                b.low = i;
            else if (g.h[i] - g.h[b.low] >= kPhaseMinRiseCm)
                break;
        }
        if (i >= n)
            break;
        b.rise = i;
        b.peak = i;
        // Where the bar began to stand near its peak: neither rising clearly
        // nor dipped below it. A dip does not count as standing, however long.
        size_t still = i;
        for (; i < n; ++i) {
            if (g.h[i] > g.h[b.peak])
                b.peak = i;
            if (g.h[i] > g.h[still] + tolerance || g.h[i] < g.h[b.peak] - tolerance)
                still = i;
            if (g.h[b.peak] - g.h[i] >= kPhaseEndDipCm ||
                static_cast<double>(i - still) * g.dt >= stopS) {
                b.ended = true;
                break;
            }
        }
        phases.push_back(makePhase(g, b, tolerance, rows, s));
        i = b.peak + 1;
    }
    return phases;
}

void appendNumber(std::string& out, double value, int decimals)
{
    if (!std::isfinite(value))
        return;
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec == std::errc())
        out.append(buffer, result.ptr);
}

void appendInt(std::string& out, long long value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

bool writeWhole(const std::string& path, const std::string& text)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    // The data reach the file only at close; a full disk shows there.
    const bool closed = std::fclose(f) == 0;
    return written && closed;
}

} // namespace

double smoothingCutoffHz(double sampleRateHz)
{
    if (!std::isfinite(sampleRateHz) || sampleRateHz <= 0.0)
        return kNaN;
    return std::min(kMaxCutoffHz, sampleRateHz / 4.0);
}

std::vector<double> zeroPhaseLowPass(const std::vector<double>& samples, double sampleRateHz,
                                     double cutoffHz)
{
    const size_t n = samples.size();
    if (n < 2 || !std::isfinite(sampleRateHz) || !std::isfinite(cutoffHz) || cutoffHz <= 0.0 ||
        cutoffHz >= sampleRateHz / 2.0)
        return samples;
    for (double x : samples) {
        if (!std::isfinite(x))
            return samples;
    }
    // Bilinear transform of the analogue prototype, pre-warped at the cut-off.
    const double k = std::tan(M_PI * cutoffHz / sampleRateHz);
    const double norm = 1.0 / (1.0 + M_SQRT2 * k + k * k);
    const double b0 = k * k * norm, b1 = 2.0 * b0, b2 = b0;
    const double a1 = 2.0 * (k * k - 1.0) * norm;
    const double a2 = (1.0 - M_SQRT2 * k + k * k) * norm;

    // Each end is continued by its point reflection, which keeps its level and
    // slope, over about two periods of the cut-off, and the filter starts as if
    // it had always seen the first value: no step, so no ringing at the ends.
    const size_t pad = std::min(n - 1, static_cast<size_t>(2.0 * sampleRateHz / cutoffHz) + 6);
    std::vector<double> x(n + 2 * pad);
    for (size_t i = 0; i < pad; ++i) {
        x[i] = 2.0 * samples.front() - samples[pad - i];
        x[n + pad + i] = 2.0 * samples.back() - samples[n - 2 - i];
    }
    std::copy(samples.begin(), samples.end(), x.begin() + static_cast<std::ptrdiff_t>(pad));

    auto run = [&](auto first, auto end) {
        const double start = *first;
        double z1 = (b1 + b2 - a1 - a2) * start, z2 = (b2 - a2) * start;
        for (auto it = first; it != end; ++it) {
            const double in = *it;
            const double out = b0 * in + z1;
            z1 = b1 * in - a1 * out + z2;
            z2 = b2 * in - a2 * out;
            *it = out;
        }
    };
    run(x.begin(), x.end());
    run(x.rbegin(), x.rend());
    return std::vector<double>(x.begin() + static_cast<std::ptrdiff_t>(pad),
                               x.begin() + static_cast<std::ptrdiff_t>(pad + n));
}

LiftResults analyseLift(const std::vector<TraceRow>& rows)
{
    LiftResults results;
    results.smoothedVelocityCmS.assign(rows.size(), kNaN);
    const Samples s = usableSamples(rows);
    if (s.t.size() < 2)
        return results;

    Grid g;
    g.t0 = s.t.front();
    const double span = s.t.back() - g.t0;
    g.dt = medianInterval(s.t);
    const size_t maxGrid = std::max(kMinGrid, kGridPerRow * s.t.size());
    if (!(g.dt > 0.0) || span / g.dt > static_cast<double>(maxGrid))
        g.dt = span / static_cast<double>(maxGrid);
    const size_t n = static_cast<size_t>(std::ceil(span / g.dt - 1e-9)) + 1;
    g.h.resize(n);
    size_t hint = 0;
    for (size_t i = 0; i < n; ++i)
        g.h[i] = interpolate(s.t, s.h, g.timeAt(static_cast<double>(i)), hint);

    const double rate = 1.0 / g.dt;
    const double cutoff = smoothingCutoffHz(rate);
    g.raw = g.h;
    g.h = zeroPhaseLowPass(g.raw, rate, cutoff);
    g.v = derivative(g.h, rate);
    g.a = derivative(g.v, rate);

    std::vector<double> gridT(n);
    for (size_t i = 0; i < n; ++i)
        gridT[i] = g.timeAt(static_cast<double>(i));
    hint = 0;
    for (size_t k = 0; k < s.row.size(); ++k)
        results.smoothedVelocityCmS[s.row[k]] = interpolate(gridT, g.v, s.t[k], hint);

    results.phases = findPhases(g, cutoff, rows, s);
    return results;
}

bool writeTraceCsv(const std::string& path, const std::vector<TraceRow>& rows,
                   const LiftResults& results)
{
    std::string text = "frame,time_s,x_px,y_px,height_cm,velocity_cm_s,smoothed_velocity_cm_s\r\n";
    text.reserve(text.size() + rows.size() * 64);
    const double first = rows.empty() ? 0.0 : rows.front().timeS;
    for (size_t i = 0; i < rows.size(); ++i) {
        const TraceRow& r = rows[i];
        appendInt(text, r.frame);
        text += ',';
        appendNumber(text, r.timeS - first, 6);
        const bool measured = r.measured && std::isfinite(r.x) && std::isfinite(r.y);
        const double smoothed =
            i < results.smoothedVelocityCmS.size() ? results.smoothedVelocityCmS[i] : kNaN;
        for (double value : {r.x, r.y, r.heightCm, r.velocityCmS, smoothed}) {
            text += ',';
            if (measured)
                appendNumber(text, value, 3);
        }
        text += "\r\n";
    }
    return writeWhole(path, text);
}

const PhaseColumn kPhaseColumns[kPhaseColumnCount] = {
    {"phase", "phase", -1, -1},
    {"start_frame", "start frame", -1, -1},
    {"end_frame", "end frame", -1, -1},
    {"start_time_s", "start s", 6, 3},
    {"end_time_s", "end s", 6, 3},
    {"start_height_cm", "start cm", 3, 1},
    {"peak_height_cm", "peak cm", 3, 1},
    {"range_of_motion_cm", "range cm", 3, 1},
    {"peak_velocity_m_s", "peak m/s", 4, 2},
    {"mean_velocity_m_s", "mean m/s", 4, 2},
    {"time_to_peak_velocity_s", "time to peak velocity s", 6, 3},
};

std::array<double, kPhaseColumnCount> phaseValues(const LiftPhase& p, int number, double originS)
{
    return {
        double(number),       double(p.startFrame), double(p.endFrame),   p.startTimeS - originS,
        p.endTimeS - originS, p.startHeightCm,      p.peakHeightCm,       p.rangeCm,
        p.peakVelocityMS,     p.meanVelocityMS,     p.timeToPeakVelocityS};
}

bool writePhasesCsv(const std::string& path, const std::vector<LiftPhase>& phases,
                    double firstRowTimeS)
{
    std::string text;
    for (const PhaseColumn& column : kPhaseColumns) {
        if (!text.empty())
            text += ',';
        text += column.csvHeader;
    }
    text += "\r\n";
    if (!std::isfinite(firstRowTimeS))
        firstRowTimeS = 0.0;
    for (size_t i = 0; i < phases.size(); ++i) {
        const auto values = phaseValues(phases[i], static_cast<int>(i) + 1, firstRowTimeS);
        for (size_t c = 0; c < kPhaseColumnCount; ++c) {
            if (c > 0)
                text += ',';
            if (kPhaseColumns[c].csvDecimals < 0)
                appendInt(text, static_cast<long long>(values[c]));
            else
                appendNumber(text, values[c], kPhaseColumns[c].csvDecimals);
        }
        text += "\r\n";
    }
    return writeWhole(path, text);
}

std::string companionFileName(const std::string& movieFile, const std::string& suffix)
{
    const size_t slash = movieFile.find_last_of("/\\");
    const size_t dot = movieFile.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return movieFile + suffix;
    return movieFile.substr(0, dot) + suffix;
}
