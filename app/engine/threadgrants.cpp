#include "threadgrants.h"

#include "graphics/plugincontract.h"

#include <QThread>
#include <QThreadPool>
#include <QVariant>

CancelSourceOnThread::CancelSourceOnThread(const ConvertCancelFlag* flag)
{
    if (flag)
        QThread::currentThread()->setProperty(PluginContract::CancelSourceProperty,
                                              QVariant::fromValue(static_cast<QObject*>(const_cast<ConvertCancelFlag*>(flag))));
}

CancelSourceOnThread::~CancelSourceOnThread()
{
    QThread::currentThread()->setProperty(PluginContract::CancelSourceProperty, QVariant());
}

CodecThreadsOnThread::CodecThreadsOnThread()
{
    const QThreadPool* pool = QThreadPool::globalInstance();
    const int threads = qBound(1, 1 + pool->maxThreadCount() - pool->activeThreadCount(), pool->maxThreadCount());
    QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, threads);
}

CodecThreadsOnThread::~CodecThreadsOnThread()
{
    QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, QVariant());
}
