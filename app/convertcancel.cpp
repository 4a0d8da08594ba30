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
