#include <quillmark/quillmark_log.h>

#include "legacy_format.h"
#include "log_clock.h"
#include "quillmark.h"

#include <QString>

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

// The format is in the local 8-bit encoding; the expansion reads it, and "%s" arguments, as
// UTF-8. The message is inserted unchanged: the whole line is turned into the local encoding
// once, when it is written, which replaces what that encoding cannot hold.
void write_line(QLatin1String level, const char* format, va_list args)
{
    const QString message =
        QString::vasprintf(QString::fromLocal8Bit(format).toUtf8().constData(), args);
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
