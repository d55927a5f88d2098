#include <cmath>

#include <QtTest>

#include "video/live_tracking.h"

class TestLiveTracking : public QObject
{
    Q_OBJECT
private slots:
    void timeGridAtTwelveFramesPerSecond()
    {
        // Due at 0, 83.3, 166.7 ms after the origin.
        QVERIFY(frameDue(1000.0, 1000.0f, 0, 12.0f));
        QVERIFY(!frameDue(1080.0, 1000.0f, 1, 12.0f));
        QVERIFY(frameDue(1083.4, 1000.0f, 1, 12.0f));
        QVERIFY(!frameDue(1166.6, 1000.0f, 2, 12.0f));
        QVERIFY(frameDue(1166.7, 1000.0f, 2, 12.0f));
        QCOMPARE(std::round(frameDelayMs(1100.0, 1000.0f, 1, 12.0f)), 17.0f);

        QCOMPARE(timeLabelText(3250.0, 1000.0f, 50.0f, 12.0f), std::string("2.25[s]"));
        // Exactly one period late is not yet late.
        QCOMPARE(timeLabelText(3250.0, 1000.0f, 1000.0f / 12.0f, 12.0f), std::string("2.25[s]"));
        QCOMPARE(timeLabelText(3250.0, 1000.0f, 420.4f, 12.0f),
                 std::string("2.25[s] delay:420[ms]"));
    }

    void searchWindowAroundTheLastCentre()
    {
        std::deque<float> xs{300.0f, 20.0f};
        std::deque<float> ys{300.0f, 470.0f};
        const SearchWindow win = searchWindow(xs, ys, 40, 40, 640, 480);
        QCOMPARE(win.x, 0.0);
        QCOMPARE(win.y, 360.0);
        QCOMPARE(win.w, 120.0);
        QCOMPARE(win.h, 120.0);
        QVERIFY(windowFits(win, 640, 480, 40, 40));

        // An empty path searches the whole frame.
        const SearchWindow whole = searchWindow({}, {}, 40, 40, 640, 480);
        QCOMPARE(windowRect(whole), cv::Rect(0, 0, 640, 480));

        // Wider than a third of the frame: nothing is searched.
        QVERIFY(!windowFits(searchWindow(xs, ys, 220, 40, 640, 480), 640, 480, 220, 40));
        // A frame smaller than the template cannot be searched either.
        QVERIFY(!windowFits(searchWindow({}, {}, 40, 40, 30, 480), 30, 480, 40, 40));
    }

    void noWindowReadsOutsideTheFrame()
    {
        const float points[] = {-1e9f,  -50.0f, 0.0f, 0.4f,          17.0f,   319.5f,
                                639.0f, 700.0f, 1e9f, std::nanf(""), INFINITY};
        int searched = 0;
        for (int t = 1; t <= 500; t += 7) {
            for (float lx : points) {
                for (float ly : points) {
                    for (const cv::Size frame : {cv::Size(640, 480), cv::Size(33, 700)}) {
                        std::deque<float> xs{lx}, ys{ly};
                        const SearchWindow win =
                            searchWindow(xs, ys, t, t / 2 + 1, frame.width, frame.height);
                        if (!windowFits(win, frame.width, frame.height, t, t / 2 + 1))
                            continue;
                        ++searched;
                        const cv::Rect r = windowRect(win);
                        QVERIFY(r.x >= 0 && r.y >= 0);
                        QVERIFY(r.x + r.width <= frame.width && r.y + r.height <= frame.height);
                        QVERIFY(r.width >= t && r.height >= t / 2 + 1);
                    }
                }
            }
        }
        QVERIFY(searched > 1000);
    }

    void matchGivesTheCentreOfTheRectangle()
    {
        cv::Mat frame(240, 320, CV_8UC3);
        cv::RNG(5).fill(frame, cv::RNG::UNIFORM, 0, 256);
        const cv::Mat templ = frame(cv::Rect(201, 37, 24, 16)).clone();
        TrackPoint c;
        QVERIFY(trackTarget(frame, templ, {}, {}, 24.0f, 16.0f, c));
        QCOMPARE(c.x, 213.0f);
        QCOMPARE(c.y, 45.0f);
        // Around the last centre the window origin is added back.
        QVERIFY(trackTarget(frame, templ, {210.0f}, {50.0f}, 24.0f, 16.0f, c));
        QCOMPARE(c.x, 213.0f);
        QCOMPARE(c.y, 45.0f);
        // A grey template cannot be matched against a colour frame.
        cv::Mat grey(16, 24, CV_8UC1, cv::Scalar(9));
        QVERIFY(!trackTarget(frame, grey, {}, {}, 24.0f, 16.0f, c));
    }

    void pathKeepsItsCapacity()
    {
        std::deque<float> xs, ys, vys;
        for (int i = 0; i < 51; ++i)
            appendCentre(xs, ys, static_cast<float>(i), 2.0f * i, 50);
        QCOMPARE(xs.size(), size_t(50));
        QCOMPARE(xs.front(), 1.0f);
        QCOMPARE(ys.front(), 2.0f);
        QCOMPARE(xs.back(), 50.0f);

        // Only one list full: nothing is appended, the lists stay equal.
        std::deque<float> a{1, 2, 3}, b{1, 2};
        appendCentre(a, b, 9, 9, 3);
        QCOMPARE(a.size(), size_t(3));
        QCOMPARE(b.size(), size_t(2));
        // A capacity of 0 must not drop from an empty list.
        std::deque<float> e1, e2;
        appendCentre(e1, e2, 4, 5, 0);
        QCOMPARE(e1.size(), size_t(1));

        for (int i = 0; i < 51; ++i)
            appendVelocity(vys, static_cast<float>(i), 50);
        QCOMPARE(vys.size(), size_t(50));
        QCOMPARE(vys.front(), 1.0f);
        appendVelocity(e1, 1.0f, 0);
        QCOMPARE(e1.size(), size_t(1));

        QCOMPARE(verticalVelocity(300.0f, 290.0f, 12.0f), -120.0f);
    }

    void heightAndVelocityInCentimetres()
    {
        // 100 px above the reference with a 90 px plate: 23 + 100 / 90 * 45.
        std::deque<float> ys{315.0f, 260.0f, 215.0f, 240.0f};
        float height = -1, maxHeight = -1;
        QVERIFY(measureHeight(ys, 315, 90.0f, 23.0f, height, maxHeight));
        QCOMPARE(height, 23.0f + 75.0f / 90.0f * 45.0f);
        QCOMPARE(maxHeight, 73.0f);
        // Below the reference only: the highest rise is 0.
        QVERIFY(measureHeight({330.0f}, 315, 90.0f, 23.0f, height, maxHeight));
        QCOMPARE(height, 15.5f);
        QCOMPARE(maxHeight, 23.0f);

        std::deque<float> vys{0.0f, -120.0f, -240.0f, 60.0f};
        float vy = -1, maxVy = -1;
        QVERIFY(measureVelocity(vys, 90.0f, vy, maxVy));
        QCOMPARE(vy, -30.0f);
        QCOMPARE(maxVy, 120.0f);

        // Empty lists leave the values as they were.
        QVERIFY(!measureHeight({}, 315, 90.0f, 23.0f, height, maxHeight));
        QVERIFY(!measureVelocity({}, 90.0f, vy, maxVy));
        QCOMPARE(vy, -30.0f);

        // No plate yet: nothing is divided by zero, the values read 0.
        QVERIFY(measureHeight(ys, 315, 0.0f, 23.0f, height, maxHeight));
        QVERIFY(measureVelocity(vys, 0.0f, vy, maxVy));
        for (float v : {height, maxHeight, vy, maxVy})
            QCOMPARE(v, 0.0f);
        QCOMPARE(cmPerPixel(std::nanf("")), 0.0f);
        QCOMPARE(cmPerPixel(90.0f), 0.5f);
    }
};

QTEST_MAIN(TestLiveTracking)
#include "tst_live_tracking.moc"
