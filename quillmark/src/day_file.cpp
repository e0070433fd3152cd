#include "day_file.h"

#include "log_line.h"
#include "log_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextCodec>

#include <mutex>
#include <thread>

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
    std::mutex lock;
    QString folder; // of the last day file either logger opened, under lock
    bool utf8 = false;
};

// Never freed: static objects of the library are destroyed before the lines it is kept for.
exit_notes& notes()
{
    static exit_notes* const made = new exit_notes;
    return *made;
}

// Where lines logged after the clean-up at exit go: the folder in use then, known without
// asking the system anything at that stage.
bool note_folder(const QString& folder)
{
    const std::lock_guard<std::mutex> held(notes().lock);
    notes().folder = folder;
    return true;
}

} // namespace

void note_for_exit()
{
    // Only the thread that runs the clean-up reads it, after it.
    const QTextCodec* codec = QTextCodec::codecForLocale();
    notes().utf8 = codec && codec->mibEnum() == utf8_mib;
}

bool utf8_at_exit()
{
    return notes().utf8;
}

void write_at_exit(QIODevice::OpenMode mode, const QDate& day, const char* line, std::size_t size)
{
    QString folder;
    {
        // Not for good: where the system has stopped the other threads, one may hold it.
        std::unique_lock<std::mutex> held(notes().lock, std::defer_lock);
        for (int i = 0; i < 1000 && !held.try_lock(); ++i)
            std::this_thread::yield();
        if (!held.owns_lock())
            return;
        folder = notes().folder;
    }
    QFile file(folder + QDir::separator() + log_file_name(day));
    if (!folder.isEmpty() && open_day_file(file, mode))
        write_line(file, -1, line, size);
}

void day_file::open(const QDate& day)
{
    if (!m_file)
        m_file = new QFile;
    m_file->close();
    m_date = day;
    const auto open_in = [&](const QString& folder) {
        m_file->setFileName(folder + QDir::separator() + log_file_name(day));
        return !folder.isEmpty() && open_day_file(*m_file, m_mode) && note_folder(folder);
    };
    const QString program_dir = log_directory();
    // Made again at each date, so that a folder removed during the day costs no more days.
    make_program_log_directory(program_dir);
    if (!open_in(program_dir) && !open_in(user_log_directory(true)))
        release();
    else
        m_direct = direct_descriptor(*m_file);
}

void day_file::release()
{
    // Not deleteLater(): its thread may have no event loop; all users are serialised with us.
    delete m_file;
    m_file = nullptr;
    m_direct = -1;
    m_shared.store(false, std::memory_order_relaxed);
}

void day_file::write(const char* line, std::size_t size)
{
    if (m_file)
        write_line(*m_file, m_shared.load(std::memory_order_relaxed) ? -1 : m_direct, line, size);
}

} // namespace quillmark_detail
