#include "day_file.h"

#include "log_line.h"
#include "log_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>

namespace quillmark_detail {

QString log_directory()
{
    return (QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                         : executable_directory()) +
           QDir::separator() + QLatin1String("logs");
}

QString log_file_name(const QDate& day)
{
    // ASCII digits whatever the locale: the name must not depend on who runs the program.
    make_calendar_once();
    return QLocale::c().toString(day, QLatin1String("yyyy-MM-dd")) + QLatin1String("_tarnwell.log");
}

void day_file::open(const QDate& day)
{
    if (!m_file)
        m_file = new QFile;
    m_file->close();
    m_date = day;
    const auto open_in = [&](const QString& folder) {
        m_file->setFileName(folder + QDir::separator() + log_file_name(day));
        return !folder.isEmpty() && open_day_file(*m_file, m_mode);
    };
    const QString program_dir = log_directory();
    // Made again at each date, so that a folder removed during the day costs no more days.
    make_program_log_directory(program_dir);
    if (!open_in(program_dir) && !open_in(user_log_directory(true)))
        release();
}

void day_file::release()
{
    // Not deleteLater(): its thread may have no event loop; all users are serialised with us.
    delete m_file;
    m_file = nullptr;
}

void day_file::write(const char* line, std::size_t size)
{
    if (m_file)
        write_line(*m_file, line, size);
}

} // namespace quillmark_detail
