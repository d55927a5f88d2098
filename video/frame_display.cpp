#include "video/frame_display.h"

#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QtEndian>

#include <opencv2/imgproc.hpp>

QPixmap frameToPixmap(const cv::Mat& frame)
{
    if (frame.empty() || frame.type() != CV_8UC3)
        return QPixmap();
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    // The pixmap keeps 0xffRRGGBB pixels, which in little-endian memory are
    // B, G, R, 255: one pass from the frame gives them, where swapping to
    // R, G, B first would cost a second pass when the pixmap converts.
    QImage picture(frame.cols, frame.rows, QImage::Format_RGB32);
    cv::Mat bgra(frame.rows, frame.cols, CV_8UC4, picture.bits(),
                 static_cast<size_t>(picture.bytesPerLine()));
    cv::cvtColor(frame, bgra, cv::COLOR_BGR2BGRA);
    return QPixmap::fromImage(std::move(picture));
#else
    // The wrapper passes the stride so padded rows do not shear the picture;
    // rgbSwapped() both turns B,G,R into R,G,B and detaches from the frame.
    const QImage wrapped(frame.data, frame.cols, frame.rows, static_cast<qsizetype>(frame.step),
                         QImage::Format_RGB888);
    return QPixmap::fromImage(wrapped.rgbSwapped());
#endif
}

cv::Mat sceneSnapshot(QGraphicsScene* scene, bool antialiasing, const QRectF& area)
{
    const QRectF source = area.isEmpty() ? scene->sceneRect() : area;
    const QSize size = source.size().toSize();
    if (size.isEmpty())
        return cv::Mat();
    QImage rendered(size, QImage::Format_RGB32);
    // Areas no item covers come out black, so equal scenes give equal bytes.
    rendered.fill(Qt::black);
    {
        QPainter painter(&rendered);
        if (antialiasing)
            painter.setRenderHint(QPainter::Antialiasing, true);
        scene->render(&painter, QRectF(), source, Qt::KeepAspectRatio);
    }
    cv::Mat snapshot(size.height(), size.width(), CV_8UC3);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    // 0xAARRGGBB in little-endian memory is B, G, R, A: drop every fourth byte.
    const cv::Mat bgra(size.height(), size.width(), CV_8UC4, rendered.bits(),
                       static_cast<size_t>(rendered.bytesPerLine()));
    cv::cvtColor(bgra, snapshot, cv::COLOR_BGRA2BGR);
#else
    for (int y = 0; y < size.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(rendered.constScanLine(y));
        uchar* out = snapshot.ptr<uchar>(y);
        for (int x = 0; x < size.width(); ++x) {
            out[3 * x + 0] = static_cast<uchar>(qBlue(in[x]));
            out[3 * x + 1] = static_cast<uchar>(qGreen(in[x]));
            out[3 * x + 2] = static_cast<uchar>(qRed(in[x]));
        }
    }
#endif
    return snapshot;
}

QPen selectionPen()
{
    QPen pen(Qt::red, 0);
    pen.setCosmetic(true);
    return pen;
}
