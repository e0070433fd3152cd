#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

namespace legacy_test {

// The lines of a log file as UTF-8 text, without the final line end; none when it cannot be read.
inline QStringList file_lines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

} // namespace legacy_test
