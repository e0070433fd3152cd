#include "log_files.h"

#include <QFile>

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

quint64 system_thread_id()
{
#ifdef Q_OS_WIN
    return quint64(GetCurrentThreadId());
#else
    return quint64(syscall(SYS_gettid));
#endif
}

} // namespace tnw_test
