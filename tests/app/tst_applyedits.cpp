// The edit settings record and their application to a page.
#include "applyedits.h"
#include "testsupport.h"
#include "tst_enginesupport.h"

namespace {

QImage WhitePage(int width, int height) { return Filled(width, height, Qt::white).convertToFormat(QImage::Format_RGB32); }

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

} // namespace

class ApplyEditsTest : public QObject
{
    Q_OBJECT

private slots:

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
        // Turned first, mirrored second: mirroring first would send the top-left corner to (299, 399).
        QTest::newRow("rotate 90 then mirror") << 1 << 90 << QSize(300, 400) << QPoint(0, 0) << QPoint(0, 399);
        QTest::newRow("unknown flip, no turn: the page as it was") << 5 << 0 << QSize(400, 300) << QPoint(0, 0) << QPoint(399, 0);
    }

    void pageTransform()
    {
        QFETCH(int, flip);
        QFETCH(int, angle);
        QImage page = WhitePage(400, 300);
        page.setPixelColor(0, 0, Qt::red);
        page.setPixelColor(399, 0, Qt::blue);
        page.setDotsPerMeterX(5905);
        EditSettings edits;
        edits.edited = true;
        edits.rfr.flip = flip;
        edits.rfr.angle = angle;
        QCOMPARE(ApplyEdits(nullptr, page, edits), 0);
        QTEST(page.size(), "size");
        QTEST(InkBox(page, IsRed).topLeft(), "topLeftGoesTo");
        QTEST(InkBox(page, IsBlue).topLeft(), "topRightGoesTo");
        QCOMPARE(page.dotsPerMeterX(), 5905);
        QCOMPARE(InkBox(page, IsRed).size() + InkBox(page, IsBlue).size(), QSize(2, 2));
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

    // Sized, then turned, then placed; percent refers to the page after its own transform, and a percent position
    // rounds up (150.5 to 151).
    void imageWatermarkBox_data()
    {
        QTest::addColumn<QSize>("page");
        QTest::addColumn<int>("unit");
        QTest::addColumn<bool>("keepAspect");
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<QSize>("values");
        QTest::addColumn<double>("aspect");
        QTest::addColumn<QVector<int>>("turns");        // the mark's angle, the page's angle
        QTest::addColumn<QPoint>("percentPos");         // (-1, -1): at 0, 0 in pixels
        QTest::addColumn<QRect>("expected");
        const QVector<int> none{0, 0};
        const QPoint origin(-1, -1);
        // Percent with the aspect kept follows the page width only.
        QTest::newRow("percent kept, short page") << QSize(800, 300) << 1 << true << QSize(9, 9) << QSize(25, 90) << 0.5 << none << origin << QRect(0, 0, 200, 100);
        QTest::newRow("percent kept, tall page") << QSize(800, 900) << 1 << true << QSize(9, 9) << QSize(25, 90) << 0.5 << none << origin << QRect(0, 0, 200, 100);
        QTest::newRow("percent kept, height rounds up") << QSize(800, 300) << 1 << true << QSize(9, 9) << QSize(25, 1) << 0.2525 << none << origin << QRect(0, 0, 200, 51);
        QTest::newRow("percent free") << QSize(800, 300) << 1 << false << QSize(9, 9) << QSize(10, 20) << 1.0 << none << origin << QRect(0, 0, 80, 60);
        QTest::newRow("pixels kept") << QSize(800, 300) << 0 << true << QSize(120, 999) << QSize(1, 1) << 0.25 << none << origin << QRect(0, 0, 120, 30);
        QTest::newRow("pixels free") << QSize(800, 300) << 0 << false << QSize(33, 44) << QSize(1, 1) << 0.25 << none << origin << QRect(0, 0, 33, 44);
        QTest::newRow("unknown unit keeps stored pixels") << QSize(800, 300) << 4 << true << QSize(33, 44) << QSize(50, 50) << 3.0 << none << origin << QRect(0, 0, 33, 44);
        QTest::newRow("turned, placed at the centre") << QSize(301, 201) << 0 << false << QSize(100, 50) << QSize(1, 1) << 0.5 << QVector<int>{90, 0} << QPoint(50, 50) << QRect(151, 101, 50, 100);
        QTest::newRow("percent of the turned page") << QSize(400, 200) << 1 << false << QSize(9, 9) << QSize(50, 50) << 1.0 << QVector<int>{0, 90} << origin << QRect(0, 0, 100, 200);
    }

    void imageWatermarkBox()
    {
        QFETCH(QSize, page);
        QFETCH(QSize, pixels);
        QFETCH(QSize, values);
        QFETCH(QVector<int>, turns);
        QFETCH(QPoint, percentPos);
        QSharedPointer<ImageEdited> mark = ImageItem(Qt::red, 10, 10);
        QFETCH(int, unit);
        mark->params.sizeUnit = unit;
        QFETCH(bool, keepAspect);
        mark->params.keepAspectRatio = keepAspect;
        mark->params.width = pixels.width();
        mark->params.height = pixels.height();
        mark->params.widthValue = values.width();
        mark->params.heightValue = values.height();
        QFETCH(double, aspect);
        mark->params.aspectRatio = aspect;
        mark->params.angle = turns.at(0);
        if (percentPos.x() >= 0) {
            mark->params.positionUnit = SizeUnitPercent;
            mark->params.xValue = percentPos.x();
            mark->params.yValue = percentPos.y();
        }
        EditSettings edits = EditsWith({mark});
        edits.rfr.angle = turns.at(1);
        QImage image = WhitePage(page.width(), page.height());
        QCOMPARE(ApplyEdits(nullptr, image, edits), 0);
        QTEST(InkBox(image, IsRed), "expected");
    }

    // Later items paint over earlier ones; opacity blends.
    void watermarksStackAndBlend()
    {
        QSharedPointer<ImageEdited> below = ImageItem(Qt::red, 30, 30);
        QSharedPointer<ImageEdited> above = ImageItem(Qt::blue, 30, 30);
        above->params.x = above->params.xValue = 10;
        QSharedPointer<ImageEdited> half = ImageItem(Qt::black, 20, 20);
        half->params.x = half->params.xValue = 50;
        half->params.opacity = 50;
        QImage page = WhitePage(80, 40);
        ApplyEdits(nullptr, page, EditsWith({below, above, half}));
        QCOMPARE(QVector<QColor>({page.pixelColor(5, 5), page.pixelColor(20, 5), page.pixelColor(35, 5), page.pixelColor(60, 30)}),
                 QVector<QColor>({Qt::red, Qt::blue, Qt::blue, Qt::white}));
        QVERIFY(qAbs(qGray(page.pixel(60, 10)) - 128) <= 2);
    }

    // Workers apply one shared set of edits at once; every page must come out as it does alone.
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
        const auto edit = [&edits] {
            QImage page = WhitePage(300, 200);
            ApplyEdits(nullptr, page, edits);
            return page;
        };
        const QImage expected = edit();
        QList<QFuture<QImage>> results;
        for (int i = 0; i < 32; ++i)
            results << QtConcurrent::run(edit);
        for (QFuture<QImage>& result : results)
            QCOMPARE(result.result(), expected);
    }
};

KORVANE_TEST_MAIN(ApplyEditsTest)
#include "tst_applyedits.moc"
