#pragma once

#include <QDate>
#include <QString>

namespace quillmark_detail {

// "<program dir>/logs" ("\logs" on Windows), shared by both logger generations.
QString log_directory();

// "<log directory>/<yyyy-MM-dd>_tarnwell.log" for day.
QString log_file_path(const QDate& day);

} // namespace quillmark_detail
