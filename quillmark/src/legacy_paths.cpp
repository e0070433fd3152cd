#include "legacy_paths.h"

#include "log_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <vector>
#endif

namespace quillmark_detail {

namespace {

const QLatin1String date_format("yyyy-MM-dd");
const QLatin1String file_suffix("_tarnwell.log");

// Where the running program lies, found without an application object (which would only warn).
QString executable_directory()
{
#ifdef Q_OS_WIN
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    const QString path = QString::fromWCharArray(buffer.data(), int(length));
    return QFileInfo(QDir::fromNativeSeparators(path)).absolutePath();
#else
    const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return path.isEmpty() ? QDir::currentPath() : QFileInfo(path).absolutePath();
#endif
}

} // namespace

QString legacy_log_directory()
{
    if (QCoreApplication::instance())
        return log_directory();
#ifdef Q_OS_WIN
    return executable_directory() + QStringLiteral("\\logs");
#else
    return executable_directory() + QStringLiteral("/logs");
#endif
}

QString legacy_log_file_path(const QDate& day)
{
    if (QCoreApplication::instance())
        return log_file_path(day);
#ifdef Q_OS_WIN
    const QString file_template = QStringLiteral("%1\\%2_tarnwell.log");
#else
    const QString file_template = QStringLiteral("%1/%2_tarnwell.log");
#endif
    return file_template.arg(legacy_log_directory(), day.toString(date_format));
}

bool is_daily_log_name(const QString& name)
{
    const int date_length = date_format.size();
    if (name.size() != date_length + file_suffix.size() || !name.endsWith(file_suffix))
        return false;
    for (int i = 0; i < date_length; ++i) {
        const QChar c = name.at(i);
        const bool expected = date_format.at(i) == QLatin1Char('-')
                                  ? c == QLatin1Char('-')
                                  : c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!expected)
            return false;
    }
    return QDate::fromString(name.left(date_length), date_format).isValid();
}

} // namespace quillmark_detail
