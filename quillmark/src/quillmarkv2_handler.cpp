#include <quillmark/quillmarkv2.h>

#include "log_clock.h"
#include "log_line.h"
#include "log_lock.h"
#include "log_platform.h"
#include "log_tls.h"
#include "quillmarkv2_state.h"

#include <QFile>
#include <QTextCodec>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Set once the library is being unloaded: from then on the handler touches nothing.
std::atomic<bool> g_torn_down{false};
// Threads inside the handler past the re-entry check; teardown waits for them to leave.
std::atomic<int> g_active{0};

constexpr std::size_t line_keep = 64 * 1024;

// The emitting thread's number as text, worked out again only when the id changes (a new thread
// reusing this storage never does; the child of a fork does).
struct thread_label
{
    qint32 id = 0;
    quillmark_detail::decimal_text text{};
};
thread_local thread_label t_thread QUILLMARK_FAST_TLS;

const quillmark_detail::decimal_text& thread_text()
{
    const qint32 id = quillmark_detail::current_thread_id();
    if (id != t_thread.id) {
        t_thread.id = id;
        t_thread.text = quillmark_detail::to_decimal(id);
    }
    return t_thread.text;
}

// Long enough for a line being written; short enough not to hold up an exit for long where the
// system has already stopped the other threads (Windows ends them before unloading libraries).
constexpr auto teardown_patience = std::chrono::milliseconds(500);

class handler_scope
{
public:
    handler_scope() { g_active.fetch_add(1); }
    ~handler_scope() { g_active.fetch_sub(1); }
    handler_scope(const handler_scope&) = delete;
    handler_scope& operator=(const handler_scope&) = delete;
};

// False when some thread stays inside the handler, e.g. blocked on a write to a stalled disk, or
// when this very thread holds the lock (the process is ending from inside a write).
bool wait_for_handlers()
{
    if (quillmark_detail::t_lock_held)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + teardown_patience;
    while (g_active.load() > 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

} // namespace

void quillmarkv2::initialize(bool debug)
{
    {
        const quillmark_detail::held_lock held(m_lock, quillmark_detail::held_lock::mode::write);
        m_debug = debug;
        m_line_ptr->stamp.set_time(quillmark_detail::now_ms());
        open_file_unlocked(m_line_ptr->stamp.date());
    }
    // Once the library is going away its handler must not be put back: the code may be unmapped.
    if (!g_torn_down.load())
        qInstallMessageHandler(&quillmarkv2::message_handler);
}

void quillmarkv2::message_handler(QtMsgType type, const QMessageLogContext& context,
                                  const QString& message)
{
    if (quillmark_detail::t_lock_held)
        return;
    const handler_scope scope;
    if (g_torn_down.load())
        return;
    quillmarkv2* log = m_instance_ptr ? m_instance_ptr : get_instance();
    const quillmark_detail::held_lock held(log->m_lock, quillmark_detail::held_lock::mode::write);
    log->write_message(type, context, message);
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

    quillmark_detail::line_buffer& line = m_line_ptr->line;
    line.clear();
    if (!quillmark_detail::append_line(line, stamp, thread_text(), type, context, message,
                                       m_line_ptr->codec))
        return;
    quillmark_detail::write_line(*m_file_ptr, line.data(), line.size());
    if (line.capacity() > line_keep)
        line.shrink(line_reserve);
}

void quillmarkv2::release_at_unload()
{
    g_torn_down.store(true);
    // Qt's default handler comes back only if ours is the one installed; a host's own stays.
    const QtMessageHandler previous = qInstallMessageHandler(nullptr);
    if (previous != &quillmarkv2::message_handler)
        qInstallMessageHandler(previous);
    if (!wait_for_handlers())
        return; // better to leave the logger behind than to free it under a writer
    quillmarkv2* log = m_instance_ptr;
    m_instance_ptr = nullptr;
    delete log;
}
