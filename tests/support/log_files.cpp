#include "log_files.h"

#include <QFile>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace tnw_test {

QByteArray file_bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList file_lines(const QString& path)
{
    const QString end = QLatin1String(line_end);
    QString text = QString::fromUtf8(file_bytes(path));
    if (text.endsWith(end))
        text.chop(end.size());
    return text.isEmpty() ? QStringList() : text.split(end);
}

QString user_log_dir()
{
#ifdef Q_OS_WIN
    // The user's local application data folder.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base + QStringLiteral("/Tarnwell/logs");
#else
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!base.startsWith(QLatin1Char('/')))
        base = qEnvironmentVariable("HOME") + QStringLiteral("/.local/state");
    return base + QStringLiteral("/tarnwell/logs");
#endif
}

quint64 system_thread_id()
{
#ifdef Q_OS_WIN
    return quint64(GetCurrentThreadId());
#else
    return quint64(syscall(SYS_gettid));
#endif
}

} // namespace tnw_test
