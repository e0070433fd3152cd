#include "day_file.h"

#include "log_paths.h"
#include "log_platform.h"

#include <QDir>
#include <QFile>

namespace quillmark_detail {

void day_file::open(const QDate& day)
{
    if (!m_file)
        m_file = new QFile;
    m_file->close();
    m_date = day;
    // Made again at each date, so that a folder removed during the day does not cost the next
    // day's lines as well.
    const QString program_dir = log_directory();
    QDir().mkdir(program_dir);
    const QString name = log_file_name(day);
    if (!open_in(program_dir, name) && !open_in(user_log_directory(true), name))
        release();
}

bool day_file::open_in(const QString& directory, const QString& name)
{
    if (directory.isEmpty())
        return false;
    m_file->setFileName(directory + path_separator + name);
    return open_day_file(*m_file, m_mode);
}

void day_file::release()
{
    // Deleted at once rather than later: the object may belong to a thread without an event
    // loop, and every user of the pointer is serialised with us.
    delete m_file;
    m_file = nullptr;
}

void day_file::write(const char* line, std::size_t size)
{
    if (m_file)
        write_line(*m_file, line, size);
}

} // namespace quillmark_detail
