#include "pdfreader.h"

#include <poppler-qt5.h>

#include <QColor>
#include <QDateTime>
#include <QDebug>
#include <QIODevice>
#include <QtMath>

#include <climits>

namespace {

// Metadata keys: "PDF10" declares category 10 (custom); each field follows as
// that key plus the field name, for example "PDF10Title".
const QString sCategoryKey = QStringLiteral("PDF10");

const char* const InfoFields[] = {
    "Title", "Author", "Subject", "Keywords", "Creator", "Producer",
};
const char* const DateFields[] = {
    "CreationDate", "ModDate",
};

// A rendered page must fit one QImage: 32 bits per pixel and at most INT_MAX
// bytes. Larger requests fail instead of letting the renderer run out of memory.
bool RenderableSize(const QSize& size)
{
    if (size.width() <= 0 || size.height() <= 0)
        return false;
    return qint64(size.width()) * 4 * qint64(size.height()) <= qint64(INT_MAX);
}

} // namespace

PdfReader::PdfReader()
    : bLoaded(false)
    , bLoadFailed(false)
    , iPage(0)
{
}

PdfReader::~PdfReader() = default;

int PdfReader::DpiFromQuality(int quality)
{
    if (quality < 0)
        return 72;
    const int dpi = (quality >> 16) & 0xFFFF;
    return dpi > 0 ? dpi : 72;
}

bool PdfReader::Load(QIODevice* device)
{
    if (bLoaded)
        return true;
    if (bLoadFailed)
        return false;
    bLoadFailed = true;   // until proven otherwise

    if (!device || !device->isReadable()) {
        qWarning() << "PdfReader::Load   device not readable";
        return false;
    }
    const QByteArray data = device->readAll();
    if (!data.startsWith("%PDF-")) {
        qWarning() << "PdfReader::Load   no PDF signature";
        return false;
    }
    // loadFromData copies the bytes, so the document does not depend on the
    // device, which may go away before the reader.
    std::unique_ptr<Poppler::Document> document(Poppler::Document::loadFromData(data));
    if (!document) {
        qWarning() << "PdfReader::Load   Poppler cannot open the document";
        return false;
    }
    if (document->isLocked()) {
        qWarning() << "PdfReader::Load   document needs a password";
        return false;
    }
    if (document->numPages() <= 0) {
        qWarning() << "PdfReader::Load   document has no pages";
        return false;
    }
    document->setRenderHint(Poppler::Document::Antialiasing, true);
    document->setRenderHint(Poppler::Document::TextAntialiasing, true);
    document->setPaperColor(Qt::white);

    pDocument = std::move(document);
    bLoaded = true;
    bLoadFailed = false;
    iPage = 0;
    return true;
}

int PdfReader::PageCount() const
{
    return pDocument ? pDocument->numPages() : 0;
}

bool PdfReader::JumpToPage(int page)
{
    if (page < 0 || page >= PageCount())
        return false;
    iPage = page;
    return true;
}

QSize PdfReader::PageSize(int dpi) const
{
    if (!pDocument || iPage < 0 || iPage >= PageCount())
        return QSize();
    std::unique_ptr<Poppler::Page> page(pDocument->page(iPage));
    if (!page)
        return QSize();
    // The renderer sizes its bitmap as the page size in points times dpi / 72,
    // rounded to the nearest pixel; answer the same numbers.
    const QSizeF points = page->pageSizeF();
    return QSize(int(points.width() * dpi / 72.0 + 0.5), int(points.height() * dpi / 72.0 + 0.5));
}

bool PdfReader::Read(QImage* image, int dpi)
{
    if (!image)
        return false;
    if (!pDocument || iPage < 0 || iPage >= PageCount()) {
        qWarning() << "PdfReader::Read   no page" << iPage;
        return false;
    }
    const QSize size = PageSize(dpi);
    if (!RenderableSize(size)) {
        qWarning() << "PdfReader::Read   page" << iPage << "too large at" << dpi << "DPI:" << size;
        return false;
    }
    std::unique_ptr<Poppler::Page> page(pDocument->page(iPage));
    if (!page) {
        qWarning() << "PdfReader::Read   page" << iPage << "cannot be parsed";
        return false;
    }
    QImage rendered = page->renderToImage(dpi, dpi);
    if (rendered.isNull()) {
        qWarning() << "PdfReader::Read   rendering page" << iPage << "failed";
        return false;
    }
    // The paper is opaque white: there is no transparency to keep.
    if (rendered.format() != QImage::Format_RGB32)
        rendered = rendered.convertToFormat(QImage::Format_RGB32);

    const int dpm = qRound(dpi * 1000 / 25.4);
    rendered.setDotsPerMeterX(dpm);
    rendered.setDotsPerMeterY(dpm);

    QStringList keys, values;
    InfoText(keys, values);
    for (int i = 0; i < keys.size(); ++i)
        rendered.setText(keys.at(i), values.at(i));

    *image = rendered;
    ++iPage;
    return true;
}

void PdfReader::InfoText(QStringList& keys, QStringList& values) const
{
    keys.clear();
    values.clear();
    if (!pDocument)
        return;

    // Values travel as "key: value" text that the reader splits at blank
    // lines and simplifies, so line breaks and runs of blanks become one blank.
    auto add = [&](const char* field, const QString& value) {
        const QString simple = value.simplified();
        if (simple.isEmpty())
            return;
        if (keys.isEmpty()) {
            keys << sCategoryKey;
            values << QString();
        }
        keys << sCategoryKey + QLatin1String(field);
        values << simple;
    };
    for (const char* field : InfoFields)
        add(field, pDocument->info(QLatin1String(field)));
    for (const char* field : DateFields) {
        const QDateTime date = pDocument->date(QLatin1String(field));
        add(field, date.isValid() ? date.toString(Qt::ISODate) : pDocument->info(QLatin1String(field)));
    }
}

QString PdfReader::Description() const
{
    QStringList keys, values;
    InfoText(keys, values);
    QStringList pairs;
    for (int i = 0; i < keys.size(); ++i)
        pairs << keys.at(i) + QLatin1String(": ") + values.at(i);
    return pairs.join(QLatin1String("\n\n"));
}
