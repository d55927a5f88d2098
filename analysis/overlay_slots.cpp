#include <QBrush>
#include <QFont>
#include <QGraphicsRectItem>
#include <QGraphicsTextItem>
#include <QPen>

#include "analysis/overlay.h"
#include "app/mainwindow.h"

void MainWindow::drawTextAreaBoxToScene(QGraphicsScene* GS_)
{
    const int x0 = settings_.textBoxX_;
    const int y0 = settings_.textBoxY_;
    // A hairline outline: Qt's default pen is one scene pixel wide, which
    // would make the box a pixel larger than its stated size.
    QPen outline(Qt::black, 0, Qt::SolidLine);
    outline.setCosmetic(true);
    QGraphicsRectItem* box = GS_->addRect(x0, y0, settings_.textBoxWidth_, settings_.textBoxHeight_,
                                          outline, QBrush(Qt::black));
    box->setOpacity(0.5);

    QFont font;
    font.setPixelSize(20);
    font.setWeight(QFont::Bold);

    // The box reads the measurement; it never changes it.
    const Measurement m = shownMeasurement(measure_);
    const auto lines = overlayLines(settings_.weight_, m.maxHeight_, m.height_, m.maxVy_, m.vy_);
    for (int i = 0; i < 5; ++i) {
        QGraphicsTextItem* text = GS_->addText(QString::fromLatin1(lines[i].c_str()), font);
        text->setPos(x0 + 5, y0 + 5 + 25 * i);
        text->setDefaultTextColor(Qt::green);
    }
}
