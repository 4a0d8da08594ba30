#include "testsupport.h"

#include "gui/graphicsview.h"
#include "gui/label.h"

#include <QGraphicsScene>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

class ViewWidgetsTest : public QObject
{
    Q_OBJECT

    // One notch of the wheel turned towards the user, delivered where a
    // real wheel event arrives: at the view's viewport.
    static void turnWheel(PLMGraphicsView& view, Qt::KeyboardModifiers modifiers, QWheelEvent** ppSent = nullptr)
    {
        const QPointF pos(view.viewport()->rect().center());
        QWheelEvent event(pos, view.viewport()->mapToGlobal(pos.toPoint()), QPoint(), QPoint(0, -120),
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        if (ppSent)
            *ppSent = &event;
        QApplication::sendEvent(view.viewport(), &event);
    }

private slots:
    void graphicsViewWheel_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("handedOver");
        QTest::newRow("Ctrl") << int(Qt::ControlModifier) << true;
        QTest::newRow("Ctrl+Shift") << int(Qt::ControlModifier | Qt::ShiftModifier) << true;
        QTest::newRow("plain") << int(Qt::NoModifier) << false;
    }

    void graphicsViewWheel()
    {
        QFETCH(int, modifiers);
        QFETCH(bool, handedOver);

        QGraphicsScene scene(0, 0, 2000, 2000);
        PLMGraphicsView view;
        view.setScene(&scene);
        view.resize(200, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QScrollBar* pVBar = view.verticalScrollBar();
        QScrollBar* pHBar = view.horizontalScrollBar();
        QVERIFY(pVBar->maximum() > 0);
        const int vBefore = pVBar->value();
        const int hBefore = pHBar->value();

        QList<QWheelEvent*> received;
        QList<QPoint> deltas;
        connect(&view, &PLMGraphicsView::wheelMoved, this, [&](QWheelEvent* pEvent) {
            received << pEvent;
            deltas << pEvent->angleDelta();
        });
        QWheelEvent* pSent = nullptr;
        turnWheel(view, Qt::KeyboardModifiers(modifiers), &pSent);

        if (handedOver) {
            // The owner gets the very event, once, and the view stays put.
            QCOMPARE(received.size(), 1);
            QCOMPARE(received.first(), pSent);
            QCOMPARE(deltas.first(), QPoint(0, -120));
            QCOMPARE(pVBar->value(), vBefore);
            QCOMPARE(pHBar->value(), hBefore);
        } else {
            QVERIFY(received.isEmpty());
            QVERIFY(pVBar->value() > vBefore);
        }
    }

    void labelDoubleClick()
    {
        PLMLabel label(QStringLiteral("preview"));
        label.resize(120, 80);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));

        int iEmitted = 0;
        QPoint lastPos;
        Qt::MouseButton lastButton = Qt::NoButton;
        connect(&label, &PLMLabel::mouseDoubleClicked, this, [&](QMouseEvent* pEvent) {
            ++iEmitted;
            lastPos = pEvent->pos();
            lastButton = pEvent->button();
        });

        QTest::mouseClick(&label, Qt::LeftButton, Qt::NoModifier, QPoint(30, 20));
        QCOMPARE(iEmitted, 0);

        // Far enough in time from the click above not to pair with it.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseDClick(&label, Qt::LeftButton, Qt::NoModifier, QPoint(40, 25));
        QCOMPARE(iEmitted, 1);
        QCOMPARE(lastPos, QPoint(40, 25));
        QCOMPARE(lastButton, Qt::LeftButton);
    }
};

KORVANE_TEST_MAIN(ViewWidgetsTest)
#include "tst_viewwidgets.moc"
