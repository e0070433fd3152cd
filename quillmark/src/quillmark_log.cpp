#include <quillmark/quillmark_log.h>

#include "log_line.h"
#include "log_lock.h"
#include "log_platform.h"
#include "log_stamp.h"
#include "quillmark.h"
#include "quillmark_log_message.h"

#include <QString>
#include <QTextCodec>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::atomic<quillmark*> g_log_ptr{nullptr};
std::mutex g_create_mutex;

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
        // Left alive at exit: other threads may still be inside it.
        std::atexit([] { g_log_ptr.load()->stop_writing(); });
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

// "<time stamp>    <thread> [<level>] ", ASCII; the time is converted to local time once per
// second and thread.
void append_head(quillmark_detail::fixed_buffer& line, const char* level)
{
    thread_local quillmark_detail::stamp_cache t_stamp;
    t_stamp.set_time(quillmark_detail::now_ms());
    char text[quillmark_detail::stamp_cache::max_size + 24];
    char* end = t_stamp.write(text);
    line.append(text, std::size_t(end - text));
    line.append("    ", 4);
    const auto thread = static_cast<quint32>(quillmark_detail::current_thread_id());
    end = quillmark_detail::write_number(text, thread, false, 10, false);
    line.append(text, std::size_t(end - text));
    line.append(" [", 2);
    line.append(level, std::strlen(level));
    line.append("] ", 2);
}

// The format is in the local 8-bit encoding; the expansion reads it, and "%s" arguments, as
// UTF-8. Most lines need no string: the line is put together in bytes on the stack. The others
// are turned into the local encoding once, when written, which replaces what it cannot hold.
// The message comes last, so that a "%1" inside it stays as it is.
void write_counted_line(const char* level, const char* format, va_list args)
{
    char storage[2048];
    quillmark_detail::fixed_buffer line(storage, sizeof storage);
    append_head(line, level);
    const std::size_t head_size = line.size();
    const quillmark_detail::passthrough rule = current_passthrough();
    if (rule != quillmark_detail::passthrough::none &&
        quillmark_detail::append_simple_message(line, format, args, rule) &&
        line.append(quillmark_detail::line_end, quillmark_detail::line_end_size)) {
        log_object()->write_log_bytes(line.data(), line.size());
        return;
    }
    log_object()->write_log(QString::fromLatin1(line.data(), int(head_size)) +
                            quillmark_detail::log_message(format, args));
}

void write_line(const char* level, const char* format, va_list args)
{
    // Counted from the start: the formatting uses Qt's codecs too.
    const quillmark_detail::writer_gate gate;
    if (gate.open())
        write_counted_line(level, format, args);
}

} // namespace

extern "C" {

void DEBUG(const char* format, ...)
{
    if (!log_object()->debug_mode())
        return;
    va_list args;
    va_start(args, format);
    write_line("DEBUG", format, args);
    va_end(args);
}

#define QUILLMARK_LEVEL_FUNCTION(name)                                                             \
    void name(const char* format, ...)                                                             \
    {                                                                                              \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        write_line(#name, format, args);                                                           \
        va_end(args);                                                                              \
    }

QUILLMARK_LEVEL_FUNCTION(INFO)
QUILLMARK_LEVEL_FUNCTION(ERR)
QUILLMARK_LEVEL_FUNCTION(SUC)

void SET_DEBUG_MODE(bool on)
{
    log_object()->set_debug_mode(on);
}

} // extern "C"
