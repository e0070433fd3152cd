#include "log_paths.h"

#include "log_platform.h"
#include "log_stamp.h"

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

QString log_file_name(const QDate& day)
{
    // ASCII digits whatever the locale: the name must not depend on who runs the program.
    make_calendar_once();
    return QLocale::c().toString(day, date_format) + file_suffix;
}

QString log_file_path(const QDate& day)
{
    return log_directory() + path_separator + log_file_name(day);
}

bool is_daily_log_name(const QString& name)
{
    // Read back and written again, so that only the exact form with a real date passes.
    make_calendar_once();
    const QString date_text = name.left(date_format.size());
    const QDate day = QDate::fromString(date_text, date_format);
    return name.size() == date_format.size() + file_suffix.size() && name.endsWith(file_suffix) &&
           day.isValid() && QLocale::c().toString(day, date_format) == date_text;
}

} // namespace quillmark_detail
