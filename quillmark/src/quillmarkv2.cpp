#include <quillmark/quillmarkv2.h>

#include "day_file.h"
#include "log_line.h"
#include "log_lock.h"
#include "log_platform.h"

#include <QDir>
#include <QTextCodec>

#include <cstdlib>

using namespace quillmark_detail;

quillmarkv2* quillmarkv2::m_instance_ptr = nullptr;

using write_lock = held_lock<QReadWriteLock>;

// Qt destroys its global data in the at-exit list too, which runs backwards: what the handler
// needs is made before our clean-up is registered, so that a line written at exit still finds it.
static void set_up_what_the_handler_needs()
{
    // A contended read-write lock keeps its wait record in a list of Qt's global data.
    QReadWriteLock contended;
    contended.lockForWrite();
    contended.tryLockForRead(1);
    contended.unlock();
    stamp_cache().set_time(now_ms());
    QTextCodec::codecForLocale();
    QDir(log_directory()).exists();
}

// What the handler reuses from line to line, under the logger's lock.
struct quillmarkv2::line_state
{
    explicit line_state(quillmarkv2& log)
        : day(log.m_file_date, log.m_file_ptr, QIODevice::Append | QIODevice::Text)
    {}
    day_file day;
    stamp_cache stamp;
    QTextCodec* codec = nullptr; // the locale's, looked up once a second, not for every line
};

quillmarkv2::quillmarkv2() : QObject(nullptr), m_line_ptr(new line_state(*this)) {}

quillmarkv2::~quillmarkv2()
{
    m_line_ptr->day.release();
    delete m_line_ptr;
}

quillmarkv2* quillmarkv2::get_instance()
{
    if (!m_instance_ptr) {
        set_up_what_the_handler_needs();
        keep_library_loaded();
        m_instance_ptr = new quillmarkv2;
        std::atexit(&quillmarkv2::release_at_unload);
    }
    return m_instance_ptr;
}

void quillmarkv2::exit_instance()
{
    if (m_instance_ptr)
        m_instance_ptr->deleteLater();
    m_instance_ptr = nullptr;
}

void quillmarkv2::initialize(bool debug)
{
    set_file_object();
    const write_lock held(m_lock);
    m_debug = debug;
    qInstallMessageHandler(&quillmarkv2::message_handler);
}

bool quillmarkv2::is_debug()
{
    return m_debug;
}

QReadWriteLock* quillmarkv2::get_lock()
{
    return &m_lock;
}

QFile* quillmarkv2::get_file_object()
{
    return m_file_ptr;
}

void quillmarkv2::set_file_object()
{
    const write_lock held(m_lock);
    m_line_ptr->stamp.set_time(now_ms());
    m_line_ptr->day.open(m_line_ptr->stamp.date());
}

bool quillmarkv2::check_compare_date()
{
    const QDate today = QDateTime::fromMSecsSinceEpoch(now_ms()).date();
    const write_lock held(m_lock);
    return m_file_date == today;
}

void quillmarkv2::destroy()
{
    const write_lock held(m_lock);
    m_line_ptr->day.release();
}

void quillmarkv2::message_handler(QtMsgType type, const QMessageLogContext& context,
                                  const QString& message)
{
    const writer_gate gate;
    if (!gate.open())
        return;
    quillmarkv2* log = m_instance_ptr ? m_instance_ptr : get_instance();
    // Qt's lock, unlike the exports': a host may take get_lock() to write into the file itself.
    const write_lock held(log->m_lock);
    if (gate.open())
        log->write_message(type, context, message);
}

void quillmarkv2::write_message(QtMsgType type, const QMessageLogContext& context,
                                const QString& message)
{
    // Under the lock: lines follow their stamps, and no writer sees the day's file replaced.
    stamp_cache& stamp = m_line_ptr->stamp;
    if (stamp.set_time(now_ms()) || !m_line_ptr->codec)
        m_line_ptr->codec = QTextCodec::codecForLocale();
    m_line_ptr->day.follow(stamp.date());
    if (!m_file_ptr || (type == QtDebugMsg && !m_debug))
        return;

    char storage[2048]; // most lines fit; longer ones take the general way
    fixed_buffer line(storage, sizeof storage);
    QByteArray spill;
    if (!make_line(line, spill, stamp, current_thread_id(), type, context, message,
                   m_line_ptr->codec))
        return;
    const bool fits = spill.isEmpty();
    m_line_ptr->day.write(fits ? line.data() : spill.constData(),
                          fits ? line.size() : std::size_t(spill.size()));
}

void quillmarkv2::release_at_unload()
{
    // Threads still logging stop at the flag; the object and the handler stay, so none finds
    // freed memory or Qt's default handler at work on globals being destroyed.
    if (!m_instance_ptr) {
        g_torn_down.store(true);
        return;
    }
    stop_at_exit(m_instance_ptr->m_lock, [] { m_instance_ptr->m_line_ptr->day.release(); });
}
