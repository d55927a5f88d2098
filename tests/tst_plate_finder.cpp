#include <algorithm>
#include <cmath>

#include <opencv2/videoio.hpp>

#include "analysis/plate_finder.h"
#include "support.h"

Q_DECLARE_METATYPE(cv::Mat)

// The plate around the target as a movie shows it: a noisy wall, the bar
// through the plate's centre, a thin lighter ring 4 px inside the rim and a
// hub, a textured sleeve under the target, all through Motion JPEG.
namespace
{
struct Plate {
    int radius;   // vertical semi-axis before the tilt; 0 for none
    double ratio; // horizontal over vertical semi-axis
    cv::Scalar colour, wall;
    int noise = 20;
    cv::Point offset = {}; // of the plate's centre from the target's
    bool bar = true;
    double tilt = 0; // degrees
};

cv::Mat scene(const Plate& p, cv::Size size, cv::Point target, int side)
{
    cv::Mat f(size, CV_8UC3);
    cv::randu(f, p.wall - cv::Scalar::all(p.noise), p.wall + cv::Scalar::all(p.noise));
    cv::GaussianBlur(f, f, {5, 5}, 0);
    const cv::Point c = target + p.offset;
    const int barHalf = std::max(4, p.radius / 8);
    if (p.bar)
        cv::rectangle(f, {0, c.y - barHalf}, {size.width - 1, c.y + barHalf}, cv::Scalar::all(90),
                      cv::FILLED);
    if (p.radius > 0) {
        const cv::Size axes(int(std::lround(p.radius * p.ratio)), p.radius);
        const double contrast = std::abs(cv::mean(p.wall)[0] - cv::mean(p.colour)[0]);
        const cv::Scalar ring = p.colour + cv::Scalar::all(std::max(15.0, 0.4 * contrast));
        cv::ellipse(f, c, axes, p.tilt, 0, 360, p.colour, cv::FILLED, cv::LINE_AA);
        cv::ellipse(f, c, axes - cv::Size(4, 4), p.tilt, 0, 360, ring, 2, cv::LINE_AA);
        cv::ellipse(f, c, axes / 3, p.tilt, 0, 360, ring, cv::FILLED, cv::LINE_AA);
    }
    cv::Mat sleeve = f(cv::Rect(target.x - side / 2, target.y - side / 2, side, side));
    cv::randu(sleeve, cv::Scalar::all(0), cv::Scalar::all(255));
    return f;
}

cv::Mat throughMovie(const cv::Mat& frame)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("plate.avi").toStdString();
    cv::Mat back;
    if (writeMjpgMovie(path, 1, frame.size(), 25.0, [&](int) { return frame; }))
        cv::VideoCapture(path).read(back);
    return back;
}
} // namespace

class TstPlateFinder : public QObject
{
    Q_OBJECT
private slots:
    // The height expected (0: no plate) within 2 %.
    void plateHeight_data()
    {
        QTest::addColumn<cv::Mat>("frame");
        QTest::addColumn<QPointF>("target");
        QTest::addColumn<QSizeF>("targetSize");
        QTest::addColumn<double>("height");
        const auto row = [](const QByteArray& name, const cv::Mat& frame, cv::Point2f target,
                            double height, QSizeF size = {24, 24}) {
            QTest::newRow(name.constData())
                << frame << QPointF(target.x, target.y) << size << height;
        };
        const cv::Size vga(640, 480);
        const cv::Point mid(320, 240);
        const cv::Scalar dark(40, 30, 30), light = cv::Scalar::all(175);
        const struct {
            const char* name;
            cv::Scalar colour, wall;
        } contrasts[] = {{"dark on light", dark, light},
                         {"light on dark", cv::Scalar::all(210), cv::Scalar::all(60)},
                         {"27 levels on noise", cv::Scalar::all(148), light},
                         {"red on green of its grey", cv::Scalar(60, 60, 190), {60, 140, 40}}};
        for (int r : {30, 60, 190})
            for (double ratio : {1.0, 0.7, 0.6})
                for (const auto& c : contrasts)
                    if (r * ratio >= 21) // else the rim would be inside the sleeve
                        QTest::addRow("r %d, %.1f wide, %s", r, ratio, c.name)
                            << scene({r, ratio, c.colour, c.wall}, vga, mid, 24)
                            << QPointF(320, 240) << QSizeF(24, 24) << 2.0 * r + 1;
        row("top outside the frame", scene({220, 0.8, dark, light}, vga, {320, 200}, 24),
            cv::Point(320, 200), 441);
        row("centre 4 px right, 3 px up", scene({70, 0.7, dark, light, 20, {4, -3}}, vga, mid, 24),
            mid, 141);
        // Its height is not its long axis.
        row("tilted 25 degrees", scene({60, 0.6, dark, light, 20, {}, true, 25}, vga, mid, 24), mid,
            2 * std::hypot(36 * std::sin(25 * M_PI / 180), 60 * std::cos(25 * M_PI / 180)) + 1);
        row("1920 x 1080, r 400",
            scene({400, 0.7, cv::Scalar::all(148), light}, {1920, 1080}, {900, 560}, 48),
            cv::Point(900, 560), 801, {48, 48});
        row("no plate: textured wall", scene({0, 1, {}, light, 40, {}, false}, vga, mid, 24), mid,
            0);
        row("no plate: flat wall", scene({0, 1, {}, light, 0, {}, false}, vga, mid, 24), mid, 0);
        row("no plate: the bar only", scene({0, 1, {}, light}, vga, mid, 24), mid, 0);
        // Nothing to look at, or nothing to look with.
        const cv::Mat plate = scene({60, 1, dark, light}, vga, mid, 24);
        row("an empty frame", cv::Mat(), mid, 0);
        row("a target left of the frame", plate, {-1, 240}, 0);
        row("a target below it", plate, {320, 480}, 0);
        row("a target not a number", plate, {NAN, 240}, 0);
        row("a target of infinite size", plate, mid, 0, {INFINITY, 24});
        row("a target hiding any plate", plate, mid, 0, {400, 400});
        row("a frame of floats", cv::Mat(vga, CV_32FC3, cv::Scalar::all(0.5)), mid, 0);
        row("a frame of 5 x 5", plate(cv::Rect(318, 238, 5, 5)), {2, 2}, 0, {0, 0});
    }
    void plateHeight()
    {
        QFETCH(cv::Mat, frame);
        QFETCH(QPointF, target);
        QFETCH(QSizeF, targetSize);
        QFETCH(double, height);
        // Through a movie, as a user's frames come, where a movie can hold them.
        const cv::Mat decoded =
            frame.type() == CV_8UC3 && frame.cols > 100 ? throughMovie(frame) : frame;
        PlateFit fit;
        fit.heightPx = -1;
        const bool found =
            findPlate(decoded, cv::Point2f(float(target.x()), float(target.y())),
                      cv::Size2f(float(targetSize.width()), float(targetSize.height())), fit);
        QCOMPARE(found, height > 0);
        if (found)
            QVERIFY2(std::abs(fit.heightPx - height) <= 0.02 * height,
                     qPrintable(QString("%1 px for %2").arg(fit.heightPx).arg(height)));
        else
            QCOMPARE(fit.heightPx, -1.0f); // left alone
    }
};

QTEST_MAIN(TstPlateFinder)
#include "tst_plate_finder.moc"
