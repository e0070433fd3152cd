#include "quillmark.h"

#include "log_lock.h"
#include "log_paths.h"
#include "log_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace {

// Unbuffered, with the line end written by hand instead of text mode: every line is one write
// to the end of the file, and a line the disk refuses is gone at once instead of piling up in
// a buffer that every later flush would try again.
constexpr QIODevice::OpenMode open_mode =
    QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;

QByteArray with_line_ends(const QString& line)
{
    QByteArray bytes = line.toLocal8Bit();
    if (quillmark_detail::line_end_size > 1)
        bytes.replace("\n", quillmark_detail::line_end);
    return bytes.append(quillmark_detail::line_end);
}

} // namespace

quillmark::quillmark()
{
    init_log();
}

quillmark::~quillmark()
{
    disconnect(&m_timer, SIGNAL(timeout()), this, SLOT(st_delete_file()));
    if (m_timer.isActive() && m_timer.thread() == QThread::currentThread())
        m_timer.stop();
    m_file.close();
}

bool quillmark::init_log()
{
    m_log_dir = quillmark_detail::log_directory();
    QDir().mkpath(m_log_dir);
    m_today.set_time(quillmark_detail::now_ms());
    open_file_for(m_today.date());
    if (!m_file.isOpen())
        return false;
    return start_retention_timer();
}

bool quillmark::start_retention_timer()
{
    // The timer fires only through the event loop of the thread that starts it; the
    // application's thread is the one whose loop outlives every caller. Elsewhere (no
    // application, or a worker that may end before the process) the timer is left alone.
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread())
        return false;
    if (!connect(&m_timer, SIGNAL(timeout()), this, SLOT(st_delete_file())))
        return false;
    m_timer.start(retention_interval_ms);
    return true;
}

void quillmark::write_log(QString line)
{
    const QByteArray bytes = with_line_ends(line);
    write_log_bytes(bytes.constData(), std::size_t(bytes.size()));
}

void quillmark::write_log_bytes(const char* bytes, std::size_t size)
{
    if (quillmark_detail::t_lock_held || quillmark_detail::g_torn_down.load())
        return;
    const quillmark_detail::held_lock<std::timed_mutex> held(m_lock);
    if (quillmark_detail::g_torn_down.load())
        return;
    m_today.set_time(quillmark_detail::now_ms());
    if (m_today.date() != m_file_date)
        open_file_for(m_today.date());
    if (m_file.isOpen())
        quillmark_detail::write_line(m_file, bytes, size);
}

void quillmark::stop_writing()
{
    quillmark_detail::stop_at_exit(m_lock, [this] { m_file.close(); });
}

void quillmark::open_file_for(const QDate& day)
{
    m_file_date = day;
    m_file.close();
    // Made again here, so that a directory removed or blocked during the day does not cost
    // the next day's lines as well.
    QDir().mkpath(m_log_dir);
    m_file.setFileName(quillmark_detail::log_file_path(day));
    quillmark_detail::open_day_file(m_file, open_mode);
}

void quillmark::st_delete_file()
{
    QDir dir(m_log_dir);
    if (!dir.exists()) {
        // A directory made just now holds nothing to remove.
        QDir().mkpath(m_log_dir);
        return;
    }
    quillmark_detail::stamp_cache now;
    now.set_time(quillmark_detail::now_ms());
    const QDate oldest_kept = now.date().addDays(-retention_days);
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::NoSort);
    for (const QFileInfo& entry : entries) {
        if (quillmark_detail::is_daily_log_name(entry.fileName()) &&
            entry.lastModified().date() < oldest_kept)
            QFile::remove(entry.absoluteFilePath());
    }
}
