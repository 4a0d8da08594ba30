#include "gui/label.h"

#include <QDebug>

void PLMLabel::mouseDoubleClickEvent(QMouseEvent* pEvent)
{
    qDebug() << "PLMLabel::mouseDoubleClickEvent";
    emit mouseDoubleClicked(pEvent);
}
