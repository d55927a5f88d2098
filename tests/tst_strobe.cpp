#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "strobe/strobe_compose.h"
#include "strobe/strobe_rules.h"
#include "strobe_oracle.h"
#include "support.h"

// The strobe movies: the composition against strobe_oracle.h, both types in the window.
class TstStrobe : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    void composition_data()
    {
        // S, E, step, N, threshold, broken frame, lost PNG, bases decoded again,
        // bytes of layers kept in memory (-1: the default; beyond, they go to a file).
        QTest::addColumn<QList<int>>("p");
        QTest::newRow("N 25, E = 40 missing") << QList<int>{0, 40, 1, 25, 20, -1, -1, 0, -1};
        QTest::newRow("N 0") << QList<int>{3, 13, 1, 0, 20, -1, -1, 0, -1};
        QTest::newRow("N = K") << QList<int>{0, 10, 1, 10, 20, -1, -1, 0, -1};
        QTest::newRow("K = N + 1 = 2, step 3") << QList<int>{0, 8, 3, 1, 20, -1, -1, 0, -1};
        QTest::newRow("N 3, step 2") << QList<int>{4, 24, 2, 3, 20, -1, -1, 0, -1};
        QTest::newRow("threshold 0") << QList<int>{0, 12, 1, 4, 0, -1, -1, 0, -1};
        QTest::newRow("threshold 765") << QList<int>{0, 12, 1, 4, 765, -1, -1, 0, -1};
        QTest::newRow("frame 20 broken") << QList<int>{0, 36, 3, 4, 20, 20, -1, 0, -1};
        QTest::newRow("sample 20 broken") << QList<int>{2, 38, 1, 4, 20, 20, -1, 0, -1};
        QTest::newRow("PNG 2 lost, bases again") << QList<int>{0, 39, 1, 5, 20, -1, 2, 1, -1};
        QTest::newRow("no layer in memory") << QList<int>{0, 30, 1, 8, 0, -1, -1, 0, 0};
        QTest::newRow("layers spill mid-movie") << QList<int>{0, 39, 1, 9, 20, -1, 3, 0, 12000};
        QTest::newRow("spill, step 3") << QList<int>{1, 39, 3, 6, 20, 22, -1, 1, 2000};
    }
    void composition()
    {
        QFETCH(QList<int>, p);
        const int S = p[0], E = p[1], step = p[2], N = p[3], thr = p[4];
        oracle::Movie movie;
        for (int i = 0; i < 40; ++i)
            movie.push_back(i == p[5] ? cv::Mat() : oracle::sceneFrame(i));
        auto source = [&movie](int, int i, cv::Mat& f) { return oracle::frameAt(movie, i, f); };
        for (bool typeB : {false, true}) {
            WorkDir wd;
            // A folder where the PNG file should go: it can be neither written nor read.
            const std::set<int> lost = typeB && p[6] >= 0 ? std::set<int>{p[6]} : std::set<int>{};
            QVERIFY(lost.empty() || QDir().mkpath(QString("temp/img_%1.png").arg(p[6])));
            StrobePlan plan{S, E, step, N, thr, p[7] ? 1 : StrobePlan().baseWindowBytes};
            if (p[8] >= 0)
                plan.layerBudgetBytes = static_cast<size_t>(p[8]);
            // Kept as handed over: a frame changed afterwards would differ.
            std::vector<cv::Mat> got;
            const StrobeFrameSink sink = [&got](const cv::Mat& f) { got.push_back(f); };
            const int count = (typeB ? composeStrobeTypeB : composeStrobeTypeA)(plan, source, sink);
            std::map<int, cv::Mat> images;
            const std::vector<cv::Mat> want =
                typeB ? oracle::typeB(movie, S, E, step, N, thr, images, lost)
                      : oracle::typeA(movie, S, E, step, N, thr);
            QVERIFY(count == static_cast<int>(got.size()) && got.size() == want.size());
            for (size_t i = 0; i < got.size(); ++i)
                QVERIFY(oracle::same(got[i], want[i]));
            if (!typeB && p[5] < 0 && E < 40)
                QCOMPARE(typeAFrameCount(strobeSampleSteps(E - S, step), N), count);
            for (const auto& [offset, image] : images)
                QVERIFY(lost.count(offset) ||
                        oracle::same(cv::imread(strobeImageName(offset)), image));
        }
    }

    void bothTypesThroughTheWindow()
    {
        if (!movieModesEnabled)
            QSKIP("the strobe movies come with movieModesEnabled only");
        WorkDir wd;
        installFakeRig([](int) { return solidFrame(320, 240); });
        QVERIFY(writeMjpgMovie("scene.avi", 60, cv::Size(64, 48), 25.0, oracle::sceneFrame));
        MainWindow w;
        w.strobeStepSpinBox_->selectAll();
        QTest::keyClicks(w.strobeStepSpinBox_, "2\r");
        // Frames 6 to 60 (one past the last) at step 2: K = 27, N = 25. Type A
        // stops before base 1, which needs frame 60; so would image 52.
        auto make = [&](const char* entry) {
            answerNextFileDialog(wd.path("scene.avi"));
            for (QAction* action : w.modeMenu_->actions())
                if (action->text().contains(QString("[Strobe %1]").arg(entry)))
                    action->trigger();
            w.tabWidget_->setCurrentIndex(int(Tab::Strobe));
            QTest::mouseClick(findButton(w, "Analysis"), Qt::LeftButton);
            for (int value : {100, 1000}) {
                w.animeSlider_->setValue(value);
                QTest::mouseClick(findButton(w, "Apply"), Qt::LeftButton);
            }
        };
        for (auto [entry, frames, fps, images] :
             {std::tuple{"TypeA", 25, 12.5, 0}, std::tuple{"TypeB", 54, 25.0, 25}}) {
            make(entry);
            const QString out = wd.path("output/" + wd.outputMovies().constLast());
            QCOMPARE(static_cast<int>(readAllFrames(out).size()), frames);
            QCOMPARE(cv::VideoCapture(out.toStdString()).get(cv::CAP_PROP_FPS), fps);
            QCOMPARE(QDir("temp").entryList(QDir::Files).size(), images);
        }
        // A full disk is said, as is a Type A movie with no frame (N 27 of 27
        // samples), which leaves no file.
        {
            FileSizeLimit limit(20000);
            make("TypeB");
        }
        QCOMPARE(w.promptLabel_->text(), QString("The movie file could not be written."));
        cancelProgressAt(3); // the frames made so far stay a movie
        make("TypeB");
        QVERIFY(w.promptLabel_->text().startsWith("The strobe movie was cancelled: the movie"));
        const auto kept = readAllFrames(wd.path("output/" + wd.outputMovies().constLast()));
        QVERIFY(kept.size() >= 3 && kept.size() < 54);
        w.strobeNumberSpinBox_->selectAll();
        QTest::keyClicks(w.strobeNumberSpinBox_, "27\r");
        const int movies = wd.outputMovies().size();
        make("TypeA");
        QVERIFY(w.promptLabel_->text().startsWith("Too few samples in the range"));
        QCOMPARE(wd.outputMovies().size(), movies);
    }
};

QTEST_MAIN(TstStrobe)
#include "tst_strobe.moc"
