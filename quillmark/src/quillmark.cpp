#include "quillmark.h"

#include "log_lock.h"
#include "log_paths.h"
#include "log_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace {

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
    m_day.release();
}

bool quillmark::init_log()
{
    m_log_dir = quillmark_detail::log_directory();
    QDir().mkpath(m_log_dir);
    m_today.set_time(quillmark_detail::now_ms());
    m_day.open(m_today.date());
    if (!m_file)
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
    const quillmark_detail::writer_gate gate;
    if (!gate.open())
        return;
    const quillmark_detail::held_lock<std::timed_mutex> held(m_lock);
    if (!gate.open())
        return;
    m_today.set_time(quillmark_detail::now_ms());
    m_day.follow(m_today.date());
    m_day.write(bytes, size);
}

void quillmark::stop_writing()
{
    quillmark_detail::stop_at_exit(m_lock, [this] { m_day.release(); });
}

void quillmark::st_delete_file()
{
    // A folder made just now holds nothing to remove.
    if (!QDir(m_log_dir).exists())
        QDir().mkpath(m_log_dir);
    quillmark_detail::stamp_cache now;
    now.set_time(quillmark_detail::now_ms());
    const QDate oldest_kept = now.date().addDays(-retention_days);
    // The user's own folder holds the lines the program's folder could not take: the same rule.
    for (const QString& path : {m_log_dir, quillmark_detail::user_log_directory(false)}) {
        const QFileInfoList entries =
            path.isEmpty() ? QFileInfoList()
                           : QDir(path).entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::NoSort);
        for (const QFileInfo& entry : entries) {
            if (quillmark_detail::is_daily_log_name(entry.fileName()) &&
                entry.lastModified().date() < oldest_kept)
                QFile::remove(entry.absoluteFilePath());
        }
    }
}
