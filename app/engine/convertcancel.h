// What one conversion batch's workers and its progress dialog share: the
// cancel state and which files have started. Safe to use from pool threads.
#ifndef KORVANE_CONVERTCANCEL_H
#define KORVANE_CONVERTCANCEL_H

#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>

// Set once on the GUI thread (connect the progress dialog's "canceled()" to
// Cancel()) and polled by the workers at their check points. The dialog's own
// wasCanceled() is a plain member of a widget and must not be read from the
// pool; workers read this flag instead.
class ConvertCancelFlag : public QObject
{
    Q_OBJECT
    // Read by format plugins through the job's thread (plugincontract.h).
    Q_PROPERTY(bool canceled READ IsCanceled)

public:
    explicit ConvertCancelFlag(QObject* parent = nullptr);
    ~ConvertCancelFlag() override;

    // Virtual so that a test can trip it at a chosen check point.
    virtual bool IsCanceled() const;

public slots:
    void Cancel();

private:
    std::atomic<bool> canceled{false};
};

// A null flag is never canceled.
inline bool IsCanceled(const ConvertCancelFlag* flag)
{
    return flag && flag->IsCanceled();
}

// Workers note each source as they start on it; the dialog shows the newest.
class ConvertProgress
{
public:
    void Started(const QString& srcFile);
    // How many sources have started, and the newest of them.
    int StartedCount(QString* newest = nullptr) const;

private:
    mutable QMutex mutex;
    int started = 0;
    QString newestFile;
};

#endif
