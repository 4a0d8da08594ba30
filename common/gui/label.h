#ifndef PLM_GUI_LABEL_H
#define PLM_GUI_LABEL_H

#include <QLabel>

// A label that reports double clicks.
class PLMLabel : public QLabel
{
    Q_OBJECT
public:
    explicit PLMLabel(QWidget* parent = nullptr) : QLabel(parent) {}
    explicit PLMLabel(const QString& text, QWidget* parent = nullptr) : QLabel(text, parent) {}

signals:
    void mouseDoubleClicked(QMouseEvent* pEvent);

protected:
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
};

#endif
