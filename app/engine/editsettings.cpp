#include "editsettings.h"

#include "applyedits.h"

#include <QCoreApplication>
#include <QFontInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QTextDocument>

QStringList SizeUnitNames()
{
    return {QCoreApplication::translate("EditSettings", "pixels"),
            QCoreApplication::translate("EditSettings", "percentage of source size")};
}

QStringList FontUnitNames()
{
    return {QCoreApplication::translate("EditSettings", "points"),
            QCoreApplication::translate("EditSettings", "pixels"),
            QCoreApplication::translate("EditSettings", "percentage of source height")};
}

QStringList FlipModeNames()
{
    return {QCoreApplication::translate("EditSettings", "None"),
            QCoreApplication::translate("EditSettings", "Horizontal"),
            QCoreApplication::translate("EditSettings", "Vertical")};
}

double TextPointsPerPixel()
{
    // A large size keeps the font engine's whole-pixel rounding negligible.
    QFont font;
    font.setPointSizeF(720.0);
    const int pixels = QFontInfo(font).pixelSize();
    return pixels > 0 ? 720.0 / pixels : 0.75;
}

int TextPointSize(int fontUnit, int fontSize, int pageHeight, double pointsPerPixel)
{
    double points = fontSize;
    if (fontUnit == FontUnitPixels)
        points = fontSize * pointsPerPixel;
    else if (fontUnit == FontUnitPercent)
        points = pageHeight * fontSize * pointsPerPixel / 100.0;
    return qMax(1, RoundHalfUp(points));
}

TextParams::TextParams()
{
    fontSize = font.pointSize();
    if (fontSize <= 0)          // a default font given in pixels
        fontSize = QFontInfo(font).pointSize();
}

ItemEdited::~ItemEdited() = default;

int TextEdited::type() const
{
    return TextItemType;
}

QSharedPointer<QTextDocument> TextEdited::CloneDocument() const
{
    if (!document)
        return QSharedPointer<QTextDocument>();
    // Cloning reads the document through a cursor, and a cursor registers
    // itself with the document: concurrent clones must not overlap.
    static QMutex cloneMutex;
    QMutexLocker locker(&cloneMutex);
    return QSharedPointer<QTextDocument>(document->clone(nullptr));
}

int ImageEdited::type() const
{
    return ImageItemType;
}

void EditSettings::ResetEdits()
{
    edited = false;
    rfr = RFRParams();
    items.clear();
}
