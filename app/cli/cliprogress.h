// The progress line korvane-convert keeps on standard error while it runs on
// a terminal: files done of the total, the rate, the time left and the file
// most recently started.
#ifndef KORVANE_CLIPROGRESS_H
#define KORVANE_CLIPROGRESS_H

#include <QElapsedTimer>
#include <QString>

class CliProgress
{
public:
    // Shown only when standard error is a terminal; otherwise every call
    // does nothing.
    explicit CliProgress(int total);

    bool IsShown() const { return shown; }
    // Redraws the line in place.
    void Show(int done, const QString& current, bool canceling);
    // Takes the line away, so that a message can be printed in its place.
    void Clear();
    // The closing summary line.
    void Finish(int succeeded, int failed, int canceled);

private:
    QString TimeText(qint64 seconds) const;

    const int total;
    const bool shown;
    bool drawn = false;
    QElapsedTimer clock;
};

#endif
