#pragma once

#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "video/mjpeg_avi_writer.h"

class QGraphicsPixmapItem;
class QGraphicsRectItem;
class QGraphicsScene;
class QPixmap;
class QRectF;

// The open movie of the movie tabs, the picture the selections are cut from,
// and the items of it that live in the movie scenes. The movie modes and the
// frame display own it; others read it, or change the scene items through the
// functions below.
struct MovieSession {
    cv::VideoCapture movieCapture1;
    // The strobe movie reads through all three captures of the same file.
    cv::VideoCapture movieCapture2;
    cv::VideoCapture movieCapture3;
    // The file the three strobe captures were opened on; empty when the last
    // successful open was in another mode.
    std::string strobeMovieFile_;
    // 0 for Type A, 1 for Type B: which strobe entry of the Mode menu opened the movie.
    int strobeType_ = 0;
    cv::Mat movieFrame_;
    int movie_frame_num = 0;
    float movieFPS = 0.0f;
    int movieWidth = 0;
    int movieHeight = 0;

    // The picture the selections are cut from: a copy of the live frame, or
    // the current movie frame.
    cv::Mat currentFrameMat;
    // The movie frame's picture and the selection rectangle in the movie
    // scenes; forgotten whenever their scene is cleared.
    QGraphicsPixmapItem* framePixmapItem_ = nullptr;
    QGraphicsRectItem* movieRectItem_ = nullptr;

    // The writer of the analysed, manual and strobe movies, opened and
    // released within one call of each.
    MjpegAviWriter videoWriter_;

    // Makes a decoded movie frame the one shown and cut from.
    void makeMovieFrameCurrent(const cv::Mat& frame);
    // Makes a copy of the camera frame the one cut from.
    void takeCameraFrame(const cv::Mat& frame);
    // Clears a scene and forgets the items that lived in it, so that no later
    // slider move or drag touches a deleted item.
    void clearScene(QGraphicsScene* scene);
    // Replaces the picture of a movie scene.
    void replaceFramePicture(QGraphicsScene* scene, const QPixmap& pixmap);
    // Replaces the selection rectangle of a movie scene. A rectangle left on
    // the other movie scene stays there.
    void replaceSelection(QGraphicsScene* scene, const QRectF& rect);
};
