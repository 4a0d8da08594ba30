#include "pdfreader.h"

#include "jail.h"
#include "graphics/plugincontract.h"

#include <poppler-qt5.h>

#include <QColor>
#include <QDataStream>
#include <QDateTime>
#include <QDebug>
#include <QIODevice>
#include <QtMath>

#include <climits>
#include <memory>

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

// Time Poppler may take to open a document, and to render one page.
const int kOpenTimeoutMs = 20000;
const int kRenderTimeoutMs = 60000;

// The document as rendered: antialiased, on white paper. Null when Poppler
// cannot open it, it needs a password or it has no pages.
Poppler::Document* OpenDocument(const QByteArray& data)
{
    std::unique_ptr<Poppler::Document> document(Poppler::Document::loadFromData(data));
    if (!document || document->isLocked() || document->numPages() <= 0)
        return nullptr;
    document->setRenderHint(Poppler::Document::Antialiasing, true);
    document->setRenderHint(Poppler::Document::TextAntialiasing, true);
    document->setPaperColor(Qt::white);
    return document.release();
}

// The document information as metadata keys and values. Values travel as
// "key: value" text that the reader splits at blank lines and simplifies, so
// line breaks and runs of blanks become one blank.
void DocumentInfo(const Poppler::Document& document, QStringList& keys, QStringList& values)
{
    keys.clear();
    values.clear();
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
        add(field, document.info(QLatin1String(field)));
    for (const char* field : DateFields) {
        const QDateTime date = document.date(QLatin1String(field));
        add(field, date.isValid() ? date.toString(Qt::ISODate) : document.info(QLatin1String(field)));
    }
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
    return PluginContract::RenderDpi(quality);
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
    // In the child: the page count, each page's size in points (as numbers,
    // in hundredths of a point) and the document information.
    const auto open = [&data](Jail::Result& out) {
        std::unique_ptr<Poppler::Document> document(OpenDocument(data));
        if (!document)
            return false;
        const int pages = document->numPages();
        out.numbers << pages;
        for (int i = 0; i < pages && i < Jail::MaxNumbers / 2 - 1; ++i) {
            std::unique_ptr<Poppler::Page> page(document->page(i));
            const QSizeF points = page ? page->pageSizeF() : QSizeF();
            out.numbers << qRound64(points.width() * 100) << qRound64(points.height() * 100);
        }
        QStringList keys, values;
        DocumentInfo(*document, keys, values);
        QDataStream stream(&out.data, QIODevice::WriteOnly);
        stream << keys << values;
        return true;
    };
    Jail::Result opened;
    if (!Jail::Run(open, kOpenTimeoutMs, opened) || opened.numbers.isEmpty()) {
        qWarning() << "PdfReader::Load   Poppler cannot open the document";
        return false;
    }
    const int pages = int(opened.numbers.first());
    if (pages <= 0 || opened.numbers.size() < 1 + 2 * pages) {
        qWarning() << "PdfReader::Load   document has no pages";
        return false;
    }
    lPageSizes.clear();
    for (int i = 0; i < pages; ++i)
        lPageSizes << QSizeF(opened.numbers.at(1 + 2 * i) / 100.0, opened.numbers.at(2 + 2 * i) / 100.0);
    QDataStream stream(opened.data);
    stream >> slInfoKeys >> slInfoValues;
    if (stream.status() != QDataStream::Ok || slInfoKeys.size() != slInfoValues.size()) {
        slInfoKeys.clear();
        slInfoValues.clear();
    }

    baDocument = data;
    bLoaded = true;
    bLoadFailed = false;
    iPage = 0;
    return true;
}

int PdfReader::PageCount() const
{
    return lPageSizes.size();
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
    if (iPage < 0 || iPage >= PageCount())
        return QSize();
    // The renderer sizes its bitmap as the page size in points times dpi / 72,
    // rounded to the nearest pixel; answer the same numbers.
    const QSizeF points = lPageSizes.at(iPage);
    if (points.width() <= 0 || points.height() <= 0)
        return QSize();
    return QSize(int(points.width() * dpi / 72.0 + 0.5), int(points.height() * dpi / 72.0 + 0.5));
}

bool PdfReader::Read(QImage* image, int dpi)
{
    if (!image)
        return false;
    if (!bLoaded || iPage < 0 || iPage >= PageCount()) {
        qWarning() << "PdfReader::Read   no page" << iPage;
        return false;
    }
    const QSize size = PageSize(dpi);
    if (!RenderableSize(size)) {
        qWarning() << "PdfReader::Read   page" << iPage << "too large at" << dpi << "DPI:" << size;
        return false;
    }
    const QByteArray& data = baDocument;
    const int index = iPage;
    QImage rendered = Jail::Run(
        [&data, index, dpi]() {
            std::unique_ptr<Poppler::Document> document(OpenDocument(data));
            std::unique_ptr<Poppler::Page> page(document ? document->page(index) : nullptr);
            if (!page)
                return QImage();
            QImage picture = page->renderToImage(dpi, dpi);
            // The paper is opaque white: there is no transparency to keep.
            if (!picture.isNull() && picture.format() != QImage::Format_RGB32)
                picture = picture.convertToFormat(QImage::Format_RGB32);
            return picture;
        },
        kRenderTimeoutMs);
    if (rendered.isNull()) {
        qWarning() << "PdfReader::Read   rendering page" << iPage << "failed";
        return false;
    }

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
    keys = slInfoKeys;
    values = slInfoValues;
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
