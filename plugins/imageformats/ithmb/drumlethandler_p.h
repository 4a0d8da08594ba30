// Internal reader of ".ithmb" thumbnail containers, behind DrumletHandler.
// Not part of the plugin's interface; the tests and the fuzz target include
// it to reach the reader directly.
#ifndef DRUMLET_HANDLER_P_H
#define DRUMLET_HANDLER_P_H

#include <QImageIOHandler>
#include <QList>
#include <QString>
#include <QVariant>

class DrumletHandler;
class QImage;
class QIODevice;

// One picture of the container.
struct IthmbInfo
{
    qint32 iOffset;   // byte offset of the frame data from the start of the file
    qint32 iSize;     // bytes read for the frame
    qint32 iWidth;    // -1 for an embedded JPEG
    qint32 iHeight;   // -1 for an embedded JPEG
    qint32 iFormat;   // pixel layout code, -1 for an embedded JPEG
    bool bJpeg;       // the frame is a whole JPEG (JFIF) stream
};

class DrumletHandlerPrivate
{
public:
    enum Mode { ModeNone = -1, ModeRaw = 0, ModeJpeg = 1 };
    enum Format {
        FormatYuvInterlaced = 0,   // U Y0 V Y1 groups, even rows then odd rows
        FormatRgb16Le = 1,         // 1-5-5-6 bits (blue low), low byte first
        FormatRgb565Be = 2,        // 5-6-5 bits (blue low), high byte first
        FormatRgbx32 = 3           // red, green, blue, unused
    };

    // Files this large cannot be addressed by the 32-bit offsets and sizes
    // of the frame records; they are refused (no frames).
    static constexpr qint64 MaxFileSize = Q_INT64_C(0x7FFFFFFF);

    explicit DrumletHandlerPrivate(DrumletHandler* q);
    ~DrumletHandlerPrivate();

    int imageCount() const;
    bool jumpToImage(int imageNumber);
    bool jumpToNextImage();
    int currentImageNumber() const;
    bool read(QImage* image);
    bool IthmbToQImage(QImage* image, QIODevice* device);
    QVariant option(QImageIOHandler::ImageOption option) const;

    static void AutoLevels(QImage* image);
    static void UnpackRgb16Le(quint16 word, uchar* red, uchar* green, uchar* blue);
    static void UnpackRgb565(quint16 word, uchar* red, uchar* green, uchar* blue);

    DrumletHandler* q;
    // Filled on the first call that needs the frames; caches, hence mutable.
    mutable QList<IthmbInfo> lIthmb;
    int iPage;
    mutable bool bCounted;
    mutable int iMode;
    bool bTextRead;
    QString sText;

private:
    bool DecodeJpeg(QImage* image, const QByteArray& data);
    static bool DecodeRaw(QImage* image, const IthmbInfo& info, const QByteArray& data);
};

#endif
