// Thumbnail files that hold whole JPEGs, converted to JPEG with metadata kept:
// each embedded JPEG is copied unchanged instead of decoded and encoded again.
#ifndef KORVANE_ITHMBCOPY_H
#define KORVANE_ITHMBCOPY_H

#include "convertjob.h"

class QImageReader;

// One target per embedded picture (numbered when there are several). A
// damaged embedded JPEG fails the job; a cancel between pictures removes
// what was written.
ConvertState CopyEmbeddedJPEGs(QImageReader& reader, const ImageConvertData& job, ItemConvertResult& result);

#endif
