// The movie and the check of the end-to-end trail test (program_under_xvfb_trail.sh):
//
//   lift_movie_tool write <movie.avi>      writes the lift movie and prints where the plate
//                                          and the target are and when the target moves
//   lift_movie_tool check <recording.avi>  checks the magenta trail in a recording of it
//
// The movie: a still 45 cm plate and a textured target that rests, is lifted and lowered
// on a smooth path, and rests again. Its horizontal position depends on its height alone,
// so the path is one curve x(y) that the trail, going up and coming down, lies on twice.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace
{

const cv::Size kFrame(640, 480);
constexpr double kFps = 24.0;
constexpr int kFrames = 192;       // 8 s, played again and again by --loop
constexpr double kLiftStart = 4.0; // s; the target rests before, so it can be selected
constexpr double kLiftEnd = 6.5;   // s
constexpr double kRestX = 400.0;   // centre of the target at rest
constexpr double kRestY = 400.0;
constexpr double kLift = 220.0; // pixels from the rest to the top
constexpr double kSway = 6.0;   // to the right at half height
constexpr int kTarget = 40;     // side of the square target
const cv::Point kPlateCentre(125, 320);
constexpr int kPlateRadius = 100; // the plate is 2 * 100 pixels high: 45 cm

// The trail's centre line may lie kAllowed from the path. The live view draws it with a
// 5 pixel pen, and the codecs, which keep colour at half resolution, widen its coloured
// edge by up to a pixel.
constexpr double kAllowed = 2.0;
constexpr double kHalfPen = 2.5;
constexpr double kBlur = 1.0;

double liftHeight(double seconds)
{
    if (seconds <= kLiftStart || seconds >= kLiftEnd)
        return 0.0;
    const double phase = (seconds - kLiftStart) / (kLiftEnd - kLiftStart);
    return kLift * (1.0 - std::cos(2.0 * CV_PI * phase)) / 2.0;
}

double pathX(double height)
{
    return kRestX + kSway * std::sin(CV_PI * std::clamp(height, 0.0, kLift) / kLift);
}

// The path as a column for each row, in pixel-edge coordinates (pixel i spans i..i+1).
double pathXAtRow(double y)
{
    return pathX(kRestY - y);
}

// Top-left pixel of the target in frame k: the centre rounded to whole pixels, so the
// drawn centre is at most half a pixel off the path.
cv::Point targetTopLeft(int k)
{
    const double h = liftHeight(k / kFps);
    return cv::Point(static_cast<int>(std::lround(pathX(h) - kTarget / 2.0)),
                     static_cast<int>(std::lround(kRestY - h - kTarget / 2.0)));
}

cv::Mat targetTexture()
{
    // Random grey blocks: one place in the frame matches, and no colour comes near magenta.
    cv::Mat small(kTarget / 5, kTarget / 5, CV_8UC1);
    cv::RNG rng(7);
    rng.fill(small, cv::RNG::UNIFORM, 20, 236);
    cv::Mat big;
    cv::resize(small, big, cv::Size(kTarget, kTarget), 0, 0, cv::INTER_NEAREST);
    cv::Mat bgr;
    cv::cvtColor(big, bgr, cv::COLOR_GRAY2BGR);
    return bgr;
}

cv::Mat background()
{
    cv::Mat image(kFrame, CV_8UC3);
    for (int y = 0; y < kFrame.height; ++y)
        image.row(y).setTo(cv::Scalar::all(235 - 45 * y / kFrame.height));
    cv::circle(image, kPlateCentre, kPlateRadius, cv::Scalar::all(55), cv::FILLED, cv::LINE_AA);
    cv::circle(image, kPlateCentre, kPlateRadius - 10, cv::Scalar::all(115), 4, cv::LINE_AA);
    cv::circle(image, kPlateCentre, 22, cv::Scalar::all(205), cv::FILLED, cv::LINE_AA);
    cv::circle(image, kPlateCentre, 9, cv::Scalar::all(25), cv::FILLED, cv::LINE_AA);
    return image;
}

cv::Rect plateBox()
{
    return cv::Rect(kPlateCentre.x - kPlateRadius, kPlateCentre.y - kPlateRadius, 2 * kPlateRadius,
                    2 * kPlateRadius);
}

int writeMovie(const std::string& path)
{
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), kFps, kFrame);
    if (!writer.isOpened()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    const cv::Mat still = background();
    const cv::Mat texture = targetTexture();
    for (int k = 0; k < kFrames; ++k) {
        cv::Mat frame = still.clone();
        texture.copyTo(frame(cv::Rect(targetTopLeft(k), texture.size())));
        writer.write(frame);
    }
    // What the script drags and when: rectangles in frame pixels, times in ms.
    const cv::Rect plate = plateBox();
    const cv::Point rest = targetTopLeft(0);
    std::printf("frame %d %d\n", kFrame.width, kFrame.height);
    std::printf("plate %d %d %d %d\n", plate.x, plate.y, plate.width, plate.height);
    std::printf("target %d %d %d %d\n", rest.x, rest.y, kTarget, kTarget);
    std::printf("rest_ms %d\n", static_cast<int>(kLiftStart * 1000));
    std::printf("loop_ms %d\n", static_cast<int>(kFrames / kFps * 1000));
    return 0;
}

// Where the movie's picture lies in a recorded frame: the plate is searched for around
// its own place, as the scene around the picture is only a few pixels larger.
bool findPicture(const cv::Mat& recorded, const cv::Mat& plate, cv::Point& offset)
{
    constexpr int kSearch = 16;
    const cv::Rect box = plateBox();
    const cv::Rect area = cv::Rect(box.x - kSearch, box.y - kSearch, box.width + 2 * kSearch,
                                   box.height + 2 * kSearch) &
                          cv::Rect(cv::Point(0, 0), recorded.size());
    if (area.width < plate.cols || area.height < plate.rows)
        return false;
    cv::Mat scores;
    cv::matchTemplate(recorded(area), plate, scores, cv::TM_CCOEFF_NORMED);
    double best = 0;
    cv::Point at;
    cv::minMaxLoc(scores, nullptr, &best, nullptr, &at);
    offset = at + area.tl() - box.tl();
    return best > 0.9;
}

cv::Mat magentaMask(const cv::Mat& bgr)
{
    // Magenta is hue 300 degrees (150 in OpenCV's half degrees). The red selection
    // rectangle and its blend with the trail lie at 330 to 360 and stay out, and so
    // do the faint colours the codecs ring around the green text.
    cv::Mat hsv, mask;
    cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
    cv::inRange(hsv, cv::Scalar(140, 128, 140), cv::Scalar(160, 255, 255), mask);
    return mask;
}

cv::Mat redMask(const cv::Mat& bgr)
{
    cv::Mat hsv, low, high;
    cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
    cv::inRange(hsv, cv::Scalar(0, 150, 150), cv::Scalar(8, 255, 255), low);
    cv::inRange(hsv, cv::Scalar(172, 150, 150), cv::Scalar(180, 255, 255), high);
    return low | high;
}

// The centre of the trail in a row whose magenta pixels span lo..hi. The codecs keep
// colour at half resolution, so its edges fall on even columns; the brightness keeps
// every column, and the line is much darker than the background beside it.
bool rowCentre(const uchar* luma, int cols, int lo, int hi, double& centre)
{
    constexpr int kNear = 3, kFar = 8;
    if (lo - kFar < 0 || hi + kFar >= cols || hi - lo > 12)
        return false;
    std::vector<uchar> beside;
    for (int d = kNear + 1; d <= kFar; ++d) {
        beside.push_back(luma[lo - d]);
        beside.push_back(luma[hi + d]);
    }
    std::nth_element(beside.begin(), beside.begin() + beside.size() / 2, beside.end());
    const double ground = beside[beside.size() / 2];
    double weight = 0, moment = 0;
    for (int x = lo - kNear; x <= hi + kNear; ++x) {
        const double w = std::max(0.0, ground - luma[x]);
        weight += w;
        moment += w * (x + 0.5);
    }
    // Less than a 5 pixel line 40 levels darker: the background here is no plain grey.
    if (weight < 5 * 40)
        return false;
    centre = moment / weight;
    return true;
}

struct Farthest {
    double distance = 0;
    int frame = -1;
    int row = -1;
    void take(double d, int f, int r)
    {
        if (d > distance)
            *this = {d, f, r};
    }
};

int checkRecording(const std::string& path)
{
    cv::VideoCapture capture(path);
    if (!capture.isOpened()) {
        std::printf("FAIL: %s cannot be read\n", path.c_str());
        return 1;
    }
    const cv::Mat plate = background()(plateBox()).clone();
    const double top = kRestY - kLift;
    Farthest centreOff, pixelOff;
    int frames = 0, withTrail = 0, bestSpan = 0, bestFrame = -1;
    double bestFilled = 0;
    long pixels = 0, centres = 0;
    cv::Mat recorded, luma;
    for (int index = 0; capture.read(recorded); ++index) {
        ++frames;
        cv::Point offset;
        if (!findPicture(recorded, plate, offset)) {
            std::printf("FAIL: frame %d of %s does not show the movie's plate\n", index,
                        path.c_str());
            return 1;
        }
        const cv::Mat mask = magentaMask(recorded);
        const cv::Mat red = redMask(recorded);
        cv::cvtColor(recorded, luma, cv::COLOR_BGR2GRAY);
        int first = -1, last = -1, rows = 0;
        for (int y = 0; y < mask.rows; ++y) {
            const uchar* row = mask.ptr<uchar>(y);
            const double fy = y - offset.y + 0.5; // the row's middle in frame coordinates
            const double expected = pathXAtRow(fy);
            // Past the ends of the path, the way there counts too.
            const double beyond = std::max({0.0, top - fy, fy - kRestY});
            int count = 0, lo = mask.cols, hi = -1;
            for (int x = 0; x < mask.cols; ++x) {
                if (!row[x])
                    continue;
                ++count;
                lo = std::min(lo, x);
                hi = x;
                pixelOff.take(std::hypot(x - offset.x + 0.5 - expected, beyond), index, y);
            }
            pixels += count;
            // A single pixel can be the blurred edge of the line's end.
            if (count < 2)
                continue;
            if (fy >= top - kHalfPen && fy <= kRestY + kHalfPen) {
                first = first < 0 ? y : first;
                last = y;
                ++rows;
            }
            // Where the selection rectangle crosses the row, the target lies under the
            // trail and the rectangle's edge covers it.
            double centre = 0;
            if (cv::countNonZero(red.row(y)) > 0 ||
                !rowCentre(luma.ptr<uchar>(y), luma.cols, lo, hi, centre))
                continue;
            ++centres;
            centreOff.take(std::fabs(centre - offset.x - expected), index, y);
        }
        if (rows == 0)
            continue;
        ++withTrail;
        const int span = last - first;
        if (span > bestSpan) {
            bestSpan = span;
            bestFrame = index;
            bestFilled = rows / double(span + 1);
        }
    }
    std::printf("%s: %d frames, %d with a trail, %ld trail pixels, %ld row centres\n", path.c_str(),
                frames, withTrail, pixels, centres);
    std::printf("  farthest from the path: row centre %.2f px (frame %d row %d), pixel %.2f px "
                "(frame %d row %d)\n",
                centreOff.distance, centreOff.frame, centreOff.row, pixelOff.distance,
                pixelOff.frame, pixelOff.row);
    std::printf("  longest trail: %d of the path's %.0f rows (frame %d), %.0f%% of them drawn\n",
                bestSpan, kLift, bestFrame, 100 * bestFilled);
    if (centreOff.distance > kAllowed) {
        std::printf("FAIL: the trail's centre lies %.2f px from the target's path (at most "
                    "%.1f allowed)\n",
                    centreOff.distance, kAllowed);
        return 1;
    }
    if (pixelOff.distance > kAllowed + kHalfPen + kBlur) {
        std::printf("FAIL: a trail pixel lies %.2f px from the target's path (at most %.1f "
                    "for a 5 px pen)\n",
                    pixelOff.distance, kAllowed + kHalfPen + kBlur);
        return 1;
    }
    // The trail holds the last 50 centres, over 4 s at 12 fps: the frames after the
    // lift show all of it, save the rows the selection rectangle and the cross cover.
    if (bestSpan < 0.8 * kLift || bestFilled < 0.85 || centres < 5 * kLift) {
        std::printf("FAIL: no frame shows the trail along most of the lift\n");
        return 1;
    }
    std::printf("PASS\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc == 3 ? argv[1] : "";
    if (command == "write")
        return writeMovie(argv[2]);
    if (command == "check")
        return checkRecording(argv[2]);
    std::fprintf(stderr, "usage: %s write <movie.avi> | check <recording.avi>\n", argv[0]);
    return 2;
}
