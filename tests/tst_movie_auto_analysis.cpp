#include <QAction>
#include <QDir>
#include <QFile>
#include <QGraphicsLineItem>
#include <QLabel>
#include <QPen>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/videoio.hpp>

#include "analysis/auto_analysis.h"
#include "analysis/frame_mapping.h"
#include "app/mainwindow.h"
#include "app/mygraphicsview.h"
#include "movie_test_support.h"
#include "test_support.h"

using namespace movietest;

namespace
{

const cv::Size kSize(320, 240);

QList<QGraphicsLineItem*> lineItems(QGraphicsScene& scene)
{
    QList<QGraphicsLineItem*> lines;
    for (QGraphicsItem* item : scene.items())
        if (auto* line = qgraphicsitem_cast<QGraphicsLineItem*>(item))
            lines.append(line);
    return lines;
}

struct ReadBack {
    bool opened = false;
    int frames = 0;
    double fps = 0.0;
    cv::Size size;
    std::vector<cv::Mat> images;
};

ReadBack readBack(const QString& file)
{
    ReadBack r;
    cv::VideoCapture capture(file.toStdString());
    r.opened = capture.isOpened();
    if (!r.opened)
        return r;
    r.fps = capture.get(cv::CAP_PROP_FPS);
    cv::Mat frame;
    while (capture.read(frame)) {
        r.size = frame.size();
        r.images.push_back(frame.clone());
    }
    r.frames = static_cast<int>(r.images.size());
    return r;
}

bool isCyan(const cv::Vec3b& px)
{
    // Compression blurs the colour of a thin line; cyan stays far bluer and
    // greener than red, which neither the background nor the target is.
    return px[0] > 170 && px[1] > 170 && px[0] - px[2] > 80 && px[1] - px[2] > 80;
}

// Midpoints of the segments between consecutive points, where the burned
// line must be, whatever the 8-connected rasterisation does at the ends.
std::vector<cv::Point> segmentMidpoints(const std::deque<float>& xs, const std::deque<float>& ys,
                                        size_t count)
{
    std::vector<cv::Point> mids;
    for (size_t i = 0; i + 1 < count; ++i) {
        const cv::Point a(static_cast<int>(xs[i]), static_cast<int>(ys[i]));
        const cv::Point b(static_cast<int>(xs[i + 1]), static_cast<int>(ys[i + 1]));
        mids.push_back((a + b) / 2);
    }
    return mids;
}

} // namespace

class TestMovieAutoAnalysis : public QObject
{
    Q_OBJECT

    std::unique_ptr<MovieWorkDir> work_;

    QString makeMovie(const QString& name, int frames, bool mpeg4, cv::Size size = kSize)
    {
        return work_->movie(name, frames, size, mpeg4);
    }

    // Opens `file` on the Movie Auto tab through the menu and the dialog.
    static void openMovie(MainWindow& w, const QString& file)
    {
        answerNextFileDialog(file);
        w.movieAutoAction_->trigger();
        w.tabWidget_->setCurrentIndex(1);
    }

    static void apply(MainWindow& w) { QTest::mouseClick(button(w, "Apply"), Qt::LeftButton); }

    static int sliderFor(int frame, int frames)
    {
        // The smallest slider value that maps to `frame`.
        for (int v = 0; v <= 1000; ++v)
            if (frameFromSlider(v, frames, 1000) == frame)
                return v;
        return -1;
    }

    // The whole road: Analysis, start and end with the slider, drag the
    // target in the start frame, Apply twice.
    static void runWorkflow(MainWindow& w, int start, int end, int frames)
    {
        QTest::mouseClick(button(w, "Analysis"), Qt::LeftButton);
        w.animeSlider_->setValue(sliderFor(start, frames));
        apply(w);
        w.animeSlider_->setValue(sliderFor(end, frames));
        apply(w);
        QCOMPARE(w.step_, 2);
        QCOMPARE(w.promptLabel_->text(),
                 QString("Please set target area by drag and press [Apply]:"));
        const cv::Point tl = fixtures::targetTopLeft(start, kSize);
        const cv::Size ts = fixtures::targetSize(kSize);
        dragOnView(w.autoView_, viewPointFor(w, tl.x, tl.y),
                   viewPointFor(w, tl.x + ts.width, tl.y + ts.height));
        QCOMPARE(w.templateMat.cols, ts.width);
        QCOMPARE(w.templateMat.rows, ts.height);
        apply(w);
        QCOMPARE(w.promptLabel_->text(), QString("Please press apply to strat:"));
        apply(w);
    }

private slots:
    void init()
    {
        work_ = std::make_unique<MovieWorkDir>();
        QVERIFY(work_->isValid());
        installFakeRig([](int) { return solidFrame(640, 480); });
    }

    void cleanup()
    {
        work_.reset();
        resetEnvironment();
    }

    void trackedPathFollowsTheTarget_data()
    {
        QTest::addColumn<bool>("mpeg4");
        QTest::newRow("mjpg") << false;
        QTest::newRow("mpeg4") << true;
    }

    void trackedPathFollowsTheTarget()
    {
        QFETCH(bool, mpeg4);
        if (mpeg4)
            MOVIETEST_REQUIRE_FFMPEG();
        const int frames = 60;
        const QString file = makeMovie("lift.avi", frames, mpeg4);
        QVERIFY(!file.isEmpty());
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        openMovie(w, file);
        QCOMPARE(w.movie_frame_num, frames);

        const int start = 10;
        const int end = 40;
        // The slider comes back to a value that maps to frame 9; the target
        // must still be cut from frame 10.
        QCOMPARE(sliderForStartFrame(start, frames, 1000), 166);
        QCOMPARE(frameFromSlider(166, frames, 1000), 9);
        runWorkflow(w, start, end, frames);

        QCOMPARE(w.analysis_start_frame, start);
        QCOMPARE(w.analysis_end_frame, end);
        QCOMPARE(w.step_, 4);
        QCOMPARE(w.promptLabel_->text(), QString("Please press apply to strat:"));
        const int n = end - start;
        QCOMPARE(static_cast<int>(w.barX_.size()), n);
        QCOMPARE(static_cast<int>(w.barY_.size()), n);
        QCOMPARE(w.trailMax_, n);
        for (int i = 0; i < n; ++i) {
            const cv::Point2f known = fixtures::targetCentre(start + i, kSize);
            QVERIFY2(std::abs(w.barX_[i] - known.x) <= 1.0f &&
                         std::abs(w.barY_[i] - known.y) <= 1.0f,
                     qPrintable(QString("frame %1: (%2, %3) against (%4, %5)")
                                    .arg(start + i)
                                    .arg(w.barX_[i])
                                    .arg(w.barY_[i])
                                    .arg(known.x)
                                    .arg(known.y)));
        }

        // The scene: the last analysed frame without the burned path, and the
        // path as cyan lines over it.
        QCOMPARE(shownFrame(w), end - 1);
        QVERIFY(w.framePixmapItem_->scene() == &w.autoScene_);
        const QList<QGraphicsLineItem*> lines = lineItems(w.autoScene_);
        QCOMPARE(lines.size(), n - 1);
        for (QGraphicsLineItem* line : lines) {
            QCOMPARE(line->pen().color(), QColor(Qt::cyan));
            QCOMPARE(line->pen().widthF(), 1.0);
            QVERIFY(line->pen().isCosmetic());
            QVERIFY(line->zValue() >= w.framePixmapItem_->zValue());
        }
        const QImage picture = w.framePixmapItem_->pixmap().toImage();
        for (const cv::Point& mid : segmentMidpoints(w.barX_, w.barY_, n)) {
            const QColor c = picture.pixelColor(mid.x, mid.y);
            QVERIFY(!(c.blue() > 190 && c.green() > 190 && c.red() < 80));
        }
        // The last frame in currentFrameMat carries the burned-in path.
        QCOMPARE(fixtures::frameMark(w.currentFrameMat), end - 1);

        // The analysed movie: one frame per analysed frame at 30 fps, each
        // carrying the path up to its own frame.
        const QStringList movies = outputMovies();
        QCOMPARE(movies.size(), 1);
        const ReadBack movie = readBack("output/" + movies.first());
        QVERIFY(movie.opened);
        QCOMPARE(movie.frames, n);
        QCOMPARE(movie.fps, 30.0);
        QCOMPARE(movie.size, kSize);
        const std::vector<cv::Point> mids = segmentMidpoints(w.barX_, w.barY_, n);
        for (int i = 0; i < n; ++i) {
            QCOMPARE(fixtures::frameMark(movie.images[i]), start + i);
            for (int j = 0; j < n - 1; ++j) {
                const bool drawn = isCyan(movie.images[i].at<cv::Vec3b>(mids[j]));
                if (j < i)
                    QVERIFY2(drawn,
                             qPrintable(QString("frame %1 misses segment %2").arg(i).arg(j)));
            }
        }
        QVERIFY(!isCyan(movie.images[0].at<cv::Vec3b>(mids[0])));

        // A further Apply in the final step changes nothing.
        apply(w);
        QCOMPARE(outputMovies().size(), 1);
        QCOMPARE(lineItems(w.autoScene_).size(), n - 1);
    }

    void oneFrameAndEmptyRanges()
    {
        const QString file = makeMovie("short.avi", 20, false);
        MainWindow w;
        openMovie(w, file);
        const cv::Point tl = fixtures::targetTopLeft(5, kSize);
        w.templateMat =
            fixtures::syntheticFrame(5, kSize)(cv::Rect(tl, fixtures::targetSize(kSize))).clone();

        // One frame: one point, no line anywhere, a movie of one frame.
        w.analysis_start_frame = 5;
        w.analysis_end_frame = 6;
        w.step_ = 3;
        apply(w);
        QCOMPARE(w.step_, 4);
        QCOMPARE(static_cast<int>(w.barX_.size()), 1);
        QCOMPARE(w.trailMax_, 1);
        QVERIFY(lineItems(w.autoScene_).isEmpty());
        QCOMPARE(shownFrame(w), 5);
        QStringList movies = outputMovies();
        QCOMPARE(movies.size(), 1);
        ReadBack movie = readBack("output/" + movies.first());
        QCOMPARE(movie.frames, 1);
        QCOMPARE(movie.fps, 30.0);
        const cv::Mat source = fixtures::syntheticFrame(5, kSize);
        int cyan = 0;
        for (int y = 0; y < kSize.height; ++y)
            for (int x = 0; x < kSize.width; ++x)
                cyan += isCyan(movie.images[0].at<cv::Vec3b>(y, x)) ? 1 : 0;
        QCOMPARE(cyan, 0);
        QVERIFY(cv::norm(movie.images[0], source, cv::NORM_L1) / source.total() < 6.0);
        QFile::remove("output/" + movies.first());

        // Empty range: a movie without frames, no path, the picture stays.
        const QGraphicsPixmapItem* picture = w.framePixmapItem_;
        w.analysis_start_frame = 12;
        w.analysis_end_frame = 12;
        w.trailMax_ = 50;
        w.step_ = 3;
        apply(w);
        QCOMPARE(w.step_, 4);
        QVERIFY(w.barX_.empty());
        QVERIFY(w.barY_.empty());
        QCOMPARE(w.trailMax_, 50);
        QCOMPARE(w.framePixmapItem_, picture);
        QVERIFY(lineItems(w.autoScene_).isEmpty());
        movies = outputMovies();
        QCOMPARE(movies.size(), 1);
        movie = readBack("output/" + movies.first());
        QCOMPARE(movie.frames, 0);
    }

    void wideTemplateKeepsThePreviousPoint()
    {
        const QString file = makeMovie("wide.avi", 12, false);
        MainWindow w;
        openMovie(w, file);
        // 120 of 320 columns: wider than a third, so only the first frame,
        // searched as a whole, can be matched.
        const cv::Rect band(100, 100, 120, 40);
        QVERIFY(band.contains(fixtures::targetTopLeft(0, kSize)));
        w.templateMat = fixtures::syntheticFrame(0, kSize)(band).clone();
        w.analysis_start_frame = 0;
        w.analysis_end_frame = 12;
        w.step_ = 3;
        apply(w);
        QCOMPARE(static_cast<int>(w.barX_.size()), 12);
        QCOMPARE(w.barX_[0], 160.0f);
        QCOMPARE(w.barY_[0], 120.0f);
        for (size_t i = 1; i < w.barX_.size(); ++i) {
            QCOMPARE(w.barX_[i], w.barX_[0]);
            QCOMPARE(w.barY_[i], w.barY_[0]);
        }
        QCOMPARE(shownFrame(w), 11);
        const ReadBack movie = readBack("output/" + outputMovies().value(0));
        QCOMPARE(movie.frames, 12);
    }

    void trackingGoesOnWhenTheMovieCannotBeWritten()
    {
        const QString file = makeMovie("nowriter.avi", 8, false);
        MainWindow w;
        openMovie(w, file);
        // No output directory: the writer does not open.
        QVERIFY(QDir("output").removeRecursively());
        const cv::Point tl = fixtures::targetTopLeft(0, kSize);
        w.templateMat =
            fixtures::syntheticFrame(0, kSize)(cv::Rect(tl, fixtures::targetSize(kSize))).clone();
        w.analysis_start_frame = 0;
        w.analysis_end_frame = 8;
        w.step_ = 3;
        apply(w);
        QCOMPARE(w.step_, 4);
        QCOMPARE(static_cast<int>(w.barX_.size()), 8);
        QVERIFY(std::abs(w.barX_[7] - fixtures::targetCentre(7, kSize).x) <= 1.0f);
        QCOMPARE(lineItems(w.autoScene_).size(), 7);
        QCOMPARE(shownFrame(w), 7);
        QVERIFY(!QDir("output").exists());
    }

    void refusesWithoutTargetOrMovie()
    {
        MainWindow w;
        w.tabWidget_->setCurrentIndex(1);
        w.step_ = 3;
        w.templateMat = cv::Mat(10, 10, CV_8UC3, cv::Scalar::all(50));
        apply(w);
        QCOMPARE(w.step_, 3);
        QCOMPARE(w.promptLabel_->text(),
                 QString("No movie is open: please open a movie file first."));
        QVERIFY(outputMovies().isEmpty());

        const QString file = makeMovie("target.avi", 10, false);
        openMovie(w, file);
        w.barX_ = {1.0f, 2.0f};
        w.barY_ = {1.0f, 2.0f};
        QTest::mouseClick(button(w, "Analysis"), Qt::LeftButton);
        QVERIFY(w.templateMat.empty());
        w.step_ = 3;
        apply(w);
        QCOMPARE(w.step_, 3);
        QCOMPARE(w.promptLabel_->text(),
                 QString("No target area yet: please drag target area and press [Apply]:"));
        QVERIFY(outputMovies().isEmpty());
        QCOMPARE(static_cast<int>(w.barX_.size()), 2);

        // A target from a larger picture (the live camera) does not fit.
        w.templateMat = cv::Mat(300, 400, CV_8UC3, cv::Scalar::all(50));
        apply(w);
        QCOMPARE(w.step_, 3);
        QVERIFY(w.promptLabel_->text().startsWith("Target area does not fit the movie"));
        QVERIFY(outputMovies().isEmpty());

        // With a target the same press runs the analysis.
        const cv::Point tl = fixtures::targetTopLeft(0, kSize);
        w.templateMat =
            fixtures::syntheticFrame(0, kSize)(cv::Rect(tl, fixtures::targetSize(kSize))).clone();
        w.analysis_start_frame = 0;
        w.analysis_end_frame = 10;
        apply(w);
        QCOMPARE(w.step_, 4);
        QCOMPARE(static_cast<int>(w.barX_.size()), 10);
        QCOMPARE(outputMovies().size(), 1);
    }

    void undecodableFrameStopsCleanly_data()
    {
        QTest::addColumn<bool>("mpeg4");
        QTest::newRow("mjpg") << false;
        QTest::newRow("mpeg4") << true;
    }

    void undecodableFrameStopsCleanly()
    {
        QFETCH(bool, mpeg4);
        if (mpeg4)
            MOVIETEST_REQUIRE_FFMPEG();
        // The header promises 40 frames, the file stops part way.
        const QString whole = makeMovie("whole.avi", 40, mpeg4);
        QVERIFY(!whole.isEmpty());
        const QString cut = work_->path("cut.avi");
        QVERIFY(QFile::copy(whole, cut));
        QFile f(cut);
        QVERIFY(f.resize(f.size() * 6 / 10));

        MainWindow w;
        openMovie(w, cut);
        QCOMPARE(w.movie_frame_num, 40);
        const cv::Point tl = fixtures::targetTopLeft(2, kSize);
        w.templateMat =
            fixtures::syntheticFrame(2, kSize)(cv::Rect(tl, fixtures::targetSize(kSize))).clone();
        w.analysis_start_frame = 2;
        w.analysis_end_frame = 40;
        w.step_ = 3;
        apply(w);

        const int analysed = static_cast<int>(w.barX_.size());
        QVERIFY(analysed > 5);
        QVERIFY(analysed < 38);
        QCOMPARE(w.trailMax_, analysed);
        QCOMPARE(
            w.promptLabel_->text(),
            QString("Frame %1 cannot be decoded: the analysis stopped there.").arg(2 + analysed));
        // The movie holds every analysed frame and plays to its end. The
        // last frame before the cut may come out of the decoder half
        // concealed from its predecessor, so its mark is read from the movie.
        const ReadBack movie = readBack("output/" + outputMovies().value(0));
        QVERIFY(movie.opened);
        QCOMPARE(movie.frames, analysed);
        for (int i = 0; i + 1 < analysed; ++i)
            QCOMPARE(fixtures::frameMark(movie.images[i]), 2 + i);
        // The picture is the last frame that was analysed, with its path.
        QCOMPARE(shownFrame(w), fixtures::frameMark(movie.images.back()));
        QVERIFY(shownFrame(w) >= analysed);
        QCOMPARE(lineItems(w.autoScene_).size(), analysed - 1);
        cv::VideoCapture check(("output/" + outputMovies().value(0)).toStdString());
        QCOMPARE(static_cast<int>(check.get(cv::CAP_PROP_FRAME_COUNT)), analysed);
    }

    void returnToStartShowsTheStartFrame_data()
    {
        QTest::addColumn<bool>("mpeg4");
        QTest::newRow("mjpg") << false;
        QTest::newRow("mpeg4") << true;
    }

    void returnToStartShowsTheStartFrame()
    {
        QFETCH(bool, mpeg4);
        if (mpeg4)
            MOVIETEST_REQUIRE_FFMPEG();
        const QString file = makeMovie("m301.avi", 301, mpeg4, cv::Size(160, 120));
        QVERIFY(!file.isEmpty());
        MainWindow w;
        openMovie(w, file);
        QTest::mouseClick(button(w, "Analysis"), Qt::LeftButton);
        w.animeSlider_->setValue(500);
        apply(w);
        QCOMPARE(w.analysis_start_frame, 150);
        w.animeSlider_->setValue(900);
        apply(w);
        QCOMPARE(w.analysis_end_frame, 270);
        QCOMPARE(w.animeSlider_->value(), 498);
        QCOMPARE(frameFromSlider(498, 301, 1000), 149);
        QCOMPARE(shownFrame(w), 150);
        QCOMPARE(fixtures::frameMark(w.currentFrameMat), 150);

        // The slider already at the computed value (an end chosen before the
        // start): no signal, and still the start frame is shown.
        w.step_ = 0;
        w.animeSlider_->setValue(500);
        apply(w);
        w.animeSlider_->setValue(498);
        QCOMPARE(shownFrame(w), 149);
        apply(w);
        QCOMPARE(w.analysis_end_frame, 149);
        QCOMPARE(w.animeSlider_->value(), 498);
        QCOMPARE(shownFrame(w), 150);
        QCOMPARE(fixtures::frameMark(w.currentFrameMat), 150);
    }
};

QTEST_MAIN(TestMovieAutoAnalysis)
#include "tst_movie_auto_analysis.moc"
