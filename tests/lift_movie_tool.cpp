// The movie and the check of the end-to-end trail test (program_under_xvfb_trail.sh):
//
//   lift_movie_tool write <movie.avi>      writes the lift movie and prints, for the shell,
//                                          where the plate and the target are and when
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
const cv::Rect kPlateBox(kPlateCentre - cv::Point(kPlateRadius, kPlateRadius),
                         cv::Size(2 * kPlateRadius, 2 * kPlateRadius));
constexpr double kAllowed = 2.0; // px between the trail's centre line and the path

double pathX(double height)
{
    return kRestX + kSway * std::sin(CV_PI * std::clamp(height, 0.0, kLift) / kLift);
}

// Top-left pixel of the target in frame k: the centre rounded to whole pixels, so the
// drawn centre is at most half a pixel off the path.
cv::Point targetTopLeft(int k)
{
    const double phase = (k / kFps - kLiftStart) / (kLiftEnd - kLiftStart);
    const double h = phase > 0 && phase < 1 ? kLift * (1 - std::cos(2 * CV_PI * phase)) / 2 : 0;
    return cv::Point(static_cast<int>(std::lround(pathX(h) - kTarget / 2.0)),
                     static_cast<int>(std::lround(kRestY - h - kTarget / 2.0)));
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

int writeMovie(const std::string& path)
{
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), kFps, kFrame);
    if (!writer.isOpened()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    // Random grey blocks: one place in the frame matches, and no colour comes near magenta.
    cv::Mat small(kTarget / 5, kTarget / 5, CV_8UC1), texture;
    cv::RNG(7).fill(small, cv::RNG::UNIFORM, 20, 236);
    cv::resize(small, small, cv::Size(kTarget, kTarget), 0, 0, cv::INTER_NEAREST);
    cv::cvtColor(small, texture, cv::COLOR_GRAY2BGR);
    const cv::Mat still = background();
    for (int k = 0; k < kFrames; ++k) {
        cv::Mat frame = still.clone();
        texture.copyTo(frame(cv::Rect(targetTopLeft(k), texture.size())));
        writer.write(frame);
    }
    // What the script drags and when: rectangles in frame pixels, times in ms.
    const cv::Rect p = kPlateBox, t(targetTopLeft(0), cv::Size(kTarget, kTarget));
    std::printf("frame_w=%d frame_h=%d\nplate=(%d %d %d %d)\ntarget=(%d %d %d %d)\n", kFrame.width,
                kFrame.height, p.x, p.y, p.width, p.height, t.x, t.y, t.width, t.height);
    std::printf("rest_ms=%d loop_ms=%d\n", static_cast<int>(kLiftStart * 1000),
                static_cast<int>(kFrames / kFps * 1000));
    return 0;
}

// The centre of the trail in a row, from the brightness: the codecs keep colour at half
// resolution, so the magenta's edges fall on even columns, but the brightness keeps every
// column, and the line is much darker than the background beside it.
bool rowCentre(const uchar* magenta, const uchar* luma, int cols, double& centre)
{
    constexpr int kNear = 3, kFar = 8;
    int lo = cols, hi = -1;
    for (int x = 0; x < cols; ++x)
        if (magenta[x]) {
            lo = std::min(lo, x);
            hi = x;
        }
    // A single pixel can be the blurred edge of the line's end.
    if (hi - lo < 1 || hi - lo > 12 || lo - kFar < 0 || hi + kFar >= cols)
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

int checkRecording(const std::string& path)
{
    cv::VideoCapture capture(path);
    const cv::Mat plate = background()(kPlateBox);
    // Where the movie's picture lies in the scene recorded around it, which is only a few
    // pixels larger: the plate is searched for around its own place.
    const cv::Rect area(kPlateBox.tl() - cv::Point(16, 16), kPlateBox.size() + cv::Size(32, 32));
    double farthest = 0;
    int frames = 0, mostRows = 0;
    cv::Mat recorded, scores, hsv, luma, magenta, redLow, redHigh;
    for (; capture.read(recorded); ++frames) {
        double match = 0;
        cv::Point at;
        cv::matchTemplate(recorded(area), plate, scores, cv::TM_CCOEFF_NORMED);
        cv::minMaxLoc(scores, nullptr, &match, nullptr, &at);
        if (match < 0.9) {
            std::printf("FAIL: frame %d of %s does not show the movie's plate\n", frames,
                        path.c_str());
            return 1;
        }
        const cv::Point offset = at + area.tl() - kPlateBox.tl();
        cv::cvtColor(recorded, luma, cv::COLOR_BGR2GRAY);
        cv::cvtColor(recorded, hsv, cv::COLOR_BGR2HSV);
        // Magenta is hue 300 degrees (150 in OpenCV's half degrees). The red selection
        // rectangle and its blend with the trail lie at 330 to 360 and stay out, and so
        // do the faint colours the codecs ring around the green text.
        cv::inRange(hsv, cv::Scalar(140, 128, 140), cv::Scalar(160, 255, 255), magenta);
        cv::inRange(hsv, cv::Scalar(0, 150, 150), cv::Scalar(8, 255, 255), redLow);
        cv::inRange(hsv, cv::Scalar(172, 150, 150), cv::Scalar(180, 255, 255), redHigh);
        int rows = 0;
        for (int y = 0; y < recorded.rows; ++y) {
            // Where the selection rectangle crosses the row, the target lies under the
            // trail and the rectangle's edge covers it.
            double centre = 0;
            if (cv::countNonZero(redLow.row(y) | redHigh.row(y)) > 0 ||
                !rowCentre(magenta.ptr(y), luma.ptr(y), luma.cols, centre))
                continue;
            const double fy = y - offset.y + 0.5; // the row's middle in frame coordinates
            const double off = std::fabs(centre - offset.x - pathX(kRestY - fy));
            farthest = std::max(farthest, off);
            rows += fy > kRestY - kLift && fy < kRestY;
        }
        mostRows = std::max(mostRows, rows);
    }
    // The trail holds the last 50 centres, over 4 s at 12 fps: the frames after the
    // lift show all of it, save the rows the selection rectangle and the cross cover.
    const int wanted = static_cast<int>(0.75 * kLift);
    const bool pass = farthest <= kAllowed && mostRows >= wanted;
    std::printf("%s: in %d frames of %s the trail's centre lies up to %.2f px from the target's "
                "path (%.1f allowed), and one frame shows it in %d of the lift's %.0f rows (%d "
                "wanted)\n",
                pass ? "PASS" : "FAIL", frames, path.c_str(), farthest, kAllowed, mostRows, kLift,
                wanted);
    return pass ? 0 : 1;
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
