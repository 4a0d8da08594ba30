#ifndef KORVANE_IMAGECODECVETOER_H
#define KORVANE_IMAGECODECVETOER_H

#include "graphics/imagecodec.h"

// The program's vetoer: it vetoes nothing beyond the codec table's own flags.
class ImageCodecVetoer : public PLMImageCodecVetoer
{
};

#endif
