// General Qt image-format plugin on FreeImage, libjxr, libheif, libavif,
// libjxl and Exiv2: the formats
// nothing installed reads or writes, and those whose options or metadata
// Qt's own handlers cannot honour (see fiformat.cpp for the keys).
#ifndef KORVANE_FI_HANDLER_H
#define KORVANE_FI_HANDLER_H

#include <QColor>
#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QList>
#include <QSize>

#include <memory>

class FiReader;
class QtDelegateReader;

class FreeImagePlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "korvanefi.json")
public:
    FreeImagePlugin();

    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format = QByteArray()) const override;

private:
    bool bEnabled;   // the "FreeImage" switch, read once when Qt creates the plugin
};

// One handler per QImageReader or QImageWriter, used by one thread at a time;
// handlers on different threads share nothing but the libraries' one-time
// set-up.
class FreeImageHandler : public QImageIOHandler
{
public:
    FreeImageHandler();
    ~FreeImageHandler() override;

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
    int loopCount() const override;
    int nextImageDelay() const override;

    // True when the device holds a picture the plugin reads: by signature,
    // or by a claimed key for the formats without one.
    static bool canRead(QIODevice* device, const QByteArray& format);

private:
    Q_DISABLE_COPY(FreeImageHandler)
    // Reads the device once: FiReader first, Qt's own plugin for the key
    // when FiReader cannot load the file.
    void Load() const;
    // Qt's plugin for the file, opened on first need; null when none reads it.
    QtDelegateReader* Delegate() const;
    // Whether the page in question (the page read last, else the current
    // one) is Qt's plugin's.
    bool DelegatePage() const;
    QImage Scaled(const QImage& picture) const;
    bool WriteIcon(const QImage& image);
    bool WriteBoxed(const QByteArray& key, const QImage& image);

    mutable bool bLoaded = false;
    mutable QByteArray baFile;
    mutable std::unique_ptr<FiReader> pReader;
    mutable std::unique_ptr<QtDelegateReader> pDelegate;
    mutable bool bDelegateTried = false;
    int iPage = 0;
    int iReadPage = -1;             // the page read last; -1 before a read and after a jump
    bool bReadByDelegate = false;   // that page came from Qt's plugin
    int iQuality = -1;
    int iCompression = -1;
    QString sDescription;
    QSize scaledSize;
    QColor backgroundColor;
    Transformations writeTransformation = TransformationNone;
    QList<QImage> lIconImages;    // every picture written so far to an icon file
    qint64 iIconStart = -1;
};

#endif
