// The edit dialog's tool panels: unit conversions, limits, keep-aspect
// behaviour and which signals they send.
#include "testsupport.h"

#include "dialogdriver.h"
#include "imageedittool.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QSignalSpy>
#include <QSpinBox>
#include <QToolButton>

class ImageEditToolTest : public QObject
{
    Q_OBJECT

private slots:
    // Each switch converts from the unit shown before; the font handed on
    // always carries the size in points.
    void textFontUnits_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("pointsPerPixel");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("points");
        QTest::newRow("12 pt to px") << int(FontUnitPoints) << int(FontUnitPixels) << 1000 << 0.6 << 12 << 20 << 12;
        QTest::newRow("20 px to pt") << int(FontUnitPixels) << int(FontUnitPoints) << 1000 << 0.6 << 20 << 12 << 12;
        QTest::newRow("12 pt to %") << int(FontUnitPoints) << int(FontUnitPercent) << 400 << 0.6 << 12 << 5 << 12;
        QTest::newRow("5 % to px") << int(FontUnitPercent) << int(FontUnitPixels) << 400 << 0.6 << 5 << 20 << 12;
        QTest::newRow("20 px to %") << int(FontUnitPixels) << int(FontUnitPercent) << 400 << 0.6 << 20 << 5 << 12;
        QTest::newRow("5 % to pt") << int(FontUnitPercent) << int(FontUnitPoints) << 400 << 0.6 << 5 << 12 << 12;
        // 0.4 % of a tall page: held at the smallest size the field takes.
        QTest::newRow("small pt to %") << int(FontUnitPoints) << int(FontUnitPercent) << 4000 << 0.75 << 12 << 1 << 30;
    }
    void textFontUnits()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, height);
        QFETCH(double, pointsPerPixel);
        QFETCH(int, size);
        QFETCH(int, shown);
        QFETCH(int, points);
        TextTool tool;
        tool.SetPointsPerPixel(pointsPerPixel);
        tool.SetBackgroundSize(1000, height);
        TextParams start;
        start.fontUnit = from;
        start.fontSize = size;
        tool.LoadParams(start);
        QSignalSpy unitChanged(&tool, SIGNAL(textFontUnitChanged()));
        QSignalSpy fontChanged(&tool, SIGNAL(textFontChanged()));
        tool.pFontUnitCmB->setCurrentIndex(to);
        QCOMPARE(tool.pFontSizeCmB->currentText(), QString::number(shown));
        QCOMPARE(unitChanged.count(), 1);
        QCOMPARE(fontChanged.count(), 0);
        TextParams read;
        tool.GetParams(read);
        QCOMPARE(read.fontUnit, to);
        QCOMPARE(read.fontSize, shown);
        QCOMPARE(read.font.pointSize(), points);
    }

    // Positions switch between pixels and percent of the background, in
    // both watermark tools.
    void positionUnits_data()
    {
        QTest::addColumn<bool>("image");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("back");
        QTest::newRow("text 250 of 1000") << false << 1000 << 250 << 25 << 250;
        QTest::newRow("image 250 of 1000") << true << 1000 << 250 << 25 << 250;
        QTest::newRow("image 333 of 1000") << true << 1000 << 333 << 33 << 330;
        QTest::newRow("text 301 of 301") << false << 301 << 301 << 100 << 301;
    }
    void positionUnits()
    {
        QFETCH(bool, image);
        QFETCH(int, width);
        QFETCH(int, pixels);
        QFETCH(int, percent);
        QFETCH(int, back);
        TextTool textTool;
        ImageTool imageTool;
        QWidget* tool = image ? static_cast<QWidget*>(&imageTool) : static_cast<QWidget*>(&textTool);
        QComboBox* unit = image ? imageTool.pPosUnitCmB : textTool.pPosUnitCmB;
        QSpinBox* x = image ? imageTool.pXSB : textTool.pXSB;
        textTool.SetBackgroundSize(width, 1000);
        imageTool.SetBackgroundSize(width, 1000);
        imageTool.SetImageSizeRange();
        x->setValue(pixels);
        QSignalSpy switched(tool, image ? SIGNAL(imagePosUnitChanged()) : SIGNAL(textPosUnitChanged()));
        QSignalSpy moved(tool, image ? SIGNAL(imagePosChanged()) : SIGNAL(textPosChanged()));
        unit->setCurrentIndex(SizeUnitPercent);
        QCOMPARE(x->value(), percent);
        QCOMPARE(x->maximum(), 100);
        unit->setCurrentIndex(SizeUnitPixels);
        QCOMPARE(x->value(), back);
        QCOMPARE(x->maximum(), width);
        QCOMPARE(switched.count(), 2);
        QCOMPARE(moved.count(), 0);
    }

    // The page resize: unit switches keep the size, and "Keep aspect ratio"
    // makes the height follow the width.
    void resizeKeepsAspect_data()
    {
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("resized");
        QTest::newRow("pixels, height follows") << int(SizeUnitPixels) << 200 << 90 << 150 << 1;
        QTest::newRow("pixels, already in proportion") << int(SizeUnitPixels) << 200 << 150 << 150 << 0;
        QTest::newRow("percent, height = width") << int(SizeUnitPercent) << 40 << 90 << 40 << 1;
    }
    void resizeKeepsAspect()
    {
        QFETCH(int, unit);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, expected);
        QFETCH(int, resized);
        ResizeTool tool;
        tool.SetSourceSize(400, 300);
        tool.Reset();
        QSignalSpy spy(&tool, SIGNAL(resized()));
        tool.pEnableCB->setChecked(true);
        tool.pKeepARCB->setChecked(false);
        QVERIFY(tool.pHeightSB->isEnabled());
        tool.pUnitCmB->setCurrentIndex(unit);
        tool.pWidthSB->setValue(width);
        tool.pHeightSB->setValue(height);
        spy.clear();
        tool.pKeepARCB->setChecked(true);
        QCOMPARE(tool.pHeightSB->value(), expected);
        QVERIFY(!tool.pHeightSB->isEnabled());
        QCOMPARE(spy.count(), resized);

        // Width changes drag the height along.
        tool.pWidthSB->setValue(width * 2);
        QCOMPARE(tool.pHeightSB->value(), expected * 2);
    }

    void resizeUnitSwitchKeepsTheSize()
    {
        ResizeTool tool;
        tool.SetSourceSize(800, 600);
        tool.Reset();
        tool.pEnableCB->setChecked(true);
        tool.pWidthSB->setValue(400);
        QSignalSpy spy(&tool, SIGNAL(resized()));
        tool.pUnitCmB->setCurrentIndex(SizeUnitPercent);
        QCOMPARE(tool.pWidthSB->value(), 50);
        QCOMPARE(tool.pHeightSB->value(), 50);
        QCOMPARE(tool.pWidthSB->maximum(), 500);
        RFRParams params;
        tool.GetParams(params);
        QCOMPARE(QSize(params.width, params.height), QSize(400, 300));
        QCOMPARE(QSize(params.widthValue, params.heightValue), QSize(50, 50));
        tool.pUnitCmB->setCurrentIndex(SizeUnitPixels);
        QCOMPARE(tool.pWidthSB->value(), 400);
        QCOMPARE(tool.pWidthSB->maximum(), 4000);
        QCOMPARE(spy.count(), 0);
    }

    // The watermark's own proportions: checking "Keep aspect ratio" reports a
    // resize only when the height had to change.
    void imageKeepsAspect_data()
    {
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("resized");
        QTest::newRow("pixels, height changes") << int(SizeUnitPixels) << 300 << 50 << 150 << true;
        QTest::newRow("pixels, height fits") << int(SizeUnitPixels) << 300 << 150 << 150 << false;
        // 50 % of 800 is 400 pixels, half of that is 200 of the 400 high page.
        QTest::newRow("percent, height changes") << int(SizeUnitPercent) << 50 << 10 << 50 << true;
        QTest::newRow("percent, height fits") << int(SizeUnitPercent) << 50 << 50 << 50 << false;
    }
    void imageKeepsAspect()
    {
        QFETCH(int, unit);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, expected);
        QFETCH(bool, resized);
        ImageTool tool;
        tool.SetBackgroundSize(800, 400);
        ImageParams params;
        params.sizeUnit = unit;
        params.keepAspectRatio = false;
        params.widthValue = width;
        params.heightValue = height;
        params.aspectRatio = 0.5;
        tool.LoadParams(params);
        QCOMPARE(tool.pHeightSB->value(), height);
        QSignalSpy rfr(&tool, SIGNAL(imageRFRChanged()));
        QSignalSpy keep(&tool, SIGNAL(imageKeepAspectRatioChanged()));
        tool.pKeepARCB->setChecked(true);
        QCOMPARE(tool.pHeightSB->value(), expected);
        QCOMPARE(rfr.count(), resized ? 1 : 0);
        QCOMPARE(keep.count(), resized ? 0 : 1);
        tool.pKeepARCB->setChecked(false);
        QVERIFY(tool.pHeightSB->isEnabled());
        QCOMPARE(keep.count(), resized ? 1 : 2);
    }

    // Values the program sets are not reported back as user changes.
    void loadingReportsNothing()
    {
        TextTool text;
        ImageTool image;
        ResizeTool resize;
        QList<QSignalSpy*> spies;
        for (QObject* tool : {static_cast<QObject*>(&text), static_cast<QObject*>(&image), static_cast<QObject*>(&resize)}) {
            const QMetaObject* meta = tool->metaObject();
            for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
                if (meta->method(i).methodType() == QMetaMethod::Signal)
                    spies << new QSignalSpy(tool, QByteArray("2") + meta->method(i).methodSignature());
            }
        }
        TextParams textParams;
        textParams.fontUnit = FontUnitPercent;
        textParams.fontSize = 7;
        textParams.positionUnit = SizeUnitPercent;
        text.LoadParams(textParams);
        ImageParams imageParams;
        imageParams.sizeUnit = SizeUnitPercent;
        imageParams.keepAspectRatio = false;
        imageParams.flip = FlipVertical;
        imageParams.angle = 30;
        imageParams.opacity = 40;
        image.LoadParams(imageParams);
        RFRParams rfr;
        rfr.resizeEnabled = true;
        rfr.resizeUnit = SizeUnitPercent;
        resize.LoadParams(rfr);
        resize.Reset();
        for (QSignalSpy* spy : spies)
            QCOMPARE(spy->count(), 0);
        qDeleteAll(spies);
        QCOMPARE(image.pAngleSB->value(), 30);
        QCOMPARE(text.pFontUnitCmB->currentIndex(), int(FontUnitPercent));
    }

    // The colour dialog opens on black; cancelling it keeps the colour.
    void textColor()
    {
        TextTool tool;
        QSignalSpy spy(&tool, SIGNAL(textColorChanged()));
        QColor offered;
        KorvaneTest::AnswerNextModal<QColorDialog>([&offered](QColorDialog* dialog) {
            offered = dialog->currentColor();
            dialog->setCurrentColor(QColor(200, 20, 20));
            dialog->accept();
        });
        tool.pColorBtn->click();
        QCOMPARE(offered, QColor(Qt::black));
        QCOMPARE(spy.count(), 1);
        KorvaneTest::AnswerNextModal<QColorDialog>([](QColorDialog* dialog) { dialog->reject(); });
        tool.pColorBtn->click();
        QCOMPARE(spy.count(), 1);
        TextParams params;
        tool.GetParams(params);
        QCOMPARE(params.color, QColor(200, 20, 20));
        QVERIFY(tool.pColorBtn->styleSheet().contains("#c81414"));
    }
};

KORVANE_TEST_MAIN(ImageEditToolTest)
#include "tst_imageedittool.moc"
