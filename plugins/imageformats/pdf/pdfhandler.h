// Qt image-format plugin for PDF: every page of a document is one image when
// reading, every written image becomes one page when writing.
#ifndef KORVANE_PDF_HANDLER_H
#define KORVANE_PDF_HANDLER_H

#include <QImageIOHandler>
#include <QImageIOPlugin>

#include <memory>

class PdfReader;
class PdfWriter;

class PdfPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "korvanepdf.json")
public:
    PdfPlugin();

    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format = QByteArray()) const override;

private:
    bool bEnabled;   // the "Xpdf" switch, read once when Qt creates the plugin
};

// One handler per QImageReader or QImageWriter, used by one thread at a time.
// The reading and the writing side are created on first use.
class PdfHandler : public QImageIOHandler
{
public:
    PdfHandler();
    ~PdfHandler() override;

    QByteArray name() const override;
    bool canRead() const override;
    bool read(QImage* image) override;
    bool write(const QImage& image) override;
    QVariant option(ImageOption option) const override;
    void setOption(ImageOption option, const QVariant& value) override;
    bool supportsOption(ImageOption option) const override;
    bool jumpToNextImage() override;
    bool jumpToImage(int imageNumber) override;
    int imageCount() const override;
    int currentImageNumber() const override;

    // True when the device starts with the PDF signature "%PDF-".
    static bool canRead(QIODevice* device);

private:
    Q_DISABLE_COPY(PdfHandler)
    PdfReader* Reader() const;

    int iQuality;   // last quality set: the DPI in its high 16 bits when reading, the packed page layout when writing
    mutable std::unique_ptr<PdfReader> pReader;
    std::unique_ptr<PdfWriter> pWriter;
};

#endif
