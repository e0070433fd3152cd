#include "log_files.h"

#include <QFile>

namespace tnw_test {

QByteArray file_bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList file_lines(const QString& path)
{
    QByteArray bytes = file_bytes(path);
    bytes.replace("\r\n", "\n");
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    return bytes.isEmpty() ? QStringList() : QString::fromUtf8(bytes).split(QLatin1Char('\n'));
}

} // namespace tnw_test
