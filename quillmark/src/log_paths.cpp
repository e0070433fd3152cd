#include "log_paths.h"

#include "log_platform.h"

#include <QCoreApplication>
#include <QLocale>

namespace quillmark_detail {

namespace {

const QLatin1String date_format("yyyy-MM-dd");
const QLatin1String file_suffix("_tarnwell.log");

} // namespace

QString log_directory()
{
    const QString program_dir = QCoreApplication::instance()
                                    ? QCoreApplication::applicationDirPath()
                                    : executable_directory();
    return program_dir + path_separator + QLatin1String("logs");
}

QString log_file_path(const QDate& day)
{
    // ASCII digits whatever the locale: the name must not depend on who runs the program.
    return log_directory() + path_separator + QLocale::c().toString(day, date_format) + file_suffix;
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
