#include "quillmark.h"

#include "legacy_format.h"
#include "legacy_paths.h"
#include "legacy_write_lock.h"
#include "log_clock.h"
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
#ifdef Q_OS_WIN
    bytes.replace('\n', "\r\n");
    bytes.append("\r\n");
#else
    bytes.append('\n');
#endif
    return bytes;
}

// A host whose own message handler logs through the exports could otherwise come back into
// write_log while it holds the (non-recursive) lock.
thread_local bool t_writing = false;

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
    if (m_file.isOpen())
        m_file.close();
}

bool quillmark::init_log()
{
    m_log_dir = quillmark_detail::legacy_log_directory();
    QDir().mkpath(m_log_dir);
    open_file_for(quillmark_detail::legacy_local_date(quillmark_detail::now_ms()));
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
    if (t_writing)
        return;
    t_writing = true;
    {
        quillmark_detail::legacy_write_lock locker(&m_lock);
        const QDate today = quillmark_detail::legacy_local_date(quillmark_detail::now_ms());
        if (today != m_file_date)
            open_file_for(today);
        if (m_file.isOpen())
            quillmark_detail::write_line(m_file, bytes, size);
    }
    t_writing = false;
}

void quillmark::open_file_for(const QDate& day)
{
    m_file_date = day;
    if (m_file.isOpen())
        m_file.close();
    // Made again here, so that a directory removed or blocked during the day does not cost
    // the next day's lines as well.
    QDir().mkpath(m_log_dir);
    m_file.setFileName(quillmark_detail::legacy_log_file_path(day));
    quillmark_detail::open_for_append(m_file, open_mode);
}

bool quillmark::debug_mode() const
{
    return m_debug.load(std::memory_order_relaxed);
}

void quillmark::set_debug_mode(bool on)
{
    m_debug.store(on, std::memory_order_relaxed);
}

void quillmark::st_delete_file()
{
    QDir dir(m_log_dir);
    if (!dir.exists()) {
        // A directory made just now holds nothing to remove.
        QDir().mkpath(m_log_dir);
        return;
    }
    const QDate today = quillmark_detail::legacy_local_date(quillmark_detail::now_ms());
    const QDate oldest_kept = today.addDays(-retention_days);
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::NoSort);
    for (const QFileInfo& entry : entries) {
        if (quillmark_detail::is_daily_log_name(entry.fileName()) &&
            entry.lastModified().date() < oldest_kept)
            QFile::remove(entry.absoluteFilePath());
    }
}
