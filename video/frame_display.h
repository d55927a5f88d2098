#pragma once

#include <QPen>
#include <QPixmap>
#include <QRectF>

#include <opencv2/core.hpp>

class QGraphicsScene;

// Frames into scene pictures and scenes back into frames. A scene holds its
// frame's picture at its origin, so scene coordinates are frame pixels.

// The picture of an 8-bit, 3-channel frame; a null pixmap for anything else.
QPixmap frameToPixmap(const cv::Mat& frame);

// The scene rendered into a frame: its whole scene rect, or `area` of it.
cv::Mat sceneSnapshot(QGraphicsScene* scene, bool antialiasing, const QRectF& area = QRectF());

// The red outline of a selection rectangle on the movie views: a cosmetic
// hairline. Qt's default pen is one scene unit wide, and even an empty
// rectangle at the origin drawn with it would reach half a pixel left of and
// above the picture, moving the scene's origin and with it every snapshot.
QPen selectionPen();
