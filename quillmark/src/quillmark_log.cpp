#include <quillmark/quillmark_log.h>

#include "legacy_message.h"
#include "log_line.h"
#include "log_lock.h"
#include "log_platform.h"
#include "log_stamp.h"
#include "quillmark.h"

#include <QString>
#include <QTextCodec>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <mutex>

namespace {

std::atomic<quillmark*> g_log_ptr{nullptr};
std::mutex g_create_mutex;

// The object is left alive at exit: other threads may still be inside it.
void stop_log()
{
    g_log_ptr.load(std::memory_order_acquire)->stop_writing();
}

// Made on first use, whichever thread comes first.
quillmark* log_object()
{
    quillmark* log = g_log_ptr.load(std::memory_order_acquire);
    if (log)
        return log;
    std::lock_guard<std::mutex> guard(g_create_mutex);
    log = g_log_ptr.load(std::memory_order_acquire);
    if (!log) {
        quillmark_detail::keep_library_loaded();
        log = new quillmark;
        g_log_ptr.store(log, std::memory_order_release);
        std::atexit(stop_log);
    }
    return log;
}

quillmark_detail::passthrough current_passthrough()
{
    // The locale's codec rarely changes; what it passes through is worked out once per codec.
    thread_local QTextCodec* t_codec = nullptr;
    thread_local quillmark_detail::passthrough t_rule = quillmark_detail::passthrough::none;
    QTextCodec* codec = QTextCodec::codecForLocale();
    if (codec != t_codec) {
        t_rule = quillmark_detail::passthrough_for(codec);
        t_codec = codec;
    }
    return t_rule;
}

// The time stamp of now, converted to local time once per second and thread.
std::size_t stamp_text(char (&out)[quillmark_detail::stamp_cache::max_size])
{
    thread_local quillmark_detail::stamp_cache t_stamp;
    t_stamp.set_time(quillmark_detail::now_ms());
    return static_cast<std::size_t>(t_stamp.write(out) - out);
}

quint32 thread_number()
{
    return static_cast<quint32>(quillmark_detail::current_thread_id());
}

// Most lines: the expansion needs no string, and the line is put together in bytes on the stack.
// False when the line must take the general way.
bool write_simple_line(QLatin1String level, const char* format, va_list args)
{
    const quillmark_detail::passthrough rule = current_passthrough();
    if (rule == quillmark_detail::passthrough::none)
        return false;
    char storage[2048];
    quillmark_detail::fixed_buffer line(storage, sizeof storage);
    char stamp[quillmark_detail::stamp_cache::max_size];
    line.append(stamp, stamp_text(stamp));
    line.append("    ", 4);
    char number[24];
    const char* number_end =
        quillmark_detail::write_number(number, thread_number(), false, 10, false);
    line.append(number, std::size_t(number_end - number));
    line.append(" [", 2);
    line.append(level.data(), std::size_t(level.size()));
    line.append("] ", 2);
    if (!quillmark_detail::append_simple_message(line, format, args, rule) ||
        !line.append(quillmark_detail::line_end, quillmark_detail::line_end_size))
        return false;
    log_object()->write_log_bytes(line.data(), line.size());
    return true;
}

// The format is in the local 8-bit encoding; the expansion reads it, and "%s" arguments, as
// UTF-8. The message is inserted last and in one pass with the rest, so that a "%1" inside it
// stays; the whole line is turned into the local encoding once, when it is written, which
// replaces what that encoding cannot hold.
void write_line(QLatin1String level, const char* format, va_list args)
{
    if (quillmark_detail::g_torn_down.load(std::memory_order_relaxed) ||
        write_simple_line(level, format, args))
        return;
    const QString message = quillmark_detail::legacy_message(format, args);
    char stamp[quillmark_detail::stamp_cache::max_size];
    const std::size_t stamp_size = stamp_text(stamp);
    log_object()->write_log(QStringLiteral("%1    %2 [%3] %4")
                                .arg(QString::fromLatin1(stamp, int(stamp_size)),
                                     QString::number(thread_number()), QString(level), message));
}

} // namespace

extern "C" {

void DEBUG(const char* format, ...)
{
    if (!log_object()->debug_mode())
        return;
    va_list args;
    va_start(args, format);
    write_line(QLatin1String("DEBUG"), format, args);
    va_end(args);
}

void INFO(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    write_line(QLatin1String("INFO"), format, args);
    va_end(args);
}

void ERR(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    write_line(QLatin1String("ERR"), format, args);
    va_end(args);
}

void SUC(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    write_line(QLatin1String("SUC"), format, args);
    va_end(args);
}

void SET_DEBUG_MODE(bool on)
{
    log_object()->set_debug_mode(on);
}

} // extern "C"
