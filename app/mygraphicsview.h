#pragma once

#include <QGraphicsView>

class QMouseEvent;

// The view of every tab. It keeps the scene's mouse handling out of the way
// and reports presses and drags through the shared selection state instead.
class MyGraphicsView : public QGraphicsView
{
    Q_OBJECT
public:
    explicit MyGraphicsView(QWidget* parent = nullptr);

signals:
    void mousePressed();
    void dragStarted();
    void dragMoved();
    void dragEnded();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
