// WebP straight through libwebp: FreeImage encodes with the slowest method
// (four to five times Qt's time for a photograph) and adds a pixel pass.
#ifndef KORVANE_WEBP_CODEC_H
#define KORVANE_WEBP_CODEC_H

#include <QByteArray>
#include <QImage>

namespace WebpCodec {

// The first image of a WebP file as RGB32 or ARGB32, with its colour profile.
// Null on failure (animations included: see WebpAnimation).
QImage Decode(const QByteArray& file);

// The canvas size the file declares; invalid when it is no WebP.
QSize Size(const QByteArray& file);

// Whether the file is an animation (its frames are read with WebpAnimation).
bool IsAnimation(const QByteArray& file);

// Lossless when lossless is set (the colour under transparent pixels kept
// too), else lossy at quality 0..100; libwebp's default effort, as Qt's
// writer. The colour profile goes into an ICCP chunk.
bool Encode(const QImage& image, bool lossless, int quality, const QByteArray& profile, QByteArray& file);

} // namespace WebpCodec

struct WebPAnimDecoder;

// The frames of an animated WebP, composed on the canvas by libwebp's
// animation decoder (blending and disposal as the format defines them).
// Reading the frames in order decodes each once; going back starts again
// from the first.
class WebpAnimation
{
public:
    explicit WebpAnimation(const QByteArray& file);
    ~WebpAnimation();
    WebpAnimation(const WebpAnimation&) = delete;
    WebpAnimation& operator=(const WebpAnimation&) = delete;

    // 0 when the file cannot be decoded as an animation.
    int FrameCount() const { return iFrameCount; }
    // As Qt counts loops: -1 for looping forever, else the repeats after
    // the first showing.
    int LoopCount() const { return iLoopCount; }

    // The canvas after the frame as ARGB32, with the file's colour profile;
    // delay gets the frame's duration in milliseconds. Null on a failure.
    QImage Frame(int index, int* delay);

private:
    QByteArray baFile;               // the decoder reads it in place
    WebPAnimDecoder* pDecoder = nullptr;
    int iWidth = 0;
    int iHeight = 0;
    int iFrameCount = 0;
    int iLoopCount = 0;
    int iDecoded = -1;               // the frame on the canvas now
    int iTimestamp = 0;              // its end, in milliseconds from the start
    int iPreviousTimestamp = 0;
    QByteArray baProfile;
};

#endif
