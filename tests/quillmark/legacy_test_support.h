#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace legacy_test {

// A line of the log file ends in CR LF on Windows, in LF elsewhere.
#ifdef Q_OS_WIN
constexpr char line_end[] = "\r\n";
#else
constexpr char line_end[] = "\n";
#endif

// The calling thread's number as the log lines show it, read straight from the system.
inline quint64 system_thread_id()
{
#ifdef Q_OS_WIN
    return quint64(GetCurrentThreadId());
#else
    return quint64(syscall(SYS_gettid));
#endif
}

// The lines of a log file as UTF-8 text, split at the platform's line end only (so a bare LF on
// Windows stays visible inside a line), without the final line end; none when it cannot be read.
inline QStringList file_lines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString end = QLatin1String(line_end);
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(end))
        text.chop(end.size());
    return text.isEmpty() ? QStringList() : text.split(end);
}

} // namespace legacy_test
