// Shared pieces of the FreeImage plugin's tests: pictures made at run time,
// Debian's command-line tools as independent encoders and decoders, and
// pixel comparison.
#ifndef KORVANE_TEST_FIFIXTURES_H
#define KORVANE_TEST_FIFIXTURES_H

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

class QImageIOPlugin;

namespace FiFixtures {

// Writes "FreeImage" = true into the plugin store; call before any image is
// read or written, since the plugin reads the switch once.
void SwitchPluginOn();

// The plugin object loaded from <build>/bin/imageformats.
QImageIOPlugin* Plugin();

// Empty when every tool is installed, else a message naming the missing ones
// and their Debian packages (the tests fail with it).
QString MissingTools(const QStringList& tools);

// Runs a tool to completion; false (with the reason in error) when it cannot
// start, times out or exits non-zero. stdout in output when given.
bool Run(const QString& tool, const QStringList& arguments, QByteArray* output = nullptr,
         QString* error = nullptr);

// Decodes a file with ImageMagick (convert <spec>[frame] pam:-) into ARGB32.
// spec may carry a format prefix ("tga:x.targa"). Null on failure.
QImage MagickDecode(const QString& spec, int frame = 0);

// ImageMagick's answer to identify -format <format> for one frame.
QString Identify(const QString& spec, const QString& format, int frame = 0);

// A photo-like test picture: smooth colour gradients, a few hard edges and,
// when alpha is set, an alpha ramp from transparent on the left to opaque,
// with a fully opaque right half.
QImage Picture(int width, int height, bool alpha);

// Comparison over the pixels visible in both (alpha above 0 in a), with the
// colour weighted by alpha: the largest channel difference, the mean
// absolute channel difference, and the largest mean over 4 x 4 blocks (lossy
// codecs move single pixels at hard edges, not areas). Alpha itself is
// compared when checkAlpha.
struct Difference
{
    int max = 0;
    double mean = 0.0;
    double blockMax = 0.0;
    bool sameSize = false;
};
Difference Compare(const QImage& a, const QImage& b, bool checkAlpha = true);

// Files no installed tool writes, made by hand at kHandWidth x kHandHeight:
// Dr. Halo (eight grey stripes of twelve pixels, value 30 * stripe); C64
// Koala (320 x 200, every byte 0x1B: background black, red, green, blue
// double-width pixels); a minimal linear DNG (16-bit RGB, dark left half,
// bright right half, make "Korvane", model "DngTest").
const int kHandWidth = 96;
const int kHandHeight = 64;
QByteArray HandCut();
QByteArray HandKoala();
QByteArray HandDng();

// Writes bytes to a file; false on failure.
bool Save(const QString& path, const QByteArray& bytes);
QByteArray Load(const QString& path);

} // namespace FiFixtures

// Fails the current test with the list of missing tools.
#define FI_REQUIRE_TOOLS(...)                                                      \
    do {                                                                           \
        const QString missing_ = FiFixtures::MissingTools(QStringList{__VA_ARGS__}); \
        if (!missing_.isEmpty())                                                   \
            QFAIL(qPrintable(missing_));                                           \
    } while (false)

#endif
