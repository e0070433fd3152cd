#include <quillmark/quillmark_log.h>

#include "log_line.h"
#include "log_lock.h"
#include "log_platform.h"
#include "quillmark.h"

#include <QTextCodec>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

using namespace quillmark_detail;

namespace {

// Made on first use, whichever thread comes first, and left alive at exit: other threads may
// still be inside it.
quillmark* log_object()
{
    static quillmark* const log = [] {
        keep_library_loaded();
        auto* made = new quillmark;
        std::atexit([] { log_object()->stop_writing(); });
        return made;
    }();
    return log;
}

// Worked out once per codec: the locale's rarely changes.
passthrough current_passthrough()
{
    thread_local QTextCodec* t_codec = nullptr;
    thread_local passthrough t_rule = passthrough::none;
    QTextCodec* codec = QTextCodec::codecForLocale();
    if (codec != t_codec)
        t_rule = passthrough_for(t_codec = codec);
    return t_rule;
}

// "<time stamp>    <thread> [<level>] ", ASCII; local time is worked out once a second a thread.
void append_head(fixed_buffer& line, const char* tag)
{
    thread_local stamp_cache t_stamp;
    t_stamp.set_time(now_ms());
    char text[stamp_cache::max_size + 16];
    char* end = std::copy_n("    ", 4, t_stamp.write(text));
    end = std::to_chars(end, text + sizeof text, static_cast<quint32>(current_thread_id())).ptr;
    line.append(text, std::size_t(end - text));
    line.append(tag, std::strlen(tag));
}

// Most lines are put together in bytes on the stack; the others become the local encoding once,
// when written. The message comes last, so that a "%1" inside it stays as it is.
void write_export_line(const char* tag, const char* format, va_list args)
{
    // Counted from the start: the formatting uses Qt's codecs too.
    const writer_gate gate;
    if (!gate.open())
        return;
    char storage[2048];
    fixed_buffer line(storage, sizeof storage);
    append_head(line, tag);
    const std::size_t head_size = line.size();
    const passthrough rule = current_passthrough();
    if (rule != passthrough::none && append_simple_message(line, format, args, rule) &&
        line.append(line_end, line_end_size))
        log_object()->write_log_bytes(line.data(), line.size());
    else
        log_object()->write_log(QString::fromLatin1(line.data(), int(head_size)) +
                                log_message(format, args));
}

} // namespace

extern "C" {

#define QUILLMARK_LEVEL_FUNCTION(name, wanted)                                                     \
    void name(const char* format, ...)                                                             \
    {                                                                                              \
        if (!(wanted))                                                                             \
            return;                                                                                \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        write_export_line(" [" #name "] ", format, args);                                          \
        va_end(args);                                                                              \
    }

QUILLMARK_LEVEL_FUNCTION(DEBUG, log_object()->debug_mode())
QUILLMARK_LEVEL_FUNCTION(INFO, true)
QUILLMARK_LEVEL_FUNCTION(ERR, true)
QUILLMARK_LEVEL_FUNCTION(SUC, true)

void SET_DEBUG_MODE(bool on)
{
    log_object()->set_debug_mode(on);
}

} // extern "C"
