#include "imageconvertthread.h"

#include <QDebug>

ItemConvertResult ThreadFunction(const ImageConvertData& data)
{
    qDebug() << "ThreadFunction" << data.srcFile;
    ItemConvertResult result;
    result.state = ConvertFailed;
    return result;
}
