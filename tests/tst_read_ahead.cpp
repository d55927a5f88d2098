#include <atomic>
#include <mutex>
#include <vector>

#include <QtTest>

#include <opencv2/core.hpp>

#include "video/read_ahead.h"

// Frames read ahead on another thread: the consumer must see exactly the
// frames it would have read itself, in order, and nothing may be read past a
// failure or long after the consumer has stopped.
class TestReadAhead : public QObject
{
    Q_OBJECT

private slots:
    void framesComeInOrderAndStopAtAFailure()
    {
        std::vector<int> asked;
        std::mutex askedMutex;
        auto read = [&](int i, cv::Mat& frame) {
            {
                std::lock_guard<std::mutex> lock(askedMutex);
                asked.push_back(i);
            }
            if (i == 7)
                return false;
            frame = cv::Mat(2, 2, CV_8UC1, cv::Scalar(i));
            return true;
        };
        {
            ReadAhead all(read, 5);
            cv::Mat frame;
            for (int i = 0; i < 5; ++i) {
                QVERIFY(all.next(frame));
                QCOMPARE(int(frame.at<uchar>(1, 1)), i);
            }
            QVERIFY(!all.next(frame));
            QVERIFY(!all.next(frame));
        }
        QCOMPARE(asked, (std::vector<int>{0, 1, 2, 3, 4}));

        asked.clear();
        {
            ReadAhead broken(read, 20);
            cv::Mat frame;
            int got = 0;
            while (broken.next(frame))
                QCOMPARE(int(frame.at<uchar>(0, 0)), got++);
            QCOMPARE(got, 7);
        }
        // Frame 7 failed: nothing after it was asked for.
        QCOMPARE(asked.back(), 7);
        QCOMPARE(asked.size(), size_t(8));

        ReadAhead none(read, 0);
        cv::Mat frame;
        QVERIFY(!none.next(frame));
    }

    // A consumer that stops early (the window is closed, the movie ends in a
    // broken frame) leaves the reader a few frames ahead at most, and the
    // reader's thread is gone once it is destroyed.
    void stoppingEarlyReadsOnlyAFewMore()
    {
        std::atomic<int> reads{0};
        {
            ReadAhead ahead(
                [&](int, cv::Mat& frame) {
                    ++reads;
                    frame = cv::Mat(1, 1, CV_8UC1, cv::Scalar(0));
                    return true;
                },
                100000);
            cv::Mat frame;
            QVERIFY(ahead.next(frame));
            QVERIFY(ahead.next(frame));
            QTRY_COMPARE(reads.load(), 2 + int(ReadAhead::kAhead));
        }
        QCOMPARE(reads.load(), 2 + int(ReadAhead::kAhead));
    }
};

QTEST_GUILESS_MAIN(TestReadAhead)
#include "tst_read_ahead.moc"
