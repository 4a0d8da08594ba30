#include "codecthreads.h"

#include "graphics/plugincontract.h"

#include <QThread>
#include <QVariant>

namespace CodecThreads {

int Granted()
{
    // A grant beyond reason is read as a large machine's.
    const int kMost = 64;
    bool ok = false;
    const int granted = QThread::currentThread()->property(PluginContract::CodecThreadsProperty).toInt(&ok);
    return ok ? qBound(1, granted, kMost) : 1;
}

} // namespace CodecThreads
