// Renders the pages of one PDF document with Poppler, in a child process:
// Poppler's parser and renderer are not hardened against hostile documents
// (forms that draw forms render for minutes), so a document that crashes,
// stalls or outgrows its memory fails the read instead of the program.
#ifndef KORVANE_PDF_READER_H
#define KORVANE_PDF_READER_H

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <QVector>

class QIODevice;

class PdfReader
{
public:
    PdfReader();
    ~PdfReader();

    // Loads the document from the rest of the device, once; later calls answer
    // the first outcome. False for anything Poppler cannot open, a document
    // that needs a password and a document without pages. The page sizes and
    // the document information are taken then; pages are rendered later.
    bool Load(QIODevice* device);
    bool IsLoaded() const { return bLoaded; }
    bool LoadFailed() const { return bLoadFailed; }

    int PageCount() const;
    int CurrentPage() const { return iPage; }
    bool JumpToPage(int page);

    // Size in pixels the current page renders to at dpi; invalid when there is
    // no such page.
    QSize PageSize(int dpi) const;

    // Renders the current page at dpi on white and moves to the next page.
    bool Read(QImage* image, int dpi);

    // The document information as "key: value" pairs separated by blank lines,
    // the way QImageReader splits a handler's description into text keys.
    QString Description() const;

    // The same information as parallel key and value lists.
    void InfoText(QStringList& keys, QStringList& values) const;

    // The rendering resolution carried by a reader's quality value: its high
    // 16 bits, or 72 when they are 0 or the quality is unset.
    static int DpiFromQuality(int quality);

private:
    QByteArray baDocument;
    QVector<QSizeF> lPageSizes;       // in points
    QStringList slInfoKeys;
    QStringList slInfoValues;
    bool bLoaded;
    bool bLoadFailed;
    int iPage;
};

#endif
