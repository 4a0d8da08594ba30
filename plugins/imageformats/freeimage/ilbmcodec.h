// IFF pictures (FORM ILBM and FORM PBM), decoded by the plugin itself:
// FreeImage's loader knows neither hold-and-modify, Extra-Half-Brite nor
// mask planes, and shows them in wrong colours.
//
// Read: ILBM of 1 to 8 bit planes with a colour map (grey without one),
// Extra-Half-Brite (6 planes), HAM6 and HAM8, 24-bit true colour; PBM (one
// byte a pixel); uncompressed or ByteRun1; a mask plane or a transparent
// colour as alpha. Refused: palettes that change along the picture (PCHG,
// SHAM, CTBL, BEAM, RAST, DYCP), CMYK colour maps without an RGB one, direct
// colour (DCOL, XBMI), dual playfields, and other depths.
#ifndef KORVANE_ILBM_CODEC_H
#define KORVANE_ILBM_CODEC_H

#include <QByteArray>
#include <QImage>

namespace IlbmCodec {

// RGB32, or ARGB32 with a mask plane or a transparent colour. Null when the
// file is refused, damaged or cut short.
QImage Decode(const QByteArray& file);

} // namespace IlbmCodec

#endif
