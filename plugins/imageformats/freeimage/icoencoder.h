// Icon files holding several pictures, one directory entry each.
#ifndef KORVANE_ICO_ENCODER_H
#define KORVANE_ICO_ENCODER_H

#include <QByteArray>
#include <QImage>
#include <QList>

namespace IcoEncoder {

// Largest side an icon entry can have.
const int MaxSide = 256;

// One icon file with an entry per picture, in the order given: 32-bit
// device-independent bitmaps with an AND mask, PNG for 256-pixel entries.
// False when a picture is null or larger than MaxSide on a side.
bool Encode(const QList<QImage>& pictures, QByteArray& file);

} // namespace IcoEncoder

#endif
