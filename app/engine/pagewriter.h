// The page writer: one decoded page into one target file (or one icon).
#ifndef KORVANE_PAGEWRITER_H
#define KORVANE_PAGEWRITER_H

#include "convertcancel.h"
#include "convertsettings.h"

class QImage;
class QImageWriter;

namespace ImageConvert {

// Writes one page: the edits, the per-format writer options, the resolution and
// the packed metadata, then the image. The file is written to a temporary file
// beside the target and moved into place only when complete, so a failed or
// canceled write leaves neither a partial target nor a damaged existing one.
// Answers ConvertSucceeded, ConvertFailed or ConvertCanceled.
ConvertState ConvertPage(QImage& pageImage, const QString& tgtFilePath, PLMImageCodecID srcCodecID,
                         const QString& mdKeys, const QString& mdValues, const ConvertSettings& settings,
                         const ConvertCancelFlag* cancel);

// Writes the icon sizes selected in icoDims (bits 32 256×256, 16 128×128,
// 8 64×64, 4 48×48, 2 32×32, 1 16×16), largest first, as one icon file on the
// writer's device. Each size is encoded with the writer's format; the entries
// are then gathered into one icon directory (Qt's icon writer stores one image
// per write). Stops at the first size that fails. No bit set: nothing written.
ConvertState ConvertToICO(QImage& image, QImageWriter& writer, int icoDims);

} // namespace ImageConvert

#endif
