// Shared pieces of the FreeImage plugin's tests: pictures made at run time, Debian's tools as
// independent encoders and decoders, and pixel comparison.
#ifndef KORVANE_TEST_FIFIXTURES_H
#define KORVANE_TEST_FIFIXTURES_H

#include "imageconvertthread.h"

#include <QImage>
#include <QJsonObject>
#include <QStringList>

#include <functional>

class QImageIOPlugin;

namespace FiFixtures {

// The plugin object loaded from <build>/bin/imageformats.
QImageIOPlugin* Plugin();
// Empty when every tool is installed, else a message naming the missing ones.
QString MissingTools(const QStringList& tools);
// Runs a tool to completion; false (the reason in error) when it fails. stdout in output.
bool Run(const QString& tool, const QStringList& arguments, QByteArray* output = nullptr, QString* error = nullptr);
// Decodes a file with ImageMagick into ARGB32; spec may carry a format prefix ("tga:x.targa").
QImage MagickDecode(const QString& spec, int frame = 0);
// ImageMagick's answer to identify -format <format> for one frame.
QString Identify(const QString& spec, const QString& format, int frame = 0);
// Encodes a picture with ImageMagick from its raw 8-bit RGBA (or RGB) samples, with options.
bool MagickEncode(const QImage& image, bool alpha, const QStringList& options, const QString& output, QString* error = nullptr);
// The tags exiftool reads from a file (exiftool -j <options> -<tag>...) as one JSON object.
QJsonObject ExifTool(const QString& path, const QStringList& tags, const QStringList& options = {});
// Converts source with the converter's worker into folder (files overwritten), metadata kept
// when keep; the targets written, empty when the conversion failed.
QStringList Convert(const QString& source, const QString& folder, const QString& extension, PLMImageCodecID id,
                    bool keep, const std::function<void(ConvertSettings&)>& options = {});
// A photo-like picture: gradients, hard edges, with alpha a ramp over the left half.
QImage Picture(int width, int height, bool alpha);

// Channel differences, colour weighted by a's alpha (pixels transparent in a skipped unless
// checkAlpha, which compares alpha too): largest, mean, and largest mean of a 4 x 4 block.
struct Difference
{
    int max = 0;
    double mean = 0.0, blockMax = 0.0;
    bool sameSize = false;
};
Difference Compare(const QImage& a, const QImage& b, bool checkAlpha = true);

// Files no installed tool writes, made by hand at kHandWidth x kHandHeight: Dr. Halo (eight grey
// stripes, 30 * stripe), C64 Koala (320 x 200), a linear DNG (16-bit RGB, dark left half,
// bright right, make "Korvane", model "DngTest").
const int kHandWidth = 96, kHandHeight = 64;
QByteArray HandCut();
QByteArray HandKoala();
QByteArray HandDng();

bool Save(const QString& path, const QByteArray& bytes);
QByteArray Load(const QString& path);

} // namespace FiFixtures

// Fails the current test naming the tools that are missing.
#define FI_REQUIRE_TOOLS(...) \
    QVERIFY2(FiFixtures::MissingTools({__VA_ARGS__}).isEmpty(), qPrintable(FiFixtures::MissingTools({__VA_ARGS__})))

#endif
