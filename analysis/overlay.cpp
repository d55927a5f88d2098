#include "analysis/overlay.h"

#include <cmath>
#include <cstdio>

#include <QBrush>
#include <QFont>
#include <QGraphicsRectItem>
#include <QGraphicsTextItem>
#include <QPen>

#include "app/mainwindow.h"

void limitOverlayValues(float& maxHeight, float& height, float& maxVy, float& vy)
{
    for (float* v : {&maxHeight, &height, &maxVy, &vy}) {
        if (!std::isfinite(*v))
            *v = 0.0f;
    }
    if (maxVy > 1000.0f)
        maxVy = 999.0f;
    if (std::fabs(vy) > 1000.0f)
        vy = 0.0f;
}

std::array<std::string, 5> overlayLines(int weight, float maxHeight, float height, float maxVy,
                                        float vy)
{
    char buf[5][128];
    std::snprintf(buf[0], sizeof buf[0], "Weight: %d[kg]", weight);
    std::snprintf(buf[1], sizeof buf[1], "Max H: %.0f[cm]", maxHeight);
    std::snprintf(buf[2], sizeof buf[2], "      H: %.0f[cm]", height);
    std::snprintf(buf[3], sizeof buf[3], "Max Vy: %3.0f[cm/s]", maxVy);
    std::snprintf(buf[4], sizeof buf[4], "      Vy: %3.0f[cm/s]", vy);
    return {buf[0], buf[1], buf[2], buf[3], buf[4]};
}

void MainWindow::drawTextAreaBoxToScene(QGraphicsScene* GS_)
{
    const int x0 = textBoxX_;
    const int y0 = textBoxY_;
    // A hairline outline: Qt's default pen is one scene pixel wide, which
    // would make the box a pixel larger than its stated size.
    QPen outline(Qt::black, 0, Qt::SolidLine);
    outline.setCosmetic(true);
    QGraphicsRectItem* box =
        GS_->addRect(x0, y0, textBoxWidth_, textBoxHeight_, outline, QBrush(Qt::black));
    box->setOpacity(0.5);

    QFont font;
    font.setPixelSize(20);
    font.setWeight(QFont::Bold);

    limitOverlayValues(maxHeight_, height_, maxVy_, vy_);
    const auto lines = overlayLines(weight_, maxHeight_, height_, maxVy_, vy_);
    for (int i = 0; i < 5; ++i) {
        QGraphicsTextItem* text = GS_->addText(QString::fromLatin1(lines[i].c_str()), font);
        text->setPos(x0 + 5, y0 + 5 + 25 * i);
        text->setDefaultTextColor(Qt::green);
    }
}
