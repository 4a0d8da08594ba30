#ifndef PLM_GUI_GRAPHICSVIEW_H
#define PLM_GUI_GRAPHICSVIEW_H

#include <QGraphicsView>

// A graphics view that hands Ctrl + wheel to its owner instead of scrolling.
class PLMGraphicsView : public QGraphicsView
{
    Q_OBJECT
public:
    explicit PLMGraphicsView(QWidget* parent = nullptr) : QGraphicsView(parent) {}

signals:
    void wheelMoved(QWheelEvent* pEvent);

protected:
    void wheelEvent(QWheelEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
};

#endif
