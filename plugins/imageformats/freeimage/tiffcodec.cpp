#include "tiffcodec.h"

namespace TiffCodec {

int PageCount(const QByteArray&)
{
    return 0;
}

QSize PageSize(const QByteArray&, int)
{
    return QSize();
}

QImageIOHandler::Transformations Transformation(const QByteArray&, int)
{
    return QImageIOHandler::TransformationNone;
}

QImage Decode(const QByteArray&, int)
{
    return QImage();
}

} // namespace TiffCodec
