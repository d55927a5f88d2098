#include <QGraphicsScene>

#include "app/mainwindow.h"
#include "video/diagnostics.h"
#include "video/frame_display.h"

bool MainWindow::presentFirstFrame(QGraphicsScene* scene)
{
    cv::Mat frame;
    if (!movie_.movieCapture1.read(frame) || frame.empty() || frame.type() != CV_8UC3) {
        // A movie that opens but gives no picture leaves everything as it was.
        diag(" no first frame\n");
        return false;
    }
    movie_.makeMovieFrameCurrent(frame);
    diag(" src: %d, %d, %d\n", movie_.movieFrame_.cols, movie_.movieFrame_.rows,
         movie_.movieFrame_.channels());
    diag(" img: %d, %d\n", movie_.movieFrame_.cols, movie_.movieFrame_.rows);
    diag(" img: %d, %d\n", movie_.movieFrame_.cols, movie_.movieFrame_.rows);
    movie_.movieWidth = movie_.movieFrame_.cols;
    movie_.movieHeight = movie_.movieFrame_.rows;
    resize(movie_.movieWidth + 10, movie_.movieHeight + 200);
    keepOnScreen();
    const QPixmap pixmap = frameToPixmap(movie_.movieFrame_);
    diag(" pixmap: %d, %d\n", pixmap.width(), pixmap.height());
    movie_.clearScene(scene);
    movie_.replaceFramePicture(scene, pixmap);
    return true;
}
