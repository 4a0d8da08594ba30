#include "convertcancel.h"

ConvertCancelFlag::ConvertCancelFlag(QObject* parent)
    : QObject(parent)
{
}

ConvertCancelFlag::~ConvertCancelFlag() = default;

bool ConvertCancelFlag::IsCanceled() const
{
    return canceled.load(std::memory_order_acquire);
}

void ConvertCancelFlag::Cancel()
{
    canceled.store(true, std::memory_order_release);
}

void ConvertProgress::Started(const QString& srcFile)
{
    QMutexLocker locker(&mutex);
    ++started;
    newestFile = srcFile;
}

int ConvertProgress::StartedCount(QString* newest) const
{
    QMutexLocker locker(&mutex);
    if (newest)
        *newest = newestFile;
    return started;
}
