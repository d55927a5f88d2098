#include "analysis/plate_finder.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <random>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>

// The rim is looked for along rays from the target centre: on each ray the
// strongest colour edges, then ellipses through edges of three rays far
// apart, centred on the target (which sits on the bar's end) or beside it,
// and the best of those refitted freely on the edges near them. Colour rather
// than grey, since a red plate in front of a green wall may have the wall's
// brightness.

namespace
{
constexpr int kRays = 180;
constexpr float kStep = 0.5f; // between samples along a ray, px
constexpr int kEdgesPerRay = 6;
// Colour gradients below this (levels per pixel) are JPEG ringing and sensor
// noise on a plain wall, never a plate's rim.
constexpr float kMinEdge = 2.0f;
// How far an edge may lie from the ellipse along its ray to count as rim.
constexpr double kOnRimPx = 1.5;
// The hypotheses' centres: the target's and a 3 x 3 grid around it.
constexpr double kCentreStepPx = 3.0;
constexpr int kHypothesesPerCentre = 500;
constexpr size_t kRefined = 8;
// A plate turned further than this shows the lifter its edge, not its face.
constexpr double kMinAxisRatio = 0.4;

struct Edge {
    float r = 0;        // from the target centre, px
    float strength = 0; // colour gradient along the ray, levels per px
    cv::Vec3f step;     // colour outside minus inside (only [0] for grey)
};

// The rays from the target centre and the strongest edges on each.
struct RayFan {
    cv::Point2d origin; // frame pixels
    float rMin = 0;
    std::vector<cv::Point2d> dir;
    std::vector<float> rLast;             // the farthest radius an edge can be found at
    std::vector<std::vector<Edge>> edges; // strongest first
    float noise = 0;                      // median gradient along the rays
};

// An ellipse as (p - c)' [xx xy; xy yy] (p - c) = 1.
struct Conic {
    cv::Point2d c;
    double xx = 0, xy = 0, yy = 0;
};

bool isEllipse(const Conic& e)
{
    return std::isfinite(e.xx) && std::isfinite(e.xy) && std::isfinite(e.yy) &&
           std::isfinite(e.c.x) && std::isfinite(e.c.y) && e.xx > 0 && e.yy > 0 &&
           e.xx * e.yy - e.xy * e.xy > 0;
}

Conic conicFrom(const cv::RotatedRect& r)
{
    const double a = r.size.width / 2.0, b = r.size.height / 2.0;
    const double phi = r.angle * CV_PI / 180.0, cs = std::cos(phi), sn = std::sin(phi);
    Conic e;
    e.c = cv::Point2d(r.center.x, r.center.y);
    e.xx = cs * cs / (a * a) + sn * sn / (b * b);
    e.xy = cs * sn * (1 / (a * a) - 1 / (b * b));
    e.yy = sn * sn / (a * a) + cs * cs / (b * b);
    return e;
}

// The full extents of the bounding box.
double verticalExtent(const Conic& e)
{
    return 2 * std::sqrt(e.xx / (e.xx * e.yy - e.xy * e.xy));
}

double horizontalExtent(const Conic& e)
{
    return 2 * std::sqrt(e.yy / (e.xx * e.yy - e.xy * e.xy));
}

void semiAxes(const Conic& e, double& minor, double& major)
{
    const double mean = (e.xx + e.yy) / 2;
    const double spread = std::hypot((e.xx - e.yy) / 2, e.xy);
    major = 1 / std::sqrt(mean - spread);
    minor = 1 / std::sqrt(mean + spread);
}

bool plausibleShape(const Conic& e, double rMin, double rMax)
{
    double minor = 0, major = 0;
    semiAxes(e, minor, major);
    return minor >= rMin && major <= rMax && minor >= kMinAxisRatio * major;
}

// Distance from `o` along the unit vector `u` to the ellipse; -1 when `o`
// does not lie inside it.
double radiusAlong(const Conic& e, cv::Point2d o, cv::Point2d u)
{
    const cv::Point2d d = o - e.c;
    const double qa = e.xx * u.x * u.x + 2 * e.xy * u.x * u.y + e.yy * u.y * u.y;
    const double qb = e.xx * u.x * d.x + e.xy * (u.x * d.y + u.y * d.x) + e.yy * u.y * d.y;
    const double qc = e.xx * d.x * d.x + 2 * e.xy * d.x * d.y + e.yy * d.y * d.y - 1;
    if (!(qc < 0))
        return -1;
    return (-qb + std::sqrt(qb * qb - qa * qc)) / qa;
}

/* ---- The edges along the rays ---- */

float bilinear(const cv::Mat& image, double x, double y, int channel)
{
    const int cn = image.channels();
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const float fx = static_cast<float>(x - x0), fy = static_cast<float>(y - y0);
    const uchar* top = image.ptr<uchar>(y0) + x0 * cn + channel;
    const uchar* bottom = image.ptr<uchar>(y0 + 1) + x0 * cn + channel;
    return (1 - fy) * ((1 - fx) * top[0] + fx * top[cn]) +
           fy * ((1 - fx) * bottom[0] + fx * bottom[cn]);
}

// How far the ray from `o` along `u` reaches before rMax or the sampling
// border (xMax, yMax).
double rayEnd(cv::Point2d o, cv::Point2d u, double rMax, double xMax, double yMax)
{
    double rEnd = rMax;
    if (u.x > 1e-9)
        rEnd = std::min(rEnd, (xMax - o.x) / u.x);
    else if (u.x < -1e-9)
        rEnd = std::min(rEnd, o.x / -u.x);
    if (u.y > 1e-9)
        rEnd = std::min(rEnd, (yMax - o.y) / u.y);
    else if (u.y < -1e-9)
        rEnd = std::min(rEnd, o.y / -u.y);
    return rEnd;
}

// Buffers used again from ray to ray, and the gradients of every ray for the
// noise estimate.
struct RayScratch {
    std::vector<float> values, gradient, everyGradient;
    std::vector<Edge> peaks;
};

// The colours of `n` samples along the ray from `o` along `u`, starting at
// radius r0, one after the other in `values`.
void sampleRay(const cv::Mat& image, cv::Point2d o, cv::Point2d u, double r0, int n, double xMax,
               double yMax, std::vector<float>& values)
{
    const int cn = image.channels();
    values.resize(static_cast<size_t>(n) * cn);
    for (int j = 0; j < n; ++j) {
        const double r = r0 + j * kStep;
        const double x = std::clamp(o.x + r * u.x, 0.0, xMax);
        const double y = std::clamp(o.y + r * u.y, 0.0, yMax);
        for (int c = 0; c < cn; ++c)
            values[static_cast<size_t>(j) * cn + c] = bilinear(image, x, y, c);
    }
}

// The strongest maxima of the colour gradient along one ray of `n` samples
// (`cn` channels each, in `s.values`) from radius r0, strongest first.
void rayEdges(int cn, int n, double r0, float rMin, RayScratch& s, std::vector<Edge>& edges)
{
    const std::vector<float>& values = s.values;
    std::vector<float>& gradient = s.gradient;
    std::vector<Edge>& peaks = s.peaks;
    const auto change = [&](int j, int c) {
        return values[static_cast<size_t>(j + 1) * cn + c] -
               values[static_cast<size_t>(j - 1) * cn + c];
    };
    // The difference across one pixel: the blur already smoothed the noise,
    // and a wider one would let an inner ring's edge pull on the rim's.
    gradient.assign(n, 0.0f);
    for (int j = 1; j + 1 < n; ++j) {
        float sum = 0;
        for (int c = 0; c < cn; ++c)
            sum += change(j, c) * change(j, c);
        gradient[j] = std::sqrt(sum) / (2 * kStep);
        if (j % 2 == 0)
            s.everyGradient.push_back(gradient[j]);
    }
    peaks.clear();
    for (int j = 3; j + 3 < n; ++j) {
        const float g = gradient[j], before = gradient[j - 1], after = gradient[j + 1];
        const double r = r0 + j * kStep;
        if (r < rMin || g < kMinEdge || !(g > before && g >= after))
            continue;
        const float curve = before - 2 * g + after;
        const float shift = curve < 0 ? 0.5f * (before - after) / curve : 0.0f;
        Edge edge;
        edge.r = static_cast<float>(r + shift * kStep);
        edge.strength = g - 0.25f * (before - after) * shift;
        for (int c = 0; c < cn; ++c)
            edge.step[c] = change(j, c);
        peaks.push_back(edge);
    }
    const auto keep = static_cast<std::ptrdiff_t>(std::min<size_t>(peaks.size(), kEdgesPerRay));
    std::partial_sort(peaks.begin(), peaks.begin() + keep, peaks.end(),
                      [](const Edge& a, const Edge& b) { return a.strength > b.strength; });
    edges.assign(peaks.begin(), peaks.begin() + keep);
}

// Samples `image` (blurred already; its top-left corner at `corner` in the
// frame) along each ray from rMin to rMax or the image border and keeps the
// strongest maxima of the colour gradient, placed between the samples by a
// parabola through their neighbours.
RayFan castRays(const cv::Mat& image, cv::Point2d corner, cv::Point2d origin, float rMin,
                float rMax)
{
    RayFan fan;
    fan.origin = origin;
    fan.rMin = rMin;
    fan.dir.resize(kRays);
    fan.rLast.assign(kRays, 0.0f);
    fan.edges.resize(kRays);
    const cv::Point2d o = origin - corner;
    const int cn = image.channels();
    // Bilinear sampling reads the next column and row too.
    const double xMax = image.cols - 1.001, yMax = image.rows - 1.001;
    const double r0 = rMin - 1.5;
    RayScratch scratch;
    for (int k = 0; k < kRays; ++k) {
        const double angle = 2 * CV_PI * k / kRays;
        const cv::Point2d u(std::cos(angle), std::sin(angle));
        fan.dir[k] = u;
        const double rEnd = rayEnd(o, u, rMax, xMax, yMax);
        const int n = static_cast<int>(std::floor((rEnd - r0) / kStep)) + 1;
        if (n < 9)
            continue;
        sampleRay(image, o, u, r0, n, xMax, yMax, scratch.values);
        fan.rLast[k] = static_cast<float>(r0 + (n - 4) * kStep);
        rayEdges(cn, n, r0, rMin, scratch, fan.edges[k]);
    }
    std::vector<float>& everyGradient = scratch.everyGradient;
    if (!everyGradient.empty()) {
        auto middle = everyGradient.begin() + static_cast<std::ptrdiff_t>(everyGradient.size() / 2);
        std::nth_element(everyGradient.begin(), middle, everyGradient.end());
        fan.noise = *middle;
    }
    return fan;
}

/* ---- Hypotheses ---- */

// The ellipse centred on `centre` through three points given relative to it;
// false when they lie on none.
bool centredThrough(const cv::Point2d p[3], cv::Point2d centre, Conic& e)
{
    // Rows [x², 2xy, y²] times (xx, xy, yy) = 1, by Cramer's rule.
    double m[3][3];
    for (int i = 0; i < 3; ++i) {
        m[i][0] = p[i].x * p[i].x;
        m[i][1] = 2 * p[i].x * p[i].y;
        m[i][2] = p[i].y * p[i].y;
    }
    const auto det = [](const double a[3], const double b[3], const double c[3]) {
        return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
               a[2] * (b[0] * c[1] - b[1] * c[0]);
    };
    const double d = det(m[0], m[1], m[2]);
    if (std::abs(d) < 1e-12 * std::pow(m[0][0] + m[0][2], 3))
        return false;
    double solution[3];
    for (int col = 0; col < 3; ++col) {
        double r[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                r[i][j] = j == col ? 1.0 : m[i][j];
        solution[col] = det(r[0], r[1], r[2]) / d;
    }
    e.c = centre;
    e.xx = solution[0];
    e.xy = solution[1];
    e.yy = solution[2];
    return isEllipse(e);
}

// The best few hypotheses, one of each size and place.
class Shortlist
{
public:
    double lowest() const
    {
        if (kept_.size() < kRefined)
            return 0.0;
        return std::min_element(kept_.begin(), kept_.end(), byScore)->first;
    }

    void offer(double score, const Conic& e)
    {
        auto slot = std::find_if(kept_.begin(), kept_.end(),
                                 [&](const auto& kept) { return similar(kept.second, e); });
        if (slot == kept_.end() && kept_.size() < kRefined) {
            kept_.push_back({score, e});
            return;
        }
        if (slot == kept_.end())
            slot = std::min_element(kept_.begin(), kept_.end(), byScore);
        if (score > slot->first)
            *slot = {score, e};
    }

    std::vector<Conic> conics() const
    {
        std::vector<Conic> all;
        for (const auto& kept : kept_)
            all.push_back(kept.second);
        return all;
    }

private:
    static bool byScore(const std::pair<double, Conic>& a, const std::pair<double, Conic>& b)
    {
        return a.first < b.first;
    }
    static bool similar(const Conic& a, const Conic& b)
    {
        const auto near = [](double p, double q) {
            return std::abs(p - q) < 0.04 * std::max(p, q);
        };
        return near(verticalExtent(a), verticalExtent(b)) &&
               near(horizontalExtent(a), horizontalExtent(b)) && cv::norm(a.c - b.c) < 2.0;
    }

    std::vector<std::pair<double, Conic>> kept_;
};

// The fan's edges seen from a centre beside the origin: distance and
// direction products, so that scoring a hypothesis needs one square root an
// edge. Rays keep their order, and their edges the strongest first.
struct EdgesFrom {
    struct Seen {
        float length, wxx, wxy, wyy, strength;
    };
    std::vector<Seen> seen;
    std::vector<size_t> firstOfRay;

    EdgesFrom(const RayFan& fan, cv::Point2d shift) : firstOfRay(fan.dir.size() + 1)
    {
        for (size_t k = 0; k < fan.dir.size(); ++k) {
            firstOfRay[k] = seen.size();
            for (const Edge& edge : fan.edges[k]) {
                const cv::Point2d d = fan.dir[k] * static_cast<double>(edge.r) - shift;
                const double length = std::max(1e-6, std::hypot(d.x, d.y));
                const double wx = d.x / length, wy = d.y / length;
                seen.push_back({static_cast<float>(length), static_cast<float>(wx * wx),
                                static_cast<float>(2 * wx * wy), static_cast<float>(wy * wy),
                                edge.strength});
            }
        }
        firstOfRay.back() = seen.size();
    }

    // The summed strength of the strongest edge near the ellipse on each ray,
    // measured along the line from its centre; the plate's centre may lie
    // between the grid's, so "near" grows with the radius. A sixth of the rays
    // first: when they promise less than `enough`, the rest are not looked at.
    double score(const Conic& e, double enough) const
    {
        const float xx = static_cast<float>(e.xx), xy = static_cast<float>(e.xy),
                    yy = static_cast<float>(e.yy);
        const size_t rays = firstOfRay.size() - 1;
        double sum = 0;
        for (size_t part = 0; part < 6; ++part) {
            if (part == 1 && sum * 6 < enough)
                break;
            for (size_t k = part; k < rays; k += 6) {
                for (size_t i = firstOfRay[k]; i < firstOfRay[k + 1]; ++i) {
                    const Seen& edge = seen[i];
                    const float onEllipse =
                        1 / std::sqrt(xx * edge.wxx + xy * edge.wxy + yy * edge.wyy);
                    if (std::abs(edge.length - onEllipse) <=
                        static_cast<float>(kOnRimPx) + 0.05f * onEllipse) {
                        sum += edge.strength;
                        break;
                    }
                }
            }
        }
        return sum;
    }
};

// Random ellipses through edges of three rays about a third of a turn apart,
// centred on the target or a grid step beside it. Edges are drawn by
// strength: the rim is mostly among the strongest on its ray.
std::vector<Conic> hypotheses(const RayFan& fan, double rMax)
{
    std::mt19937 random(20240601u);
    std::uniform_int_distribution<int> anyRay(0, kRays - 1);
    std::uniform_int_distribution<int> jitter(-kRays / 6, kRays / 6);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const auto pick = [&](const std::vector<Edge>& edges) -> const Edge& {
        float total = 0;
        for (const Edge& edge : edges)
            total += edge.strength;
        float left = unit(random) * total;
        for (const Edge& edge : edges) {
            left -= edge.strength;
            if (left <= 0)
                return edge;
        }
        return edges.back();
    };
    Shortlist best;
    for (int gy = -1; gy <= 1; ++gy) {
        for (int gx = -1; gx <= 1; ++gx) {
            const cv::Point2d shift(gx * kCentreStepPx, gy * kCentreStepPx);
            const EdgesFrom edgesFrom(fan, shift);
            for (int h = 0; h < kHypothesesPerCentre; ++h) {
                const int first = anyRay(random);
                const int rays[3] = {first, (first + kRays / 3 + jitter(random) + kRays) % kRays,
                                     (first + 2 * kRays / 3 + jitter(random) + kRays) % kRays};
                cv::Point2d points[3];
                bool complete = true;
                for (int i = 0; i < 3 && complete; ++i) {
                    const std::vector<Edge>& edges = fan.edges[rays[i]];
                    complete = !edges.empty();
                    if (complete)
                        points[i] = fan.dir[rays[i]] * static_cast<double>(pick(edges).r) - shift;
                }
                Conic e;
                if (complete && centredThrough(points, fan.origin + shift, e) &&
                    plausibleShape(e, fan.rMin, rMax))
                    best.offer(edgesFrom.score(e, 0.5 * best.lowest()), e);
            }
        }
    }
    return best.conics();
}

/* ---- Fitting ---- */

// The edge on `ray` within `tolerance` of radius r, the nearest or the
// strongest, and if `polarity` is given changing colour that way; null
// without one.
const Edge* edgeNear(const RayFan& fan, size_t ray, double r, double tolerance, bool strongest,
                     const cv::Vec3f* polarity = nullptr)
{
    const Edge* best = nullptr;
    double bestGap = tolerance;
    for (const Edge& edge : fan.edges[ray]) {
        const double gap = std::abs(edge.r - r);
        if (gap > tolerance || (polarity && edge.step.dot(*polarity) <= 0))
            continue;
        if (strongest ? !best || edge.strength > best->strength : gap <= bestGap) {
            bestGap = gap;
            best = &edge;
        }
    }
    return best;
}

// The rays on which the fan could see the ellipse, and the edges on it there.
struct Support {
    int visible = 0;
    std::vector<cv::Point2f> points;
    std::vector<int> onRay; // which of each ray's edges lies on it; -1 for none
    double strength = 0;
    // Each edge counted by how close it lies: 1 on the ellipse, 0 at the tolerance.
    double closeness = 0;
};

// An ellipse half on the rim and half on an inner ring's outer edge fits
// both loosely; but from the plate to a lighter ring the colour changes the
// other way than from the plate to a lighter wall. Only the edges changing
// colour as most of them do are counted.
Support supportOf(const RayFan& fan, const Conic& e, double tolerance, double perPixel,
                  bool strongest = false)
{
    std::vector<double> radius(fan.dir.size(), -1.0);
    cv::Vec3f polarity(0, 0, 0);
    for (size_t k = 0; k < fan.dir.size(); ++k) {
        const double r = radiusAlong(e, fan.origin, fan.dir[k]);
        if (r < fan.rMin || r > fan.rLast[k])
            continue;
        radius[k] = r;
        if (const Edge* edge = edgeNear(fan, k, r, tolerance + perPixel * r, strongest))
            polarity += edge->step / std::max(1e-3, cv::norm(edge->step));
    }
    Support s;
    s.onRay.assign(fan.dir.size(), -1);
    for (size_t k = 0; k < fan.dir.size(); ++k) {
        const double r = radius[k];
        if (r < 0)
            continue;
        ++s.visible;
        const double near = tolerance + perPixel * r;
        if (const Edge* edge = edgeNear(fan, k, r, near, strongest, &polarity)) {
            s.points.emplace_back(fan.origin + fan.dir[k] * static_cast<double>(edge->r));
            s.onRay[k] = static_cast<int>(edge - fan.edges[k].data());
            s.strength += edge->strength;
            const double gap = (edge->r - r) / near;
            s.closeness += 1 - gap * gap;
        }
    }
    return s;
}

// Least squares on the edges near the ellipse, narrowing what is near: the
// hypothesis was centred on a grid point, the plate is not. While "near" is
// wide it may hold both the rim and an inner ring; taking the nearest edge
// may then fit half of each, taking the strongest keeps to one of them. Both
// are tried.
bool refit(const RayFan& fan, Conic& e, cv::RotatedRect& rect, bool strongest)
{
    const double perPixel[] = {0.10, 0.05, 0.0, 0.0};
    const double tolerance[] = {kOnRimPx, kOnRimPx, 3.0, kOnRimPx};
    for (int pass = 0; pass < 4; ++pass) {
        const Support s = supportOf(fan, e, tolerance[pass], perPixel[pass], strongest && pass < 2);
        if (s.points.size() < 8)
            return false;
        rect = cv::fitEllipse(s.points);
        if (!(rect.size.width > 0 && rect.size.height > 0))
            return false;
        e = conicFrom(rect);
        if (!isEllipse(e))
            return false;
    }
    return true;
}

struct Rim {
    PlateFit fit;
    double closeness = 0; // per ray that could see it
    std::vector<int> onRay;
    int edges = 0;
};

// Whether the refitted ellipse is a plate's rim around the target: centred
// near it, of a plate's shape, mostly in the frame and found there, and
// standing out of the noise.
bool judge(const RayFan& fan, const Conic& e, const cv::RotatedRect& rect, cv::Size2f targetSize,
           double rMax, Rim& rim)
{
    double minor = 0, major = 0;
    semiAxes(e, minor, major);
    const double allowedOffCentre =
        std::max(0.15 * major, 0.5 * std::max(targetSize.width, targetSize.height));
    if (!plausibleShape(e, fan.rMin, rMax) || cv::norm(e.c - fan.origin) > allowedOffCentre)
        return false;
    const Support s = supportOf(fan, e, kOnRimPx, 0.0);
    if (s.visible < kRays / 2 || s.points.empty())
        return false;
    const double share = static_cast<double>(s.points.size()) / s.visible;
    const double meanEdge = s.strength / static_cast<double>(s.points.size());
    const double contrast = meanEdge / std::max(fan.noise, 0.25f);
    if (share < 0.6 || meanEdge < 2 * kMinEdge || contrast < 3)
        return false;
    rim.fit.ellipse = rect;
    rim.fit.heightPx = static_cast<float>(verticalExtent(e));
    rim.fit.score = static_cast<float>(share);
    rim.fit.contrast = static_cast<float>(contrast);
    rim.closeness = s.closeness / s.visible;
    rim.onRay = s.onRay;
    rim.edges = static_cast<int>(s.points.size());
    return true;
}

// Inner rings and the hub are rims too, and the plate's is the outermost.
// But an ellipse may also take part of its edges from the rim and the rest
// from a ring or the bar, fitting them loosely, and reach beyond the rim. So
// the ellipses are taken closest fitted first, each passed over if it shares
// many edges with one taken before. Of the rest, the outermost is the rim
// unless one just inside it fits much more closely.
bool choose(const std::vector<Rim>& rims, PlateFit& fit)
{
    std::vector<const Rim*> byCloseness;
    for (const Rim& rim : rims)
        byCloseness.push_back(&rim);
    std::sort(byCloseness.begin(), byCloseness.end(),
              [](const Rim* a, const Rim* b) { return a->closeness > b->closeness; });
    const auto shared = [](const Rim& a, const Rim& b) {
        int count = 0;
        for (size_t k = 0; k < a.onRay.size(); ++k)
            count += a.onRay[k] >= 0 && a.onRay[k] == b.onRay[k];
        return count;
    };
    std::vector<const Rim*> distinct;
    for (const Rim* rim : byCloseness) {
        if (rim->closeness < 0.5 * byCloseness.front()->closeness)
            break;
        if (std::none_of(distinct.begin(), distinct.end(),
                         [&](const Rim* taken) { return shared(*rim, *taken) > 0.3 * rim->edges; }))
            distinct.push_back(rim);
    }
    std::sort(distinct.begin(), distinct.end(),
              [](const Rim* a, const Rim* b) { return a->fit.heightPx > b->fit.heightPx; });
    for (const Rim* outer : distinct) {
        if (std::none_of(distinct.begin(), distinct.end(), [&](const Rim* inner) {
                return inner->fit.heightPx < outer->fit.heightPx &&
                       inner->fit.heightPx >= 0.85f * outer->fit.heightPx &&
                       0.8 * inner->closeness > outer->closeness;
            })) {
            fit = outer->fit;
            return true;
        }
    }
    return false;
}

bool finite(cv::Point2f p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

} // namespace

bool findPlate(const cv::Mat& frame, cv::Point2f target, cv::Size2f targetSize, PlateFit& fit)
{
    try {
        const int cn = frame.channels();
        if (frame.empty() || frame.dims != 2 || frame.depth() != CV_8U ||
            (cn != 1 && cn != 3 && cn != 4))
            return false;
        if (!finite(target) || !std::isfinite(targetSize.width) ||
            !std::isfinite(targetSize.height) || targetSize.width < 0 || targetSize.height < 0)
            return false;
        if (target.x < 0 || target.y < 0 || target.x > frame.cols - 1 || target.y > frame.rows - 1)
            return false;
        // The sleeve's texture fills the target; its corners are the last of it.
        const float rMin =
            std::max(0.5f * std::hypot(targetSize.width, targetSize.height) + 2.0f, 4.0f);
        const float rMax = 0.6f * frame.rows;
        if (2 * rMin > rMax)
            return false;

        const int reach = static_cast<int>(std::ceil(rMax)) + 6;
        const cv::Point centre(static_cast<int>(target.x), static_cast<int>(target.y));
        const cv::Rect area =
            cv::Rect(centre.x - reach, centre.y - reach, 2 * reach + 1, 2 * reach + 1) &
            cv::Rect(0, 0, frame.cols, frame.rows);
        cv::Mat source = frame(area), smooth;
        if (cn == 4)
            cv::cvtColor(frame(area), source, cv::COLOR_BGRA2BGR); // a copy: the frame stays
        // Takes the JPEG blocks and the sensor noise off the edges' maxima.
        cv::GaussianBlur(source, smooth, cv::Size(7, 7), 1.0);
        const RayFan fan =
            castRays(smooth, cv::Point2d(area.x, area.y), cv::Point2d(target), rMin, rMax);

        std::vector<Rim> rims;
        for (const Conic& start : hypotheses(fan, rMax)) {
            for (const bool strongest : {false, true}) {
                Conic e = start;
                cv::RotatedRect rect;
                Rim rim;
                if (refit(fan, e, rect, strongest) && judge(fan, e, rect, targetSize, rMax, rim))
                    rims.push_back(rim);
            }
        }
        return choose(rims, fit);
    } catch (const std::exception&) {
        return false;
    }
}
