#include <quillmark/quillmarkv2.h>

#include "day_file.h"
#include "log_line.h"
#include "log_lock.h"
#include "log_platform.h"

#include <QDir>
#include <QTextCodec>

#include <atomic>
#include <cstdlib>
#include <mutex>

using namespace quillmark_detail;

quillmarkv2* quillmarkv2::m_instance_ptr = nullptr;

using write_lock = held_lock<QReadWriteLock>;

static constexpr QIODevice::OpenMode open_mode = QIODevice::Append | QIODevice::Text;

// Whether debug lines are kept after the clean-up at exit, when the logger may be gone.
static bool g_debug_at_exit = false;

// Qt destroys its global data in the at-exit list too, which runs backwards: what the handler
// needs is made before our clean-up is registered, so that a line written at exit still finds it.
static void set_up_what_the_handler_needs()
{
    // A contended read-write lock keeps its wait record in a list of Qt's global data.
    QReadWriteLock contended;
    contended.lockForWrite();
    contended.tryLockForRead(1);
    contended.unlock();
    keeps_ascii(QTextCodec::codecForLocale());
    QDir(log_directory()).exists();
}

// What the handler reuses from line to line. The day switch and the writes are serialised by
// file_lock, taken after m_lock when both are: a host holding m_lock may still switch, check the
// date or let go of the file, and a switch by a thread without m_lock still waits for a line
// being written.
struct quillmarkv2::line_state
{
    explicit line_state(quillmarkv2& log) : day(log.m_file_date, log.m_file_ptr, open_mode) {}
    spin_mutex file_lock;
    day_file day;      // under file_lock
    stamp_cache stamp; // under file_lock
    // The locale's, looked up once a second under the locks, read before them.
    std::atomic<QTextCodec*> codec{QTextCodec::codecForLocale()};
    std::atomic<bool> debug{false}; // m_debug, for the handler to read without a lock
};

using file_lock = held_lock<spin_mutex>;

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
    m_debug = debug;
    m_line_ptr->debug.store(debug);
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
    // Once a host has the object, each line first flushes what it left there.
    m_line_ptr->day.share();
    return m_file_ptr;
}

void quillmarkv2::set_file_object()
{
    const file_lock held(m_line_ptr->file_lock);
    m_line_ptr->stamp.set_time(now_ms());
    m_line_ptr->day.open(m_line_ptr->stamp.date());
}

bool quillmarkv2::check_compare_date()
{
    const QDate today = QDateTime::fromMSecsSinceEpoch(now_ms()).date();
    const file_lock held(m_line_ptr->file_lock);
    return m_file_date == today;
}

void quillmarkv2::destroy()
{
    const file_lock held(m_line_ptr->file_lock);
    m_line_ptr->day.release();
}

void quillmarkv2::message_handler(QtMsgType type, const QMessageLogContext& context,
                                  const QString& message)
{
    const writer_gate gate;
    if (gate.late()) {
        write_at_exit(type, context, message);
        return;
    }
    if (!gate.open())
        return;
    quillmarkv2* log = m_instance_ptr ? m_instance_ptr : get_instance();
    line_state& state = *log->m_line_ptr;
    if (type == QtDebugMsg && !state.debug.load(std::memory_order_relaxed))
        return;
    // All but the stamp before the locks: another thread's line waits for little more than the
    // stamp, the date and the write.
    QTextCodec* codec = state.codec.load(std::memory_order_acquire);
    stamped_line line;
    const qint32 thread = current_thread_id();
    if (!make_line(line, thread, type, context, message, codec))
        return;
    // Qt's lock, unlike the exports': a host may take get_lock() to write into the file itself.
    const write_lock held(log->m_lock);
    if (!gate.open())
        return;
    // This thread is marked already, by the outer lock.
    const std::lock_guard<spin_mutex> file(state.file_lock);
    if (state.stamp.set_time(now_ms()))
        state.codec.store(QTextCodec::codecForLocale(), std::memory_order_release);
    state.day.follow(state.stamp.date());
    if (!log->m_file_ptr)
        return;
    // The codec of the stamp's second; it changes about never.
    if (state.codec.load(std::memory_order_relaxed) != codec) {
        codec = state.codec.load(std::memory_order_relaxed);
        line.clear();
        make_line(line, thread, type, context, message, codec);
    }
    line.put_stamp(state.stamp, keeps_ascii(codec) ? nullptr : codec);
    state.day.write(line.data(), line.size());
}

void quillmarkv2::write_at_exit(QtMsgType type, const QMessageLogContext& context,
                                const QString& message)
{
    // Qt's codecs and the logger may be gone: the line is made by hand and written on its own.
    if (type == QtDebugMsg && !g_debug_at_exit)
        return;
    stamped_line line;
    if (!make_line(line, current_thread_id(), type, context, message, nullptr, utf8_at_exit()))
        return;
    stamp_cache stamp;
    stamp.set_time(now_ms());
    line.put_stamp(stamp);
    quillmark_detail::write_at_exit(open_mode, stamp.date(), line.data(), line.size());
}

void quillmarkv2::release_at_unload()
{
    // Threads still logging stop at the flag; the object and the handler stay, so none finds
    // freed memory or Qt's default handler at work on globals being destroyed.
    if (!m_instance_ptr) {
        begin_exit();
        return;
    }
    g_debug_at_exit = m_instance_ptr->m_debug;
    stop_at_exit(m_instance_ptr->m_lock, [] {
        // Not for good: where the system has stopped the other threads, one may hold it.
        line_state& state = *m_instance_ptr->m_line_ptr;
        if (take(state.file_lock, 100)) {
            state.day.release();
            state.file_lock.unlock();
        }
    });
}
