#pragma once

#include <QDate>

namespace quillmark_detail {

// "<program dir>/logs" ("\logs" on Windows), shared by both loggers. A host without
// an application object (a C program) has no application directory to ask, so the folder of
// the executable is used: the same place.
QString log_directory();

// "<yyyy-MM-dd>_tarnwell.log" for day, in the program's folder and in the user's alike.
QString log_file_name(const QDate& day);
// "<log directory>/<yyyy-MM-dd>_tarnwell.log" for day.
QString log_file_path(const QDate& day);

// Whether name is a daily file name, "<yyyy-MM-dd>_tarnwell.log" with a real date.
bool is_daily_log_name(const QString& name);

} // namespace quillmark_detail
