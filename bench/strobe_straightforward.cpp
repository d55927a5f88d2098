#include "strobe_straightforward.h"

#include <filesystem>
#include <vector>

#include "strobe/strobe_rules.h"
#include "video/diagnostics.h"

int composeStrobeTypeAStraightforward(const StrobePlan& plan, const StrobeFrameSource& source,
                                      const StrobeFrameSink& sink)
{
    const int step = plan.step;
    const int N = plan.number;
    const int K = strobeSampleSteps(plan.end - plan.start, step);
    int written = 0;
    cv::Mat base, sample, next;
    diag("\n");
    for (int e = 0; e < K - N; ++e) {
        diag("%d/%d\r", e, K - N);
        if (!source(0, plan.start + e * step, base))
            return written;
        for (int M = 1; M <= N; ++M) {
            if (!source(1, plan.start + (e + M) * step, sample) ||
                !source(2, plan.start + (e + M + 1) * step, next))
                return written;
            layOverTypeA(base, sample, next, plan.threshold);
            if (e == 0) {
                sink(base);
                ++written;
            }
        }
        if (e > 0) {
            sink(base);
            ++written;
        }
    }
    return written;
}

int composeStrobeTypeBStraightforward(const StrobePlan& plan, const StrobeFrameSource& source,
                                      const StrobeFrameSink& sink)
{
    const int step = plan.step;
    const int R = plan.end - plan.start;
    const int K = strobeSampleSteps(R, step);
    std::error_code ignored;
    std::filesystem::create_directories("temp", ignored);

    std::vector<int> imageOffsets;
    cv::Mat prev, cur, next;
    for (int V = 1; V < K; ++V) {
        diag("%d/%d\r", V, K);
        if (!source(0, plan.start + (V - 1) * step, prev) ||
            !source(1, plan.start + V * step, cur) || !source(2, plan.start + (V + 1) * step, next))
            break;
        maskStrobeImage(prev, cur, next, plan.threshold);
        imageOffsets.push_back(V * step);
        if (!writeStrobeImage(V * step, cur))
            diag("  %s not written\n", strobeImageName(V * step).c_str());
    }
    diag("\n");

    int written = 0;
    cv::Mat out, image;
    for (int X = 0; X < R; ++X) {
        diag("%d/%d\r", X, R);
        if (!source(0, plan.start + X, out))
            break;
        int first = 0, end = 0;
        strobeImagesForFrame(imageOffsets, X, plan.number, &first, &end);
        for (int i = first; i < end; ++i) {
            if (readStrobeImage(imageOffsets[i], out.size(), image))
                copySetPixels(image, out);
        }
        sink(out);
        ++written;
    }
    return written;
}
