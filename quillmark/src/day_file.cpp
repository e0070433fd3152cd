#include "day_file.h"

#include "log_line.h"
#include "log_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextCodec>

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
    char text[date_max_size];
    const int size = day.isValid() ? static_cast<int>(write_date(text, day) - text) : 0;
    return QLatin1String(text, size) + QLatin1String("_tarnwell.log");
}

namespace {

struct exit_notes
{
    QString folders[2];
    bool utf8 = false;
};

// Never freed: static objects of the library are destroyed before the lines it is kept for.
exit_notes& notes()
{
    static exit_notes* const made = new exit_notes;
    return *made;
}

} // namespace

void note_for_exit()
{
    // Only the thread that runs the clean-up reads these, after it.
    const QTextCodec* codec = QTextCodec::codecForLocale();
    notes().utf8 = codec && codec->mibEnum() == utf8_mib;
    notes().folders[0] = log_directory();
    notes().folders[1] = user_log_directory(false);
}

bool utf8_at_exit()
{
    return notes().utf8;
}

void write_at_exit(QIODevice::OpenMode mode, const QDate& day, const char* line, std::size_t size)
{
    QFile file;
    for (const QString& folder : notes().folders) {
        file.setFileName(folder + QDir::separator() + log_file_name(day));
        if (!folder.isEmpty() && open_day_file(file, mode)) {
            write_line(file, line, size);
            return;
        }
    }
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
    QDir().mkdir(program_dir);
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
