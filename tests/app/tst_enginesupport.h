// Helpers shared by the conversion engine's tests.
#ifndef KORVANE_TEST_ENGINESUPPORT_H
#define KORVANE_TEST_ENGINESUPPORT_H

#include "convertcancel.h"
#include "imageconvertthread.h"
#include "tst_multipagetiff.h"

#include <QtConcurrent>
#include <QtTest>
#include <QtWidgets>

#include <atomic>

// The tests' own formats (kvfail, kvrec, kvgate, the stand-in ithmb reader) first, then Qt's plugins, the program's
// folder last (PDF only: its general plugin is switched off). Call before the first image is read or written.
inline void UseTestImageFormats()
{
    QSettings(QStringLiteral("Pelmora"), QStringLiteral("Plugins")).setValue(QStringLiteral("FreeImage"), false);
    QStringList paths{QStringLiteral(KORVANE_TEST_PLUGIN_DIR), QLibraryInfo::location(QLibraryInfo::PluginsPath)};
    for (const QString& path : QCoreApplication::libraryPaths())
        if (!paths.contains(path))
            paths << path;
    QCoreApplication::setLibraryPaths(paths);
}

// A cancel flag that reports canceled from its tripAt-th poll on (1-based).
class TrippingCancelFlag : public ConvertCancelFlag
{
public:
    explicit TrippingCancelFlag(int tripAt) : tripAt(tripAt) {}
    bool IsCanceled() const override { return ++polls >= tripAt; }
    int Polls() const { return polls; }

private:
    const int tripAt;
    mutable std::atomic<int> polls{0};
};

// Numbered empty folders inside one temporary folder, one per case.
class TestFolders
{
public:
    bool IsValid() const { return root.isValid(); }
    QString New()
    {
        const QString path = root.filePath(QStringLiteral("f%1").arg(++count));
        QDir().mkpath(path);
        return path;
    }

private:
    QTemporaryDir root;
    int count = 0;
};

// The stand-in thumbnail container of the tests' "ithmb" format: a header, then the pictures; with embeddedJpegs the
// reader reports their byte spans.
inline QByteArray MakeFakeThumbnailFile(const QList<QByteArray>& pictures, bool embeddedJpegs)
{
    QByteArray header;
    QDataStream stream(&header, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.writeRawData("KVITHMB1", 8);
    stream << quint32(embeddedJpegs ? 0 : 1) << quint32(pictures.size());
    quint32 offset = 8 + 4 + 4 + 8 * quint32(pictures.size()) + 16;    // 16 bytes of padding
    for (const QByteArray& picture : pictures) {
        stream << offset << quint32(picture.size());
        offset += quint32(picture.size());
    }
    QByteArray file = header + QByteArray(16, '\x5a');
    for (const QByteArray& picture : pictures)
        file += picture;
    return file;
}

inline QImage Filled(int width, int height, const QColor& color, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    image.fill(color);
    return image;
}

inline QByteArray EncodeImage(const QImage& image, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

inline bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A settings record writing into folder with policy 0 and the given format.
inline ConvertSettings SettingsFor(const QString& folder, const QString& format, PLMImageCodecID id)
{
    ConvertSettings settings;
    settings.TgtFolder = folder;
    settings.TgtFormat = format;
    settings.TgtID = id;
    return settings;
}

inline ImageConvertData JobFor(const QString& srcFile, const ConvertSettings* settings,
                               const ConvertCancelFlag* cancel = nullptr)
{
    ImageConvertData job;
    job.srcFile = srcFile;
    job.settings = settings;
    job.cancelFlag = cancel;
    return job;
}

#endif
