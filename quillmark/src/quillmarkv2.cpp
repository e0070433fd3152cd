#include <quillmark/quillmarkv2.h>

#include "log_line.h"
#include "log_lock.h"
#include "log_paths.h"
#include "log_platform.h"
#include "log_stamp.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextCodec>

#include <cstdlib>

quillmarkv2* quillmarkv2::m_instance_ptr = nullptr;

namespace {

using write_lock = quillmark_detail::held_lock<QReadWriteLock>;

// Most lines fit; longer ones take the general way.
constexpr std::size_t line_room = 2048;

// The at-exit list runs backwards, and Qt destroys its global data at exit in the same list:
// whatever the handler needs is set up before our clean-up is registered, so that a line written
// while the process ends still finds it.
void set_up_what_the_handler_needs()
{
    // A contended read-write lock keeps its wait record in a list of Qt's global data.
    QReadWriteLock contended;
    contended.lockForWrite();
    contended.tryLockForRead(1);
    contended.unlock();
    quillmark_detail::stamp_cache stamp;
    stamp.set_time(quillmark_detail::now_ms());
    QTextCodec::codecForLocale();
    QDir(quillmark_detail::log_directory()).exists();
}

} // namespace

// What the handler reuses from line to line; touched only with the logger's lock held.
struct quillmarkv2::line_state
{
    quillmark_detail::stamp_cache stamp;
    // The locale's codec, looked up again with each new second rather than on every line.
    QTextCodec* codec = nullptr;
};

quillmarkv2::quillmarkv2() : QObject(nullptr), m_line_ptr(new line_state) {}

quillmarkv2::~quillmarkv2()
{
    // The file object is owned here; leaving it would keep its descriptor open for good.
    release_file_unlocked();
    delete m_line_ptr;
}

quillmarkv2* quillmarkv2::get_instance()
{
    if (!m_instance_ptr) {
        set_up_what_the_handler_needs();
        quillmark_detail::keep_library_loaded();
        m_instance_ptr = new quillmarkv2;
        std::atexit(&quillmarkv2::release_at_unload);
    }
    return m_instance_ptr;
}

void quillmarkv2::exit_instance()
{
    if (m_instance_ptr) {
        m_instance_ptr->deleteLater();
        m_instance_ptr = nullptr;
    }
}

void quillmarkv2::initialize(bool debug)
{
    {
        const write_lock held(m_lock);
        m_debug = debug;
    }
    set_file_object();
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
    m_line_ptr->stamp.set_time(quillmark_detail::now_ms());
    open_file_unlocked(m_line_ptr->stamp.date());
}

bool quillmarkv2::check_compare_date()
{
    // One local-time conversion; the handler compares against its per-second cache instead.
    const QDate today = QDateTime::fromMSecsSinceEpoch(quillmark_detail::now_ms()).date();
    const write_lock held(m_lock);
    return m_file_date == today;
}

void quillmarkv2::destroy()
{
    const write_lock held(m_lock);
    release_file_unlocked();
}

void quillmarkv2::message_handler(QtMsgType type, const QMessageLogContext& context,
                                  const QString& message)
{
    if (quillmark_detail::t_lock_held)
        return;
    quillmark_detail::g_writers.fetch_add(1);
    if (!quillmark_detail::g_torn_down.load()) {
        quillmarkv2* log = m_instance_ptr ? m_instance_ptr : get_instance();
        const write_lock held(log->m_lock);
        if (!quillmark_detail::g_torn_down.load(std::memory_order_relaxed))
            log->write_message(type, context, message);
    }
    quillmark_detail::g_writers.fetch_sub(1);
}

void quillmarkv2::write_message(QtMsgType type, const QMessageLogContext& context,
                                const QString& message)
{
    // The time is read under the lock, so the lines of a file follow their time stamps, and the
    // day switch happens here too, so no writer ever sees a file being replaced.
    quillmark_detail::stamp_cache& stamp = m_line_ptr->stamp;
    if (stamp.set_time(quillmark_detail::now_ms()) || !m_line_ptr->codec)
        m_line_ptr->codec = QTextCodec::codecForLocale();
    if (m_file_date != stamp.date())
        open_file_unlocked(stamp.date());
    if (!m_file_ptr || (type == QtDebugMsg && !m_debug))
        return;

    char storage[line_room];
    quillmark_detail::fixed_buffer line(storage, sizeof storage);
    QByteArray spill;
    if (!quillmark_detail::make_line(line, spill, stamp, quillmark_detail::current_thread_id(),
                                     type, context, message, m_line_ptr->codec))
        return;
    if (spill.isEmpty())
        quillmark_detail::write_line(*m_file_ptr, line.data(), line.size());
    else
        quillmark_detail::write_line(*m_file_ptr, spill.constData(), std::size_t(spill.size()));
}

void quillmarkv2::open_file_unlocked(const QDate& day)
{
    if (!m_file_ptr)
        m_file_ptr = new QFile;
    const QString directory = quillmark_detail::log_directory();
    QDir dir(directory);
    if (!dir.exists())
        dir.mkdir(directory);
    m_file_ptr->close();
    m_file_date = day;
    m_file_ptr->setFileName(quillmark_detail::log_file_path(day));
    if (!quillmark_detail::open_day_file(*m_file_ptr, QIODevice::Append | QIODevice::Text))
        release_file_unlocked();
}

void quillmarkv2::release_file_unlocked()
{
    // Deleted at once rather than later: the object may belong to a thread without an event
    // loop, and every user of the pointer holds the lock we hold.
    if (!m_file_ptr)
        return;
    m_file_ptr->close();
    delete m_file_ptr;
    m_file_ptr = nullptr;
}

void quillmarkv2::release_at_unload()
{
    // Threads may still be logging: they stop at the flag, and the object (with its lock) and
    // the installed handler stay, so that none of them ever finds freed memory or Qt's default
    // handler working on globals that are being destroyed.
    if (!m_instance_ptr) {
        quillmark_detail::g_torn_down.store(true);
        return;
    }
    quillmark_detail::stop_at_exit(m_instance_ptr->m_lock,
                                   [] { m_instance_ptr->release_file_unlocked(); });
}
