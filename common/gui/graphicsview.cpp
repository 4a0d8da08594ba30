#include "gui/graphicsview.h"

#include <QDebug>
#include <QWheelEvent>

void PLMGraphicsView::wheelEvent(QWheelEvent* pEvent)
{
    qDebug() << "PLMGraphicsView::wheelEvent";
    if (pEvent->modifiers() & Qt::ControlModifier) {
        emit wheelMoved(pEvent);
        return;
    }
    QGraphicsView::wheelEvent(pEvent);
}

void PLMGraphicsView::showEvent(QShowEvent* pEvent)
{
    qDebug() << "PLMGraphicsView::showEvent";
    QGraphicsView::showEvent(pEvent);
}
