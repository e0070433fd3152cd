#include "quillmark.h"

#include "log_lock.h"
#include "log_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

using namespace quillmark_detail;

// Read back and written again, so that only the exact form with a real date passes.
static bool is_daily_log_name(const QString& name)
{
    return log_file_name(QDate::fromString(name.left(10), QLatin1String("yyyy-MM-dd"))) == name;
}

quillmark::quillmark()
{
    m_today.set_time(now_ms());
    m_day.open(m_today.date());
    // A timer fires through its thread's loop: only the application's outlives every caller.
    const QCoreApplication* app = QCoreApplication::instance();
    if (m_file && app && app->thread() == QThread::currentThread() &&
        connect(&m_timer, SIGNAL(timeout()), this, SLOT(st_delete_file())))
        m_timer.start(retention_interval_ms);
}

quillmark::~quillmark()
{
    disconnect(&m_timer, SIGNAL(timeout()), this, SLOT(st_delete_file()));
    if (m_timer.isActive() && m_timer.thread() == QThread::currentThread())
        m_timer.stop();
    m_day.release();
}

void quillmark::write_log(QString line)
{
    const QByteArray bytes = line.toLocal8Bit().replace("\n", line_end).append(line_end);
    write_log_bytes(bytes.constData(), std::size_t(bytes.size()));
}

// The caller counts itself a writer for the whole line (writer_gate).
template <typename Write> void quillmark::write_under_lock(Write write)
{
    if (t_lock_held || g_torn_down.load())
        return;
    const held_lock<std::mutex> held(m_lock);
    if (g_torn_down.load())
        return;
    m_today.set_time(now_ms());
    m_day.follow(m_today.date());
    write();
}

void quillmark::write_log_bytes(const char* bytes, std::size_t size)
{
    write_under_lock([&] { m_day.write(bytes, size); });
}

void quillmark::write_stamped(stamped_line& line, QTextCodec* stamp_codec)
{
    write_under_lock([&] {
        line.put_stamp(m_today, stamp_codec);
        m_day.write(line.data(), line.size());
    });
}

void quillmark::stop_writing()
{
    stop_at_exit(m_lock, [this] { m_day.release(); });
}

void quillmark::st_delete_file()
{
    make_program_log_directory(m_log_dir);
    const QDate oldest_kept =
        QDateTime::fromMSecsSinceEpoch(now_ms()).date().addDays(-retention_days);
    // The user's own folder holds the lines the program's could not take: the same rule.
    for (const QString& path : {m_log_dir, user_log_directory(false)}) {
        if (path.isEmpty())
            continue;
        const auto entries = QDir(path).entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::NoSort);
        for (const QFileInfo& entry : entries) {
            if (is_daily_log_name(entry.fileName()) && entry.lastModified().date() < oldest_kept)
                QFile::remove(entry.absoluteFilePath());
        }
    }
}
