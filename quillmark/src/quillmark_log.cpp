#include <quillmark/quillmark_log.h>

#include "legacy_format.h"
#include "legacy_message.h"
#include "log_clock.h"
#include "log_digits.h"
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

void delete_log()
{
    delete g_log_ptr.exchange(nullptr, std::memory_order_acq_rel);
}

// Made on first use, whichever thread comes first; the at-exit list deletes it again when the
// library is unloaded or the process ends.
quillmark* log_object()
{
    quillmark* log = g_log_ptr.load(std::memory_order_acquire);
    if (log)
        return log;
    std::lock_guard<std::mutex> guard(g_create_mutex);
    log = g_log_ptr.load(std::memory_order_acquire);
    if (!log) {
        log = new quillmark;
        g_log_ptr.store(log, std::memory_order_release);
        std::atexit(delete_log);
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

#ifdef Q_OS_WIN
constexpr char line_end[] = "\r\n";
#else
constexpr char line_end[] = "\n";
#endif

// Most lines: the expansion needs no string, and the line is put together in bytes on the stack.
// False when the line must take the general way.
bool write_simple_line(QLatin1String level, const char* format, va_list args)
{
    const quillmark_detail::passthrough rule = current_passthrough();
    if (rule == quillmark_detail::passthrough::none)
        return false;
    char storage[2048];
    quillmark_detail::fixed_buffer line(storage, sizeof storage);
    char stamp[quillmark_detail::legacy_timestamp_room];
    line.append(stamp, quillmark_detail::legacy_timestamp_text(quillmark_detail::now_ms(), stamp));
    line.append("    ", 4);
    char number[24];
    const char* number_end = quillmark_detail::write_number(
        number, quillmark_detail::legacy_thread_number(), false, 10, false);
    line.append(number, std::size_t(number_end - number));
    line.append(" [", 2);
    line.append(level.data(), std::size_t(level.size()));
    line.append("] ", 2);
    if (!quillmark_detail::append_simple_message(line, format, args, rule) ||
        !line.append(line_end, sizeof line_end - 1))
        return false;
    log_object()->write_log_bytes(line.data(), line.size());
    return true;
}

// The format is in the local 8-bit encoding; the expansion reads it, and "%s" arguments, as
// UTF-8. The message is inserted unchanged: the whole line is turned into the local encoding
// once, when it is written, which replaces what that encoding cannot hold.
void write_line(QLatin1String level, const char* format, va_list args)
{
    if (write_simple_line(level, format, args))
        return;
    const QString message = quillmark_detail::legacy_message(format, args);
    const QString timestamp = quillmark_detail::legacy_timestamp(quillmark_detail::now_ms());
    const quint64 thread = quillmark_detail::legacy_thread_number();
    log_object()->write_log(quillmark_detail::legacy_line(timestamp, thread, level, message));
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
