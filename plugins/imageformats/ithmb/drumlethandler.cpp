#include "drumlethandler.h"

// The reader arrives with its own change; until then the plugin claims nothing.
QImageIOPlugin::Capabilities DrumletPlugin::capabilities(QIODevice*, const QByteArray&) const
{
    return {};
}

QImageIOHandler* DrumletPlugin::create(QIODevice*, const QByteArray&) const
{
    return nullptr;
}
