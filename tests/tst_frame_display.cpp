#include <QFont>
#include <QGraphicsPixmapItem>
#include <QGraphicsTextItem>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "app/mainwindow.h"
#include "test_support.h"

class TestFrameDisplay : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetEnvironment(); }

    void pixmapKeepsColoursAndStride()
    {
        // A 10 x 6 view into a 30 x 6 frame: rows are 90 bytes apart, not 30.
        cv::Mat wide(6, 30, CV_8UC3, cv::Scalar(0, 0, 0));
        cv::Mat frame = wide(cv::Rect(10, 0, 10, 6));
        frame.setTo(cv::Scalar(255, 0, 0)); // pure blue in B, G, R
        frame.row(3).setTo(cv::Scalar(0, 255, 0));
        frame.at<cv::Vec3b>(5, 9) = cv::Vec3b(0, 0, 255);
        QVERIFY(frame.step > 3 * static_cast<size_t>(frame.cols));

        const QPixmap pixmap = MainWindow::frameToPixmap(frame);
        QCOMPARE(pixmap.size(), QSize(10, 6));
        // The pixmap owns its pixels: changing the frame afterwards shows nothing.
        wide.setTo(cv::Scalar(7, 7, 7));
        const QImage shown = pixmap.toImage();
        QCOMPARE(QColor(shown.pixel(0, 0)), QColor(Qt::blue));
        QCOMPARE(QColor(shown.pixel(9, 2)), QColor(Qt::blue));
        QCOMPARE(QColor(shown.pixel(4, 3)), QColor(Qt::green));
        QCOMPARE(QColor(shown.pixel(9, 5)), QColor(Qt::red));
    }

    void snapshotBytesAndSize()
    {
        QGraphicsScene scene;
        scene.addPixmap(MainWindow::frameToPixmap(cv::Mat(3, 4, CV_8UC3, cv::Scalar(0, 0, 255))));
        cv::Mat shot = MainWindow::sceneSnapshot(&scene, false);
        QCOMPARE(shot.type(), CV_8UC3);
        QCOMPARE(shot.cols, 4);
        QCOMPARE(shot.rows, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                QCOMPARE(shot.at<cv::Vec3b>(y, x), cv::Vec3b(0, 0, 255));

        // A label right of and below the picture makes the snapshot larger;
        // what no item covers is black.
        QFont font;
        font.setPixelSize(30);
        QGraphicsTextItem* text = scene.addText("Rec", font);
        text->setPos(40, 30);
        shot = MainWindow::sceneSnapshot(&scene, false);
        const QSize grown = scene.sceneRect().size().toSize();
        QVERIFY(shot.cols > 40 && shot.rows > 30);
        QCOMPARE(QSize(shot.cols, shot.rows), grown);
        QCOMPARE(shot.at<cv::Vec3b>(0, 4), cv::Vec3b(0, 0, 0));
        QCOMPARE(shot.at<cv::Vec3b>(20, 2), cv::Vec3b(0, 0, 0));
        QCOMPARE(shot.at<cv::Vec3b>(2, 3), cv::Vec3b(0, 0, 255));

        // Clearing does not shrink the scene rectangle, so neither the snapshot.
        scene.clear();
        scene.addPixmap(MainWindow::frameToPixmap(cv::Mat(3, 4, CV_8UC3, cv::Scalar(0, 0, 255))));
        shot = MainWindow::sceneSnapshot(&scene, true);
        QCOMPARE(QSize(shot.cols, shot.rows), grown);
        QCOMPARE(shot.at<cv::Vec3b>(20, 30), cv::Vec3b(0, 0, 0));
    }

    void presentAndReplaceMoviePictures()
    {
        installFakeRig([](int) { return solidFrame(640, 480); });
        MainWindow w;
        QTemporaryDir dir;
        const std::string path = dir.filePath("m.avi").toStdString();
        {
            cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                                   cv::Size(64, 48));
            QVERIFY(writer.isOpened());
            for (int i = 0; i < 3; ++i)
                writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar(200, 40 * i, 10)));
        }

        // A capture that gives no picture leaves everything as it was.
        QVERIFY(!w.presentFirstFrame(&w.autoScene_));
        QCOMPARE(w.movieWidth, 0);

        w.autoScene_.addRect(0, 0, 5, 5);
        QVERIFY(w.movieCapture1.open(path));
        QVERIFY(w.presentFirstFrame(&w.autoScene_));
        QCOMPARE(w.movieWidth, 64);
        QCOMPARE(w.movieHeight, 48);
        QCOMPARE(w.autoScene_.items().size(), 1);
        QVERIFY(w.framePixmapItem_ && w.framePixmapItem_->scene() == &w.autoScene_);
        QVERIFY(w.currentFrameMat.data == w.movieFrame_.data); // no copy
        QCOMPARE(w.framePixmapItem_->pixmap().size(), QSize(64, 48));

        // A picture of another scene is left in place; the new one goes on top.
        w.autoScene_.addRect(0, 0, 5, 5);
        const QPixmap next = MainWindow::frameToPixmap(solidFrame(64, 48));
        w.replaceFramePicture(&w.manualScene_, next);
        QCOMPARE(w.autoScene_.items().size(), 2);
        QVERIFY(w.framePixmapItem_->scene() == &w.manualScene_);
        w.replaceFramePicture(&w.manualScene_, next);
        QCOMPARE(w.manualScene_.items().size(), 1);
        w.replaceFramePicture(&w.autoScene_, next);
        QCOMPARE(w.autoScene_.items().size(), 3);
        QCOMPARE(w.autoScene_.items(Qt::AscendingOrder).last(), w.framePixmapItem_);
    }
};

QTEST_MAIN(TestFrameDisplay)
#include "tst_frame_display.moc"
