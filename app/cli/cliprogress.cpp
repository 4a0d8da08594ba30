#include "cliprogress.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("CliProgress", text);
}

int TerminalWidth()
{
    winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

void Write(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

} // namespace

CliProgress::CliProgress(int jobs)
    : total(jobs)
    , shown(::isatty(STDERR_FILENO) == 1)
{
    clock.start();
}

QString CliProgress::TimeText(qint64 seconds) const
{
    const QString minutes = QStringLiteral("%1:%2").arg((seconds / 60) % 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (seconds < 3600)
        return minutes;
    return QStringLiteral("%1:%2").arg(seconds / 3600).arg(minutes.rightJustified(5, QLatin1Char('0')));
}

void CliProgress::Show(int done, const QString& current, bool canceling)
{
    if (!shown)
        return;
    const double seconds = clock.elapsed() / 1000.0;
    QString line = QStringLiteral("[%1/%2] ").arg(done, QString::number(total).size()).arg(total)
                   + TimeText(qint64(seconds));
    if (canceling) {
        line += QStringLiteral(", ") + Tr("canceling...");
    } else if (done > 0 && seconds > 0.0) {
        const double rate = done / seconds;
        line += QStringLiteral(", ") + Tr("%1 files/s, %2 left")
                                           .arg(rate, 0, 'f', rate < 10 ? 1 : 0)
                                           .arg(TimeText(qint64((total - done) / rate + 0.5)));
    }
    line += QStringLiteral("  ");
    // The file name takes what is left of the terminal's width: a line that
    // wraps cannot be redrawn in place.
    const int room = TerminalWidth() - 1 - line.size();
    QString name = QFileInfo(current).fileName();
    if (name.size() > room)
        name = room > 3 ? QStringLiteral("...") + name.right(room - 3) : QString();
    Write(QLatin1Char('\r') + line + name + QStringLiteral("\033[K"));
    drawn = true;
}

void CliProgress::Clear()
{
    if (!shown || !drawn)
        return;
    Write(QStringLiteral("\r\033[K"));
    drawn = false;
}

void CliProgress::Finish(int succeeded, int failed, int canceled)
{
    if (!shown)
        return;
    Clear();
    Write(Tr("%1 succeeded, %2 failed, %3 canceled in %4\n")
              .arg(succeeded)
              .arg(failed)
              .arg(canceled)
              .arg(TimeText(clock.elapsed() / 1000)));
}
