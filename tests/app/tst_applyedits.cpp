// The edit settings record and their application to a page.
#include "applyedits.h"
#include "testsupport.h"
#include "tst_enginesupport.h"

#include <QPainter>
#include <QTextDocument>
#include <QtConcurrent>

namespace {

QImage WhitePage(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(Qt::white);
    return format == page.format() ? page : page.convertToFormat(format);
}

// Bounding box of the pixels for which match() holds.
template <typename Match>
QRect InkBox(const QImage& image, Match match)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (match(image.pixelColor(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

bool IsRed(const QColor& c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }
bool IsBlue(const QColor& c) { return c.blue() > 200 && c.red() < 60 && c.green() < 60; }

// Horizontal centre of gravity of the darkness of the image.
double InkCentreX(const QImage& image)
{
    double weight = 0;
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const double ink = 255 - qGray(image.pixel(x, y));
            weight += ink;
            sum += ink * x;
        }
    return weight > 0 ? sum / weight : -1;
}

QSharedPointer<TextEdited> TextItem(const QString& text, int pointSize = 20)
{
    QSharedPointer<TextEdited> item(new TextEdited);
    item->document.reset(new QTextDocument);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(pointSize);
    item->document->setDefaultFont(font);
    item->document->setPlainText(text);
    item->params.font = font;
    item->params.fontSize = pointSize;
    item->params.x = item->params.xValue = 0;
    item->params.y = item->params.yValue = 0;
    return item;
}

QSharedPointer<ImageEdited> ImageItem(const QColor& color, int width, int height)
{
    QSharedPointer<ImageEdited> item(new ImageEdited);
    item->image = QImage(width, height, QImage::Format_ARGB32);
    item->image.fill(color);
    item->params.width = item->params.widthValue = width;
    item->params.height = item->params.heightValue = height;
    item->params.aspectRatio = double(height) / width;
    item->params.keepAspectRatio = false;
    item->params.x = item->params.xValue = 0;
    item->params.y = item->params.yValue = 0;
    return item;
}

EditSettings EditsWith(std::initializer_list<QSharedPointer<ItemEdited>> items)
{
    EditSettings edits;
    edits.edited = true;
    for (const QSharedPointer<ItemEdited>& item : items)
        edits.items << item;
    return edits;
}

struct EditWhitePage
{
    using result_type = QImage;
    EditSettings edits;
    QImage operator()(int) const
    {
        QImage page = WhitePage(300, 200);
        ApplyEdits(nullptr, page, edits);
        return page;
    }
};

class UnknownItem : public ItemEdited
{
public:
    int type() const override { return 65540; }
};

} // namespace

class ApplyEditsTest : public QObject
{
    Q_OBJECT

private slots:
    void editSettingsResetAndSharing()
    {
        EditSettings edits;
        QCOMPARE(TextEdited().type(), 65538);
        QCOMPARE(ImageEdited().type(), 65539);
        QSharedPointer<ImageEdited> mark = ImageItem(Qt::red, 4, 4);
        const QWeakPointer<ImageEdited> watch = mark;
        edits.items << mark;
        mark.reset();
        edits.edited = true;
        edits.rfr.resizeEnabled = true;
        edits.rfr.width = 7;
        edits.rfr.angle = 90;

        // A copy shares the items; clearing the copy leaves them to the original.
        EditSettings copy = edits;
        copy.items.clear();
        QVERIFY(!watch.isNull());
        QCOMPARE(edits.items.size(), 1);

        edits.ResetEdits();
        QVERIFY(!edits.edited);
        QVERIFY(!edits.rfr.resizeEnabled);
        QCOMPARE(edits.rfr.width, 1000);
        QCOMPARE(edits.rfr.angle, 0);
        QVERIFY(edits.items.isEmpty());
        QVERIFY(watch.isNull());
    }

    void identityEditsKeepThePage()
    {
        QImage page = WhitePage(40, 30);
        page.setPixelColor(3, 4, Qt::red);
        page.setDotsPerMeterX(5905);
        const QImage before = page;
        EditSettings edits;
        edits.edited = true;
        QCOMPARE(ApplyEdits(nullptr, page, edits), 0);
        QCOMPARE(page, before);
        QCOMPARE(page.dotsPerMeterX(), 5905);
    }

    void pageTransform_data()
    {
        QTest::addColumn<int>("flip");
        QTest::addColumn<int>("angle");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("topLeftGoesTo");
        QTest::addColumn<QPoint>("topRightGoesTo");
        QTest::newRow("rotate 90 clockwise") << 0 << 90 << QSize(300, 400) << QPoint(299, 0) << QPoint(299, 399);
        QTest::newRow("rotate 180") << 0 << 180 << QSize(400, 300) << QPoint(399, 299) << QPoint(0, 299);
        QTest::newRow("mirror left-right") << 1 << 0 << QSize(400, 300) << QPoint(399, 0) << QPoint(0, 0);
        QTest::newRow("mirror top-bottom") << 2 << 0 << QSize(400, 300) << QPoint(0, 299) << QPoint(399, 299);
        // Turned first, mirrored second: mirroring first would send the
        // top-left corner to (299, 399).
        QTest::newRow("rotate 90 then mirror") << 1 << 90 << QSize(300, 400) << QPoint(0, 0) << QPoint(0, 399);
        QTest::newRow("unknown flip is no flip") << 5 << 0 << QSize(400, 300) << QPoint(0, 0) << QPoint(399, 0);
    }

    void pageTransform()
    {
        QFETCH(int, flip);
        QFETCH(int, angle);
        QImage page = WhitePage(400, 300);
        page.setPixelColor(0, 0, Qt::red);
        page.setPixelColor(399, 0, Qt::blue);
        EditSettings edits;
        edits.edited = true;
        edits.rfr.flip = flip;
        edits.rfr.angle = angle;
        QCOMPARE(ApplyEdits(nullptr, page, edits), 0);
        QTEST(page.size(), "size");
        QTEST(InkBox(page, IsRed).topLeft(), "topLeftGoesTo");
        QTEST(InkBox(page, IsBlue).topLeft(), "topRightGoesTo");
    }

    void oddAngleEnlargesWithTransparentCorners()
    {
        QImage page = WhitePage(400, 300);
        EditSettings edits;
        edits.edited = true;
        edits.rfr.angle = 45;
        ApplyEdits(nullptr, page, edits);
        // 400 and 300 turned by 45 degrees span (400 + 300) / sqrt(2) = 495 pixels.
        QVERIFY(qAbs(page.width() - 495) <= 1);
        QVERIFY(qAbs(page.height() - 495) <= 1);
        QVERIFY(page.hasAlphaChannel());
        QCOMPARE(page.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(page.pixelColor(page.width() - 1, page.height() - 1).alpha(), 0);
        QCOMPARE(page.pixelColor(page.width() / 2, page.height() / 2), QColor(Qt::white));
    }

    void resize_data()
    {
        QTest::addColumn<QSize>("page");
        QTest::addColumn<int>("unit");
        QTest::addColumn<bool>("keepAspect");
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<QSize>("values");
        QTest::addColumn<QSize>("expected");
        // Percent ignores the aspect flag.
        QTest::newRow("percent 50 x 200") << QSize(400, 300) << 1 << true << QSize(1, 1) << QSize(50, 200) << QSize(200, 600);
        QTest::newRow("percent halves go up") << QSize(301, 201) << 1 << false << QSize(1, 1) << QSize(50, 50) << QSize(151, 101);
        QTest::newRow("pixels, height follows") << QSize(400, 300) << 0 << true << QSize(200, 999) << QSize(200, 999) << QSize(200, 150);
        QTest::newRow("pixels, followed height rounds up") << QSize(400, 301) << 0 << true << QSize(200, 1) << QSize(200, 1) << QSize(200, 151);
        QTest::newRow("pixels, free height") << QSize(400, 300) << 0 << false << QSize(200, 77) << QSize(200, 77) << QSize(200, 77);
        QTest::newRow("unknown unit takes pixels") << QSize(400, 300) << 9 << true << QSize(100, 5) << QSize(3, 3) << QSize(100, 75);
    }

    void resize()
    {
        QFETCH(QSize, page);
        QFETCH(int, unit);
        QFETCH(bool, keepAspect);
        QFETCH(QSize, pixels);
        QFETCH(QSize, values);
        QImage image = WhitePage(page.width(), page.height());
        EditSettings edits;
        edits.edited = true;
        edits.rfr.resizeEnabled = true;
        edits.rfr.resizeUnit = unit;
        edits.rfr.keepAspectRatio = keepAspect;
        edits.rfr.width = pixels.width();
        edits.rfr.height = pixels.height();
        edits.rfr.widthValue = values.width();
        edits.rfr.heightValue = values.height();
        QCOMPARE(ApplyEdits(nullptr, image, edits), 0);
        QTEST(image.size(), "expected");
    }

    void imageWatermarkSize_data()
    {
        QTest::addColumn<QSize>("page");
        QTest::addColumn<int>("unit");
        QTest::addColumn<bool>("keepAspect");
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<QSize>("values");
        QTest::addColumn<double>("aspect");
        QTest::addColumn<QSize>("expected");
        // Percent with the aspect kept follows the page width only.
        QTest::newRow("percent kept, short page") << QSize(800, 300) << 1 << true << QSize(9, 9) << QSize(25, 90) << 0.5 << QSize(200, 100);
        QTest::newRow("percent kept, tall page") << QSize(800, 900) << 1 << true << QSize(9, 9) << QSize(25, 90) << 0.5 << QSize(200, 100);
        QTest::newRow("percent kept, height rounds up") << QSize(800, 300) << 1 << true << QSize(9, 9) << QSize(25, 1) << 0.2525 << QSize(200, 51);
        QTest::newRow("percent free") << QSize(800, 300) << 1 << false << QSize(9, 9) << QSize(10, 20) << 1.0 << QSize(80, 60);
        QTest::newRow("pixels kept") << QSize(800, 300) << 0 << true << QSize(120, 999) << QSize(1, 1) << 0.25 << QSize(120, 30);
        QTest::newRow("pixels free") << QSize(800, 300) << 0 << false << QSize(33, 44) << QSize(1, 1) << 0.25 << QSize(33, 44);
        QTest::newRow("unknown unit keeps stored pixels") << QSize(800, 300) << 4 << true << QSize(33, 44) << QSize(50, 50) << 3.0 << QSize(33, 44);
    }

    void imageWatermarkSize()
    {
        QFETCH(QSize, page);
        QFETCH(int, unit);
        QFETCH(bool, keepAspect);
        QFETCH(QSize, pixels);
        QFETCH(QSize, values);
        QFETCH(double, aspect);
        QSharedPointer<ImageEdited> mark = ImageItem(Qt::red, 10, 10);
        mark->params.sizeUnit = unit;
        mark->params.keepAspectRatio = keepAspect;
        mark->params.width = pixels.width();
        mark->params.height = pixels.height();
        mark->params.widthValue = values.width();
        mark->params.heightValue = values.height();
        mark->params.aspectRatio = aspect;
        QImage image = WhitePage(page.width(), page.height());
        QCOMPARE(ApplyEdits(nullptr, image, EditsWith({mark})), 0);
        QTEST(InkBox(image, IsRed).size(), "expected");
    }

    void imageWatermarkIsSizedThenTurnedAndPlaced()
    {
        QSharedPointer<ImageEdited> mark = ImageItem(Qt::red, 10, 10);
        mark->params.width = 100;
        mark->params.height = 50;
        mark->params.angle = 90;
        mark->params.positionUnit = SizeUnitPercent;
        mark->params.xValue = 50;
        mark->params.yValue = 50;
        QImage page = WhitePage(301, 201);
        ApplyEdits(nullptr, page, EditsWith({mark}));
        // 150.5 and 100.5 round up to 151 and 101; the turned box is 50 × 100.
        QCOMPARE(InkBox(page, IsRed), QRect(151, 101, 50, 100));
    }

    // Percent refers to the page after its own transform.
    void watermarkPercentFollowsTransformedPage()
    {
        QSharedPointer<ImageEdited> mark = ImageItem(Qt::red, 10, 10);
        mark->params.sizeUnit = SizeUnitPercent;
        mark->params.widthValue = 50;
        mark->params.heightValue = 50;
        QImage page = WhitePage(400, 200);
        EditSettings edits = EditsWith({mark});
        edits.rfr.angle = 90;
        ApplyEdits(nullptr, page, edits);
        QCOMPARE(page.size(), QSize(200, 400));
        QCOMPARE(InkBox(page, IsRed).size(), QSize(100, 200));
    }

    void watermarkOpacityBlends()
    {
        QSharedPointer<ImageEdited> mark = ImageItem(Qt::black, 20, 20);
        mark->params.opacity = 50;
        QImage page = WhitePage(40, 40);
        ApplyEdits(nullptr, page, EditsWith({mark}));
        QVERIFY(qAbs(qGray(page.pixel(10, 10)) - 128) <= 2);
        QCOMPARE(page.pixelColor(30, 30), QColor(Qt::white));
    }

    void laterItemsPaintOverEarlierOnes()
    {
        QSharedPointer<ImageEdited> below = ImageItem(Qt::red, 30, 30);
        QSharedPointer<ImageEdited> above = ImageItem(Qt::blue, 30, 30);
        above->params.x = above->params.xValue = 10;
        QImage page = WhitePage(60, 40);
        ApplyEdits(nullptr, page, EditsWith({below, above}));
        QCOMPARE(page.pixelColor(5, 5), QColor(Qt::red));
        QCOMPARE(page.pixelColor(20, 5), QColor(Qt::blue));
        QCOMPARE(page.pixelColor(35, 5), QColor(Qt::blue));
    }

    // A text position in percent stays fractional (150.5 on 301 pixels), an
    // image position in percent is rounded (151).
    void textPercentPositionIsNotRounded()
    {
        const auto render = [](int unit, int x) {
            QSharedPointer<TextEdited> text = TextItem(QStringLiteral("Il"));
            text->params.positionUnit = unit;
            text->params.x = text->params.xValue = x;
            QImage page = WhitePage(301, 60);
            ApplyEdits(nullptr, page, EditsWith({text}));
            return page;
        };
        const QImage at150 = render(SizeUnitPixels, 150);
        const QImage at151 = render(SizeUnitPixels, 151);
        const QImage atHalf = render(SizeUnitPercent, 50);
        QVERIFY(atHalf != at150);
        QVERIFY(atHalf != at151);
        const double left = InkCentreX(at150);
        const double right = InkCentreX(at151);
        QVERIFY(qAbs(right - left - 1.0) < 0.05);
        QVERIFY2(qAbs(InkCentreX(atHalf) - (left + right) / 2) < 0.15, "text not drawn at 150.5");

        const auto renderImage = [](int unit, int x) {
            QSharedPointer<ImageEdited> mark = ImageItem(Qt::red, 5, 5);
            mark->params.positionUnit = unit;
            mark->params.x = mark->params.xValue = x;
            QImage page = WhitePage(301, 60);
            ApplyEdits(nullptr, page, EditsWith({mark}));
            return page;
        };
        QCOMPARE(renderImage(SizeUnitPercent, 50), renderImage(SizeUnitPixels, 151));
    }

    void textTakesColourAndPercentFontSize()
    {
        QSharedPointer<TextEdited> text = TextItem(QStringLiteral("HHH"));
        text->params.color = Qt::blue;
        QImage page = WhitePage(300, 200);
        ApplyEdits(nullptr, page, EditsWith({text}));
        QVERIFY(!InkBox(page, IsBlue).isEmpty());
        QVERIFY(InkBox(page, [](const QColor& c) { return c.lightness() < 100 && c.blue() < 100; }).isEmpty());

        // 10 % of the page height is the font's pixel size: twice the page, twice the letters.
        const auto capHeight = [](int pageHeight) {
            QSharedPointer<TextEdited> text = TextItem(QStringLiteral("H"));
            text->params.fontUnit = FontUnitPercent;
            text->params.fontSize = 10;
            QImage page = WhitePage(400, pageHeight);
            ApplyEdits(nullptr, page, EditsWith({text}));
            return InkBox(page, [](const QColor& c) { return c.lightness() < 128; }).height();
        };
        const int small = capHeight(400);
        const int large = capHeight(800);
        QVERIFY2(small > 20 && small < 40, qPrintable(QString::number(small)));
        QVERIFY(qAbs(large - 2 * small) <= 2);
    }

    void storedDocumentIsNeverChanged()
    {
        QSharedPointer<TextEdited> text = TextItem(QStringLiteral("stays"));
        text->params.fontUnit = FontUnitPercent;
        text->params.fontSize = 50;
        const QFont font = text->document->defaultFont();
        const QSizeF pageSize = text->document->pageSize();
        QImage page = WhitePage(200, 100);
        ApplyEdits(nullptr, page, EditsWith({text}));
        QCOMPARE(text->document->defaultFont(), font);
        QCOMPARE(text->document->pageSize(), pageSize);
        QCOMPARE(text->document->toPlainText(), QStringLiteral("stays"));
    }

    // Paletted and monochrome pages are painted in 32 bits instead of losing the mark.
    void watermarkOnPageThePainterCannotDraw_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("paletted") << int(QImage::Format_Indexed8);
        QTest::newRow("monochrome") << int(QImage::Format_Mono);
        QTest::newRow("monochrome lsb") << int(QImage::Format_MonoLSB);
    }

    void watermarkOnPageThePainterCannotDraw()
    {
        QFETCH(int, format);
        QImage page = WhitePage(40, 40).convertToFormat(QImage::Format(format));
        QCOMPARE(int(page.format()), format);
        QSharedPointer<ImageEdited> mark = ImageItem(Qt::red, 10, 10);
        QSharedPointer<TextEdited> text = TextItem(QStringLiteral("I"));
        text->params.color = Qt::blue;
        text->params.x = text->params.xValue = 20;
        ApplyEdits(nullptr, page, EditsWith({mark, text}));
        QCOMPARE(InkBox(page, IsRed), QRect(0, 0, 10, 10));
        QVERIFY(!InkBox(page, IsBlue).isEmpty());
        QCOMPARE(page.pixelColor(35, 35), QColor(Qt::white));
    }

    void unknownAndEmptyItemsDrawNothing()
    {
        // Null records draw nothing either.
        EditSettings edits = EditsWith({QSharedPointer<ItemEdited>(new UnknownItem), QSharedPointer<ItemEdited>(),
                                        QSharedPointer<ItemEdited>(new TextEdited),
                                        QSharedPointer<ItemEdited>(new ImageEdited), ImageItem(Qt::red, 5, 5)});
        const TrippingCancelFlag never(1000);
        QImage page = WhitePage(20, 20, QImage::Format_Indexed8);
        QCOMPARE(ApplyEdits(&never, page, edits), 0);
        QCOMPARE(InkBox(page, IsRed), QRect(0, 0, 5, 5));
        // One check after the transform, one after each stored watermark.
        QCOMPARE(never.Polls(), 4);
    }

    // Check points: after the transform, after each item.
    void cancelAtEachCheckPoint_data()
    {
        QTest::addColumn<int>("tripAt");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("textDrawn");
        QTest::addColumn<bool>("imageDrawn");
        QTest::newRow("before any watermark") << 1 << 2 << false << false;
        QTest::newRow("after the text") << 2 << 2 << true << false;
        QTest::newRow("after the image") << 3 << 2 << true << true;
        QTest::newRow("never") << 4 << 0 << true << true;
    }

    void cancelAtEachCheckPoint()
    {
        QFETCH(int, tripAt);
        QSharedPointer<TextEdited> text = TextItem(QStringLiteral("HH"));
        text->params.color = Qt::blue;
        QSharedPointer<ImageEdited> mark = ImageItem(Qt::red, 10, 10);
        mark->params.x = mark->params.xValue = 100;
        EditSettings edits = EditsWith({text, mark});
        edits.rfr.angle = 90;
        QImage page = WhitePage(200, 150);
        const TrippingCancelFlag cancel(tripAt);
        QTEST(ApplyEdits(&cancel, page, edits), "result");
        // The page transform always happens before the first check.
        QCOMPARE(page.size(), QSize(150, 200));
        QTEST(!InkBox(page, IsBlue).isEmpty(), "textDrawn");
        QTEST(!InkBox(page, IsRed).isEmpty(), "imageDrawn");
    }

    // Workers apply one shared set of edits at once; every page must come out
    // as it does alone.
    void concurrentPagesShareTheItems()
    {
        QSharedPointer<TextEdited> text = TextItem(QStringLiteral("shared text"));
        text->params.fontUnit = FontUnitPercent;
        text->params.fontSize = 20;
        QSharedPointer<ImageEdited> mark = ImageItem(QColor(0, 128, 0, 200), 30, 10);
        mark->params.angle = 30;
        EditSettings edits = EditsWith({text, mark});
        edits.rfr.resizeEnabled = true;
        edits.rfr.width = 150;

        QImage expected = WhitePage(300, 200);
        ApplyEdits(nullptr, expected, edits);
        const QList<int> pages(QVector<int>(32, 0).toList());
        const QList<QImage> results = QtConcurrent::blockingMapped(pages, EditWhitePage{edits});
        for (const QImage& result : results)
            QCOMPARE(result, expected);
    }
};

KORVANE_TEST_MAIN(ApplyEditsTest)
#include "tst_applyedits.moc"
