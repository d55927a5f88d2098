#pragma once

// The strobe rules done again the plain way from their description, apart from
// the program's code: the program's composition must give the same bytes.

#include <map>
#include <set>

#include <opencv2/imgproc.hpp>

namespace oracle
{
// A movie in memory; an empty frame, or one past the end, cannot be decoded.
using Movie = std::vector<cv::Mat>;

inline bool same(const cv::Mat& a, const cv::Mat& b)
{
    return !a.empty() && a.size() == b.size() && a.type() == b.type() &&
           cv::norm(a, b, cv::NORM_INF) == 0;
}

inline bool frameAt(const Movie& movie, int index, cv::Mat& out)
{
    if (index >= static_cast<int>(movie.size()) || movie[index].empty())
        return false;
    out = movie[index].clone();
    return true;
}

// |dB| + |dG| + |dR| at every pixel (exact in floats up to 765).
inline cv::Mat dist(const cv::Mat& a, const cv::Mat& b)
{
    cv::Mat d = cv::abs(cv::Mat_<cv::Vec3f>(a) - cv::Mat_<cv::Vec3f>(b));
    cv::transform(d, d, cv::Matx13f(1, 1, 1));
    return d;
}

// Type A: a sample pixel unlike the base pixel as it stands, unlike the next
// sample's and not black goes onto the base; the sample keeps only those.
inline void layOver(cv::Mat& base, cv::Mat& sample, const cv::Mat& next, int thr)
{
    const cv::Mat moves =
        (dist(base, sample) >= thr) & (dist(sample, next) >= thr) & (dist(sample, 0 * sample) > 0);
    sample.copyTo(base, moves);
    sample.setTo(cv::Scalar::all(0), moves == 0);
}

// Samples S + k * step, K = (E - S) / step. Base e gets samples e + 1 to e + N laid
// over, base 0 shown after each, the others once done; ends where a frame is missing.
inline std::vector<cv::Mat> typeA(const Movie& movie, int S, int E, int step, int N, int thr)
{
    std::vector<cv::Mat> r;
    const int K = E > S ? (E - S) / step : 0;
    for (int e = 0; e < K - N; ++e) {
        cv::Mat base, sample, next;
        if (!frameAt(movie, S + e * step, base))
            return r;
        for (int M = 1; M <= N; ++M) {
            if (!frameAt(movie, S + (e + M) * step, sample) ||
                !frameAt(movie, S + (e + M + 1) * step, next))
                return r;
            layOver(base, sample, next, thr);
            if (e == 0)
                r.push_back(base.clone());
        }
        if (e > 0)
            r.push_back(base);
    }
    return r;
}

// Strobe images V * step, V = 1 to K - 1, while the samples last; range frames
// S + X with the N newest images of offset <= X over them, bar those `lost`.
inline std::vector<cv::Mat> typeB(const Movie& movie, int S, int E, int step, int N, int thr,
                                  std::map<int, cv::Mat>& images, const std::set<int>& lost)
{
    std::vector<cv::Mat> r;
    const int K = E > S ? (E - S) / step : 0;
    for (int V = 1; V < K; ++V) {
        cv::Mat prev, cur, next;
        if (!frameAt(movie, S + (V - 1) * step, prev) || !frameAt(movie, S + V * step, cur) ||
            !frameAt(movie, S + (V + 1) * step, next))
            break;
        // The pixels alike to the previous or the next sample turn black.
        cur.setTo(cv::Scalar::all(0), (dist(prev, cur) < thr) | (dist(cur, next) < thr));
        images[V * step] = cur;
    }
    cv::Mat out;
    for (int X = 0; X < E - S && frameAt(movie, S + X, out); ++X) {
        auto it = images.upper_bound(X);
        for (int n = 0; n < N && it != images.begin(); ++n)
            --it;
        for (; it != images.upper_bound(X); ++it)
            if (!lost.count(it->first))
                it->second.copyTo(out, dist(it->second, 0 * it->second) > 0);
        r.push_back(out.clone());
    }
    return r;
}

// A still texture, grain that changes every frame (distances near any threshold), and
// moving blocks: two coloured, a black one and a white one on black (distance 765).
inline cv::Mat sceneFrame(int i)
{
    const int w = 64, h = 48;
    cv::Mat f(h, w, CV_8UC3), band = f.rowRange(0, h / 4), grain(band.size(), CV_8UC3);
    cv::RNG(0).fill(f, cv::RNG::UNIFORM, 40, 200);
    cv::RNG(static_cast<uint64_t>(i) + 1).fill(grain, cv::RNG::UNIFORM, 0, 11);
    band += grain;
    cv::rectangle(f, cv::Rect((i * 3) % w, h / 6, 8, 8), cv::Scalar(30, 40, 230), cv::FILLED);
    cv::rectangle(f, cv::Rect(w / 2, (i * 2) % h, 6, 6), cv::Scalar(40, 220, 50), cv::FILLED);
    cv::rectangle(f, cv::Rect(w - 1 - (i * 2) % w, h / 2, 8, 8), cv::Scalar::all(0), cv::FILLED);
    f.rowRange(h - 6, h).setTo(cv::Scalar::all(0));
    cv::rectangle(f, cv::Rect((i * 9) % (w - 8), h - 6, 8, 6), cv::Scalar::all(255), cv::FILLED);
    return f;
}
} // namespace oracle
