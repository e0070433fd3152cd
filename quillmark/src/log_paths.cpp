#include "log_paths.h"

#include <QCoreApplication>

namespace quillmark_detail {

QString log_directory()
{
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath() + QStringLiteral("\\logs");
#else
    return QCoreApplication::applicationDirPath() + QStringLiteral("/logs");
#endif
}

QString log_file_path(const QDate& day)
{
    // One-pass substitution: a "%1" or "%2" inside the program's folder stays as it is.
#ifdef Q_OS_WIN
    const QString file_template = QStringLiteral("%1\\%2_tarnwell.log");
#else
    const QString file_template = QStringLiteral("%1/%2_tarnwell.log");
#endif
    return file_template.arg(log_directory(), day.toString(QStringLiteral("yyyy-MM-dd")));
}

} // namespace quillmark_detail
