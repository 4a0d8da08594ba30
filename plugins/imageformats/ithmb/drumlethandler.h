// Qt image-format plugin for ".ithmb" thumbnail containers.
#ifndef DRUMLET_HANDLER_H
#define DRUMLET_HANDLER_H

#include <QImageIOHandler>
#include <QImageIOPlugin>

class DrumletHandlerPrivate;

class DrumletPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "drumlet.json")
public:
    DrumletPlugin();

    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format = QByteArray()) const override;

private:
    bool bEnabled;   // the "Ithmb" switch, read once when Qt creates the plugin
};

class DrumletHandler : public QImageIOHandler
{
public:
    DrumletHandler();
    ~DrumletHandler() override;

    QByteArray name() const override;
    bool canRead() const override;
    bool read(QImage* image) override;
    QVariant option(ImageOption option) const override;
    void setOption(ImageOption option, const QVariant& value) override;
    bool supportsOption(ImageOption option) const override;
    bool jumpToNextImage() override;
    bool jumpToImage(int imageNumber) override;
    int imageCount() const override;
    int currentImageNumber() const override;

    static bool canRead(QIODevice* device, const QByteArray& format);
    static bool canWrite();

private:
    Q_DISABLE_COPY(DrumletHandler)
    DrumletHandlerPrivate* d;
};

#endif
