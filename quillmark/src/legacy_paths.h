#pragma once

#include <QDate>
#include <QString>

namespace quillmark_detail {

// The log directory of the printf-style exports. With an application object it is
// log_directory(), the one quillmarkv2 writes to. A host without one (a C program) has no
// application directory to ask, so "logs" beside the executable is used: the same place.
QString legacy_log_directory();

// The day's file in legacy_log_directory(); log_file_path(day) when there is an application.
QString legacy_log_file_path(const QDate& day);

// Whether name is a daily file name, "<yyyy-MM-dd>_tarnwell.log" with a real date.
bool is_daily_log_name(const QString& name);

} // namespace quillmark_detail
