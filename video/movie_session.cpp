#include "video/movie_session.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>

#include "video/frame_display.h"

void MovieSession::makeMovieFrameCurrent(const cv::Mat& frame)
{
    movieFrame_ = frame;
    currentFrameMat = movieFrame_;
}

void MovieSession::takeCameraFrame(const cv::Mat& frame)
{
    // currentFrameMat may still be a header over a movie frame; the camera
    // picture must not be written into a buffer it shares with anything.
    if (!currentFrameMat.u || currentFrameMat.u->refcount > 1)
        currentFrameMat.release();
    frame.copyTo(currentFrameMat);
}

void MovieSession::clearScene(QGraphicsScene* scene)
{
    if (framePixmapItem_ && framePixmapItem_->scene() == scene)
        framePixmapItem_ = nullptr;
    if (movieRectItem_ && movieRectItem_->scene() == scene)
        movieRectItem_ = nullptr;
    scene->clear();
}

void MovieSession::replaceFramePicture(QGraphicsScene* scene, const QPixmap& pixmap)
{
    if (framePixmapItem_ && framePixmapItem_->scene() == scene) {
        scene->removeItem(framePixmapItem_);
        delete framePixmapItem_;
    }
    framePixmapItem_ = scene->addPixmap(pixmap);
}

void MovieSession::replaceSelection(QGraphicsScene* scene, const QRectF& rect)
{
    if (movieRectItem_ && movieRectItem_->scene() == scene) {
        scene->removeItem(movieRectItem_);
        delete movieRectItem_;
    }
    movieRectItem_ = scene->addRect(rect, selectionPen(), Qt::NoBrush);
}
