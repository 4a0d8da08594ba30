#include "cliedits.h"

#include "applyedits.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QImageReader>
#include <QRegularExpression>
#include <QTextDocument>

namespace {

// Sides in pixels beyond this are refused: nothing that large can be decoded.
const int kMaxPixels = 65535;
// The editor's ranges: a page resize up to 500 %, a watermark up to the page.
const int kMaxResizePercent = 500;
const int kMaxWatermarkPercent = 100;

QString Tr(const char* text)
{
    return QCoreApplication::translate("CliEdits", text);
}

// W, WxH, P%, PxQ% and P%xQ% (a trailing "!" is allowed): the sides, whether
// they are percent, and whether the height was given.
struct Geometry
{
    int width = 0;
    int height = 0;
    bool percent = false;
    bool bothSides = false;
};

bool ReadGeometry(const QString& value, Geometry& geometry)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,6})(%?)(?:[xX](?:(\\d{1,6})(%?))?)?(!?)$"));
    const QRegularExpressionMatch match = pattern.match(value.trimmed());
    if (!match.hasMatch())
        return false;
    geometry.width = match.captured(1).toInt();
    geometry.bothSides = !match.captured(3).isEmpty();
    geometry.height = geometry.bothSides ? match.captured(3).toInt() : geometry.width;
    geometry.percent = !match.captured(2).isEmpty() || !match.captured(4).isEmpty();
    return true;
}

QString CheckSides(const Geometry& geometry, int maxPercent)
{
    const int maximum = geometry.percent ? maxPercent : kMaxPixels;
    if (geometry.width < 1 || geometry.height < 1 || geometry.width > maximum || geometry.height > maximum)
        return geometry.percent ? Tr("sizes in percent go from 1 to %1").arg(maxPercent)
                                : Tr("sizes in pixels go from 1 to %1").arg(kMaxPixels);
    return QString();
}

QString Normalized(const QString& name)
{
    return name.trimmed().toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
}

// The position of a name in a list of display names, compared as options
// spell them (lower case, blanks as dashes); -1 when absent.
int IndexOfName(const QStringList& names, const QString& value)
{
    for (int i = 0; i < names.size(); ++i) {
        if (Normalized(names.at(i)) == Normalized(value))
            return i;
    }
    return -1;
}

QString NameList(const QStringList& names)
{
    QStringList spelled;
    for (const QString& name : names)
        spelled << Normalized(name);
    return spelled.join(QStringLiteral(", "));
}

} // namespace

QString ReadResize(const QString& value, RFRParams& rfr)
{
    Geometry geometry;
    if (!ReadGeometry(value, geometry))
        return Tr("give W, WxH, P% or PxQ% (the height alone cannot be given: it follows the width)");
    const QString range = CheckSides(geometry, kMaxResizePercent);
    if (!range.isEmpty())
        return range;
    rfr.resizeEnabled = true;
    rfr.resizeUnit = geometry.percent ? SizeUnitPercent : SizeUnitPixels;
    // One side given: the other keeps the page's aspect ratio. In percent
    // the same number on both sides does.
    rfr.keepAspectRatio = !geometry.bothSides;
    rfr.width = rfr.widthValue = geometry.width;
    rfr.height = rfr.heightValue = geometry.height;
    return QString();
}

QString ReadFlip(const QString& value, int& flip)
{
    const int index = IndexOfName(FlipModeNames(), value);
    if (index < 0)
        return Tr("give one of %1").arg(NameList(FlipModeNames()));
    flip = index;
    return QString();
}

QString ReadAngle(const QString& value, int& angle)
{
    bool number = false;
    const int degrees = value.trimmed().toInt(&number);
    if (!number || degrees < -360 || degrees > 360)
        return Tr("give whole degrees from -360 to 360");
    angle = ((degrees % 360) + 360) % 360;
    return QString();
}

QString ReadOpacity(const QString& value, int& opacity)
{
    bool number = false;
    const int percent = QString(value.trimmed()).remove(QLatin1Char('%')).toInt(&number);
    if (!number || percent < 0 || percent > 100)
        return Tr("give a percentage from 0 to 100");
    opacity = percent;
    return QString();
}

QString ReadPosition(const QString& value, int& unit, int& x, int& y, int& xValue, int& yValue)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,6})(%?),(\\d{1,6})(%?)$"));
    const QRegularExpressionMatch match = pattern.match(value.trimmed());
    if (!match.hasMatch() || match.captured(2) != match.captured(4))
        return Tr("give X,Y in pixels or X%,Y% in percent of the page");
    const bool percent = !match.captured(2).isEmpty();
    const int left = match.captured(1).toInt();
    const int top = match.captured(3).toInt();
    if (percent && (left > 100 || top > 100))
        return Tr("positions in percent go from 0 to 100");
    if (!percent && (left > kMaxPixels || top > kMaxPixels))
        return Tr("positions in pixels go from 0 to %1").arg(kMaxPixels);
    unit = percent ? SizeUnitPercent : SizeUnitPixels;
    xValue = left;
    yValue = top;
    // In percent the pixel fields are resolved against each page when it is drawn.
    x = percent ? 0 : left;
    y = percent ? 0 : top;
    return QString();
}

QString ReadTextSize(const QString& value, TextParams& params)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,6})(pt|px|%)?$"));
    const QRegularExpressionMatch match = pattern.match(value.trimmed().toLower());
    if (!match.hasMatch())
        return Tr("give N or Npt (points), Npx (pixels) or N% (percent of the page height)");
    const int size = match.captured(1).toInt();
    const QString unit = match.captured(2);
    const int unitValue = unit == QLatin1String("px") ? FontUnitPixels
                          : unit == QLatin1String("%") ? FontUnitPercent
                                                       : FontUnitPoints;
    const int maximum = unitValue == FontUnitPercent ? 100 : kMaxPixels;
    if (size < 1 || size > maximum)
        return Tr("text sizes go from 1 to %1").arg(maximum);
    params.fontUnit = unitValue;
    params.fontSize = size;
    // A size in percent becomes a pixel size of each page when it is drawn.
    if (unitValue != FontUnitPercent)
        params.font.setPointSize(TextPointSize(unitValue, size, 0, TextPointsPerPixel()));
    return QString();
}

QString ReadTextFont(const QString& value, TextParams& params)
{
    const QStringList families = QFontDatabase().families();
    for (const QString& family : families) {
        if (family.compare(value.trimmed(), Qt::CaseInsensitive) == 0) {
            params.font.setFamily(family);
            return QString();
        }
    }
    return Tr("no font family of that name is installed");
}

QString ReadTextStyle(const QString& value, TextParams& params)
{
    QFont& font = params.font;
    for (const QString& style : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = style.trimmed().toLower();
        if (name == QLatin1String("bold")) {
            font.setWeight(QFont::Bold);
        } else if (name == QLatin1String("italic")) {
            font.setItalic(true);
        } else if (name == QLatin1String("underline")) {
            font.setUnderline(true);
        } else if (name == QLatin1String("normal")) {
            font.setWeight(QFont::Normal);
            font.setItalic(false);
            font.setUnderline(false);
        } else {
            return Tr("give bold, italic, underline or normal, separated by commas");
        }
    }
    return QString();
}

QString ReadTextColor(const QString& value, TextParams& params)
{
    const QColor color(value.trimmed());
    if (!color.isValid())
        return Tr("give a colour name such as red, #rrggbb or #aarrggbb");
    params.color = color;
    return QString();
}

CliText NewCliText(const QString& text)
{
    CliText item;
    item.text = text;
    item.params.x = item.params.y = item.params.xValue = item.params.yValue = 0;
    return item;
}

CliImage NewCliImage(const QString& file)
{
    CliImage item;
    item.file = file;
    item.params.x = item.params.y = item.params.xValue = item.params.yValue = 0;
    return item;
}

QString CheckImageSize(const QString& value)
{
    Geometry geometry;
    if (!ReadGeometry(value, geometry))
        return Tr("give W, WxH, P% or PxQ%");
    return CheckSides(geometry, kMaxWatermarkPercent);
}

QSharedPointer<ItemEdited> MakeTextItem(const CliText& text, double z)
{
    QSharedPointer<TextEdited> item(new TextEdited);
    item->params = text.params;
    // What the editor's text item holds: the plain text in the stored font.
    QSharedPointer<QTextDocument> document(new QTextDocument);
    document->setDefaultFont(text.params.font);
    document->setPlainText(text.text);
    item->document = document;
    item->zValue = z;
    return item;
}

QSharedPointer<ItemEdited> MakeImageItem(const CliImage& image, double z, QString& error)
{
    QImageReader reader(image.file);
    reader.setAutoTransform(true);
    const QImage picture = reader.read();
    if (picture.isNull()) {
        error = Tr("the picture %1 cannot be read: %2").arg(image.file, reader.errorString());
        return QSharedPointer<ItemEdited>();
    }
    QSharedPointer<ImageEdited> item(new ImageEdited);
    item->image = picture;
    item->zValue = z;
    ImageParams& params = item->params;
    params = image.params;
    // The aspect ratio of the picture as it is placed; a page-relative size
    // is resolved against each page when it is drawn.
    params.aspectRatio = double(picture.height()) / picture.width();
    params.sizeUnit = SizeUnitPixels;
    params.keepAspectRatio = true;
    params.width = params.widthValue = picture.width();
    params.height = params.heightValue = picture.height();
    Geometry geometry;
    if (!image.size.isEmpty() && ReadGeometry(image.size, geometry)) {
        params.sizeUnit = geometry.percent ? SizeUnitPercent : SizeUnitPixels;
        params.keepAspectRatio = !geometry.bothSides;
        params.widthValue = geometry.width;
        params.heightValue = geometry.height;
        if (!geometry.percent) {
            params.width = geometry.width;
            params.height = geometry.bothSides ? geometry.height : qMax(1, RoundHalfUp(geometry.width * params.aspectRatio));
            params.heightValue = params.height;
        }
    }
    return item;
}
