#include "kvtestformats.h"

#include "graphics/plugincontract.h"

#include <QBuffer>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QThread>
#include <QVariant>
#include <QVector>

namespace {

const QByteArray kThumbMagic("KVITHMB1");

class FailingWriter : public QImageIOHandler
{
public:
    bool canRead() const override { return false; }
    bool read(QImage*) override { return false; }
    bool write(const QImage& image) override
    {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "BMP");
        device()->write(bytes.left(bytes.size() / 2));
        return false;
    }
};

// A cursor directory (type 2) of one well-formed entry: every field of an
// icon file but its type.
class CursorWriter : public QImageIOHandler
{
public:
    bool canRead() const override { return false; }
    bool read(QImage*) override { return false; }
    bool write(const QImage&) override
    {
        static const char directory[] = "\0\0\2\0\1\0" "\x10\x10\0\0\1\0\x20\0" "\4\0\0\0\x16\0\0\0" "DATA";
        return device()->write(directory, sizeof(directory) - 1) == qint64(sizeof(directory) - 1);
    }
};

class RecordingWriter : public QImageIOHandler
{
public:
    bool canRead() const override { return false; }
    bool read(QImage*) override { return false; }
    bool supportsOption(ImageOption option) const override
    {
        return option == Quality || option == CompressionRatio || option == Description;
    }
    void setOption(ImageOption option, const QVariant& value) override
    {
        if (option == Quality)
            quality = value.toInt();
        else if (option == CompressionRatio)
            compression = value.toInt();
        else if (option == Description)
            description = value.toString();
    }
    bool write(const QImage& image) override
    {
        QString text;
        text += QStringLiteral("quality=%1\n").arg(quality);
        text += QStringLiteral("compression=%1\n").arg(compression);
        text += QStringLiteral("description=%1\n").arg(description.trimmed());
        text += QStringLiteral("size=%1x%2\n").arg(image.width()).arg(image.height());
        const QVariant threads = QThread::currentThread()->property(PluginContract::CodecThreadsProperty);
        text += QStringLiteral("threads=%1\n").arg(threads.isValid() ? threads.toInt() : 0);
        return device()->write(text.toUtf8()) > 0;
    }

private:
    int quality = -1000;
    int compression = -1000;
    QString description;
};

class GatedReader : public QImageIOHandler
{
public:
    bool canRead() const override { return true; }
    bool read(QImage* image) override
    {
        const QFile* file = qobject_cast<QFile*>(device());
        const QString path = file ? file->fileName() : QString();
        if (path.isEmpty())
            return false;
        QFile started(path + QStringLiteral(".started"));
        started.open(QIODevice::WriteOnly);
        started.close();
        QElapsedTimer timer;
        timer.start();
        while (!QFileInfo::exists(path + QStringLiteral(".go"))) {
            if (timer.elapsed() > 30000)
                return false;
            QThread::msleep(5);
        }
        *image = QImage(8, 8, QImage::Format_RGB32);
        image->fill(Qt::darkCyan);
        return true;
    }
};

class FakeThumbnailReader : public QImageIOHandler
{
public:
    bool canRead() const override { return Load(); }
    bool read(QImage* image) override
    {
        if (!Load() || current < 0 || current >= spans.size())
            return false;
        *image = QImage::fromData(Picture(current));
        ++current;
        return !image->isNull();
    }
    int imageCount() const override { return Load() ? spans.size() : 0; }
    int currentImageNumber() const override { return current; }
    bool jumpToImage(int imageNumber) override
    {
        if (!Load() || imageNumber < 0 || imageNumber >= spans.size())
            return false;
        current = imageNumber;
        return true;
    }
    bool jumpToNextImage() override { return jumpToImage(current + 1); }
    bool supportsOption(ImageOption option) const override
    {
        if (option == Size)
            return true;
        return option == Description && Load() && mode == 0;
    }
    QVariant option(ImageOption option) const override
    {
        if (!Load() || current < 0 || current >= spans.size())
            return QVariant();
        if (option == Size) {
            if (mode == 0)
                return QSize(int(spans.at(current).first), int(spans.at(current).second));
            return QImage::fromData(Picture(current)).size();
        }
        if (option == Description && mode == 0)
            return QString();
        return QVariant();
    }

private:
    QByteArray Picture(int index) const
    {
        return data.mid(int(spans.at(index).first), int(spans.at(index).second));
    }
    bool Load() const
    {
        if (loaded)
            return !spans.isEmpty();
        loaded = true;
        if (!device())
            return false;
        data = device()->readAll();
        QDataStream stream(data);
        stream.setByteOrder(QDataStream::LittleEndian);
        QByteArray magic(kThumbMagic.size(), '\0');
        if (stream.readRawData(magic.data(), magic.size()) != magic.size() || magic != kThumbMagic)
            return false;
        quint32 count = 0;
        stream >> mode >> count;
        for (quint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
            quint32 offset = 0;
            quint32 length = 0;
            stream >> offset >> length;
            spans.append(qMakePair(offset, length));
        }
        return !spans.isEmpty();
    }

    mutable bool loaded = false;
    mutable QByteArray data;
    mutable quint32 mode = 0;
    mutable QVector<QPair<quint32, quint32>> spans;
    int current = 0;
};

} // namespace

QImageIOPlugin::Capabilities KvTestFormatsPlugin::capabilities(QIODevice* device, const QByteArray& format) const
{
    if (format == "kvfail" || format == "kvrec" || format == "kvcur")
        return CanWrite;
    if (format == "kvgate")
        return CanRead;
    if (format == "ithmb")
        return CanRead;
    if (format.isEmpty() && device && device->isReadable() && device->peek(kThumbMagic.size()) == kThumbMagic)
        return CanRead;
    return Capabilities();
}

QImageIOHandler* KvTestFormatsPlugin::create(QIODevice* device, const QByteArray& format) const
{
    QImageIOHandler* handler = nullptr;
    if (format == "kvfail")
        handler = new FailingWriter;
    else if (format == "kvrec")
        handler = new RecordingWriter;
    else if (format == "kvcur")
        handler = new CursorWriter;
    else if (format == "kvgate")
        handler = new GatedReader;
    else
        handler = new FakeThumbnailReader;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? QByteArray("ithmb") : format);
    return handler;
}
