// The movie of the end-to-end test (program_under_xvfb.sh) and its check. "write <movie.avi>"
// writes it and prints where the plate and target are; "check <recording.avi>" checks the
// centres in the CSV beside a recording of it, and the magenta trail drawn through them.
// A still 45 cm plate, and a textured target that rests, is lifted and lowered, and rests
// again; its x depends on its height alone, so its path is one curve x(y).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace
{

const cv::Size kFrame(640, 480);
constexpr double kFps = 24, kLiftStart = 4, kLiftEnd = 6.5; // s; at rest before, to be selected
constexpr int kFrames = 192;                                // 8 s, played again by --loop
constexpr double kRestX = 400, kRestY = 400, kLift = 220, kSway = 6; // px
constexpr int kTarget = 40;                                          // side of the square target
const cv::Rect kPlateBox(25, 220, 200, 200);                         // 200 px high: 45 cm
constexpr double kAllowed = 2.0; // px between a centre and the path
constexpr double kDrawn = 1.5;   // px between the line seen in a row and the one drawn there
// How long the frames after a segment of the trail must show it, in s: its 50 centres reach
// back 4 s, but the program starts it anew as the movie starts again, 1.75 s after the last
// segment above the resting target.
constexpr double kShown = 1.5;

double pathX(double height)
{
    return kRestX + kSway * std::sin(CV_PI * std::clamp(height, 0.0, kLift) / kLift);
}

// The centre rounded to whole pixels, so the drawn centre is at most half a pixel off the path.
cv::Point targetTopLeft(int frame)
{
    const double phase = (frame / kFps - kLiftStart) / (kLiftEnd - kLiftStart);
    const double h = phase > 0 && phase < 1 ? kLift * (1 - std::cos(2 * CV_PI * phase)) / 2 : 0;
    return cv::Point(static_cast<int>(std::lround(pathX(h) - kTarget / 2.0)),
                     static_cast<int>(std::lround(kRestY - h - kTarget / 2.0)));
}

cv::Mat background()
{
    cv::Mat image(kFrame, CV_8UC3);
    for (int y = 0; y < kFrame.height; ++y)
        image.row(y).setTo(cv::Scalar::all(235 - 45 * y / kFrame.height));
    const cv::Point centre = (kPlateBox.tl() + kPlateBox.br()) / 2;
    cv::circle(image, centre, kPlateBox.height / 2, cv::Scalar::all(55), cv::FILLED, cv::LINE_AA);
    cv::circle(image, centre, 22, cv::Scalar::all(205), cv::FILLED, cv::LINE_AA);
    return image;
}

int writeMovie(const std::string& path)
{
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), kFps, kFrame);
    // Random grey blocks: one place in the frame matches, and no colour comes near magenta.
    cv::Mat small(kTarget / 5, kTarget / 5, CV_8UC1), texture;
    cv::RNG(7).fill(small, cv::RNG::UNIFORM, 20, 236);
    cv::resize(small, small, cv::Size(kTarget, kTarget), 0, 0, cv::INTER_NEAREST);
    cv::cvtColor(small, texture, cv::COLOR_GRAY2BGR);
    for (int k = 0; k < kFrames && writer.isOpened(); ++k) {
        cv::Mat frame = background();
        texture.copyTo(frame(cv::Rect(targetTopLeft(k), texture.size())));
        writer.write(frame);
    }
    const cv::Rect p = kPlateBox, t(targetTopLeft(0), cv::Size(kTarget, kTarget));
    std::printf("frame_w=%d frame_h=%d\nplate=(%d %d %d %d)\ntarget=(%d %d %d %d)\n", kFrame.width,
                kFrame.height, p.x, p.y, p.width, p.height, t.x, t.y, t.width, t.height);
    std::printf("rest_ms=%d loop_ms=%d\n", static_cast<int>(kLiftStart * 1000),
                static_cast<int>(kFrames / kFps * 1000));
    return writer.isOpened() ? 0 : 1;
}

int checkRecording(const std::string& path)
{
    bool pass = true;
    const auto check = [&pass](bool ok, const std::string& what) {
        std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
        pass = pass && ok;
    };
    // One row per recorded tick; the live trail joins the centres of the rows that have one.
    const std::string name = path.substr(0, path.rfind('.')) + ".csv";
    std::ifstream csv(name);
    std::string line;
    std::getline(csv, line);
    check(line == "frame,time_s,x_px,y_px,height_cm,velocity_cm_s,smoothed_velocity_cm_s\r",
          name + " begins with the trace's header");
    // Each row a segment of the trail crosses: the column it crosses at, the row, and when.
    std::vector<cv::Point3d> drawn;
    std::vector<double> times;
    int centres = 0;
    bool numbered = true;
    double farthest = 0, lowest = kLift, highest = 0;
    for (cv::Point2d a, b; std::getline(csv, line);) {
        int frame = -1;
        double t = 0;
        const int read = std::sscanf(line.c_str(), "%d,%lf,%lf,%lf", &frame, &t, &b.x, &b.y);
        numbered = numbered && frame == static_cast<int>(times.size());
        times.push_back(t);
        if (read != 4)
            continue;
        const double h = kRestY - b.y;
        farthest = std::max({farthest, std::fabs(b.x - pathX(h)), -h, h - kLift});
        lowest = std::min(lowest, h);
        highest = std::max(highest, h);
        // The rows down to the resting target's rectangle, whose edge crosses the trail there.
        if (centres++ > 0)
            for (int y = static_cast<int>(std::ceil(std::min(a.y, b.y) - 0.5));
                 y + 0.5 < std::max(a.y, b.y) && y + 0.5 < kRestY - kTarget; ++y)
                drawn.emplace_back(a.x + (b.x - a.x) * (y + 0.5 - a.y) / (b.y - a.y), y, t);
        a = b;
    }

    cv::VideoCapture capture(path);
    const cv::Mat plate = background()(kPlateBox);
    // The scene recorded around the movie's picture is a few pixels larger; where the
    // picture lies in it, the plate shows, searched for around its own place.
    const cv::Rect area(kPlateBox.tl() - cv::Point(16, 16), kPlateBox.size() + cv::Size(32, 32));
    int frames = 0, expected = 0, shown = 0;
    double worstPlate = 1;
    cv::Mat recorded, scores, magenta;
    for (; capture.read(recorded); ++frames) {
        double match = 0;
        cv::Point at;
        cv::matchTemplate(recorded(area), plate, scores, cv::TM_CCOEFF_NORMED);
        cv::minMaxLoc(scores, nullptr, &match, nullptr, &at);
        worstPlate = std::min(worstPlate, match);
        const cv::Point offset = at + area.tl() - kPlateBox.tl();
        // Strong blue and red without green: no grey, nor the red rectangle or green text.
        cv::inRange(recorded, cv::Scalar(140, 0, 140), cv::Scalar(255, 100, 255), magenta);
        const double now = frames < static_cast<int>(times.size()) ? times[frames] : -1;
        for (const cv::Point3d& d : drawn) {
            if (d.z > now || d.z <= now - kShown)
                continue;
            // The middle of the magenta within 6 px of where the line was drawn. The codecs
            // keep colour at half resolution, so its edges move to even columns, up to a pixel.
            ++expected;
            const cv::Rect window(offset +
                                      cv::Point(static_cast<int>(d.x) - 6, static_cast<int>(d.y)),
                                  cv::Size(13, 1));
            const cv::Moments m = cv::moments(magenta(window & cv::Rect({}, magenta.size())), true);
            shown +=
                m.m00 >= 2 && std::fabs(window.x + m.m10 / m.m00 + 0.5 - offset.x - d.x) <= kDrawn;
        }
    }
    const int rows = static_cast<int>(times.size());
    check(numbered && rows == frames,
          cv::format("its rows number the %d frames (%d)", frames, rows));
    check(worstPlate >= 0.9, cv::format("every frame shows the plate (worst %.2f)", worstPlate));
    check(farthest <= kAllowed,
          cv::format("its %d centres lie within 2 px of the path (%.2f)", centres, farthest));
    // Any 8 s of the movie hold the rest and the top of a lift.
    check(highest - lowest >= 0.75 * kLift,
          cv::format("they span 75 %% of the %.0f px lift (%.0f)", kLift, highest - lowest));
    check(expected > 0 && shown >= 0.75 * expected,
          cv::format("the frames show 75 %% of the trail of the 1.5 s before each (%d of %d)",
                     shown, expected));
    return pass ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc == 3 ? argv[1] : "";
    if (command == "write" || command == "check")
        return command == "write" ? writeMovie(argv[2]) : checkRecording(argv[2]);
    std::fprintf(stderr, "usage: %s write <movie.avi> | check <recording.avi>\n", argv[0]);
    return 2;
}
