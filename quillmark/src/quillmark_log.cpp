#include <quillmark/quillmark_log.h>

#include "day_file.h"
#include "log_lock.h"
#include "log_platform.h"
#include "quillmark.h"

#include <QTextCodec>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace quillmark_detail {

namespace {

// The length of the UTF-8 sequence at p (p < end), or 0 when it is not one to pass through.
std::size_t sequence_length(const unsigned char* p, const unsigned char* end)
{
    const unsigned lead = *p;
    const std::size_t extra = (lead & 0xE0) == 0xC0   ? 1
                              : (lead & 0xF0) == 0xE0 ? 2
                              : (lead & 0xF8) == 0xF0 ? 3
                                                      : 0;
    if (extra == 0 || static_cast<std::size_t>(end - p) <= extra)
        return 0;
    constexpr char32_t least[] = {0, 0x80, 0x800, 0x10000};
    char32_t code = lead & (0x3Fu >> extra);
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    // Decoders may drop noncharacters and byte order marks: the general way is the reference.
    const bool doubtful = code == 0xFEFF || (code >= 0xFDD0 && code <= 0xFDEF) ||
                          (code & 0xFFFE) == 0xFFFE || (code >= 0xD800 && code <= 0xDFFF);
    return code < least[extra] || code > 0x10FFFF || doubtful ? 0 : extra + 1;
}

bool passes(const char* begin, const char* end, passthrough rule)
{
    const auto* p = reinterpret_cast<const unsigned char*>(begin);
    const auto* stop = reinterpret_cast<const unsigned char*>(end);
    for (std::size_t n = 1; p < stop; p += n) {
        n = *p < 0x80 ? 1 : rule == passthrough::utf8 ? sequence_length(p, stop) : 0;
        if (n == 0)
            return false;
    }
    return true;
}

bool append_checked(fixed_buffer& out, const char* begin, const char* end, passthrough rule)
{
    if (!passes(begin, end, rule))
        return false;
    if (line_end_size == 1)
        return out.append(begin, static_cast<std::size_t>(end - begin));
    bool ok = true;
    for (const char* p = begin; ok && p < end; ++p)
        ok = *p == '\n' ? out.append(line_end, line_end_size) : out.append(p, 1);
    return ok;
}

bool append_integer(fixed_buffer& out, char conversion, int longs, bool size_type, va_list& args)
{
    char text[24]; // 64 bits in decimal with a sign, or in hexadecimal
    char* end = text;
    if (conversion == 'd' || conversion == 'i') {
        end = std::to_chars(text, text + sizeof text,
                            longs == 0   ? va_arg(args, int)
                            : longs == 1 ? va_arg(args, long)
                                         : va_arg(args, long long))
                  .ptr;
    } else {
        const unsigned long long value = size_type    ? va_arg(args, std::size_t)
                                         : longs == 0 ? va_arg(args, unsigned)
                                         : longs == 1 ? va_arg(args, unsigned long)
                                                      : va_arg(args, unsigned long long);
        end = std::to_chars(text, text + sizeof text, value, conversion == 'u' ? 10 : 16).ptr;
        for (char* c = text; conversion == 'X' && c < end; ++c)
            *c = *c >= 'a' ? static_cast<char>(*c - 'a' + 'A') : *c;
    }
    return out.append(text, static_cast<std::size_t>(end - text));
}

// One conversion, p just after its '%'; moves p past it.
bool append_conversion(fixed_buffer& out, const char*& p, va_list& args, passthrough rule)
{
    if (*p == '%')
        return out.append(p++, 1);
    const bool size_type = *p == 'z';
    p += size_type ? 1 : 0;
    const int longs = size_type || p[0] != 'l' ? 0 : p[1] != 'l' ? 1 : 2;
    p += longs;
    const char conversion = *p++;
    if (conversion == 's') {
        const char* text = longs == 0 && !size_type ? va_arg(args, const char*) : nullptr;
        return text && append_checked(out, text, text + std::strlen(text), rule);
    }
    const bool is_signed = conversion == 'd' || conversion == 'i';
    const bool is_unsigned = conversion == 'u' || conversion == 'x' || conversion == 'X';
    return ((is_signed && !size_type) || is_unsigned) &&
           append_integer(out, conversion, longs, size_type, args);
}

bool has_count_conversion(const char* format)
{
    for (const char* p = std::strchr(format, '%'); p; p = std::strchr(p, '%')) {
        if (*++p == '%') {
            ++p;
            continue;
        }
        // Flags, field width, precision, argument position and length modifiers.
        p += std::strspn(p, "-+ #0'123456789.*$hlLqjztI");
        if (*p == 'n')
            return true;
    }
    return false;
}

} // namespace

passthrough passthrough_for(QTextCodec* codec)
{
    if (!codec || codec->mibEnum() == utf8_mib)
        return codec ? passthrough::utf8 : passthrough::none;
    QByteArray ascii;
    for (int c = 1; c < 0x80; ++c)
        ascii.append(static_cast<char>(c));
    const QString text = QString::fromLatin1(ascii);
    const bool kept = codec->fromUnicode(text) == ascii && codec->toUnicode(ascii) == text;
    return kept ? passthrough::ascii : passthrough::none;
}

bool append_simple_message(fixed_buffer& out, const char* format, va_list args, passthrough rule)
{
    if (rule == passthrough::none)
        return false;
    // A va_list parameter may be a pointer in disguise; a local copy can be passed on by reference.
    va_list rest;
    va_copy(rest, args);
    bool ok = true;
    for (const char* p = format; ok;) {
        const char* percent = std::strchr(p, '%');
        ok = append_checked(out, p, percent ? percent : p + std::strlen(p), rule);
        if (!ok || !percent)
            break;
        p = percent + 1;
        ok = append_conversion(out, p, rest, rule);
    }
    va_end(rest);
    return ok;
}

QString log_message(const char* format, va_list args)
{
    if (has_count_conversion(format))
        return QString::fromLocal8Bit(format);
    return QString::vasprintf(QString::fromLocal8Bit(format).toUtf8().constData(), args);
}

} // namespace quillmark_detail

using namespace quillmark_detail;

namespace {

// The logger, once made; read at exit, when a late line must not make it.
std::atomic<quillmark*> g_made{nullptr};

// Made on first use by whichever thread comes first; kept at exit for threads still inside.
quillmark* log_object()
{
    static quillmark* const log = [] {
        keep_library_loaded();
        auto* made = new quillmark;
        std::atexit([] { log_object()->stop_writing(); });
        g_made.store(made);
        return made;
    }();
    return log;
}

bool late_line()
{
    return t_exiting && g_torn_down.load();
}

bool debug_wanted()
{
    if (!late_line())
        return log_object()->debug_mode();
    const quillmark* made = g_made.load();
    return made && made->debug_mode();
}

// Most lines are put together in bytes on the stack; the others become the local encoding once.
// The message comes last, so that a "%1" inside it stays as it is. All of it before the logger's
// lock; the stamp goes in front under it.
void write_export_line(const char* tag, const char* format, va_list args)
{
    // Counted from the start: the formatting uses Qt's codecs too.
    const writer_gate gate;
    const bool late = gate.late();
    if (!gate.open() && !late)
        return;
    // At exit the codecs are gone: UTF-8 or ASCII by hand, as the locale was.
    QTextCodec* codec = late ? nullptr : QTextCodec::codecForLocale();
    const passthrough rule = late ? (utf8_at_exit() ? passthrough::utf8 : passthrough::ascii)
                                  : cached_passthrough(codec);
    stamped_line line;
    char head[40];
    char* end = std::copy_n("    ", 4, head);
    end = std::to_chars(end, head + 24, static_cast<quint32>(current_thread_id())).ptr;
    end = std::copy(tag, tag + std::strlen(tag), end);
    const auto head_size = std::size_t(end - head);
    fixed_buffer& text = line.text();
    if (!(rule != passthrough::none && text.append(head, head_size) &&
          append_simple_message(text, format, args, rule) &&
          text.append(line_end, line_end_size))) {
        const QString rest = QString::fromLatin1(head, int(head_size)) + log_message(format, args);
        const QByteArray bytes =
            late ? (utf8_at_exit() ? rest.toUtf8() : rest.toLatin1()) : rest.toLocal8Bit();
        line.spill() = QByteArray(int(stamp_cache::max_size), ' ') +
                       QByteArray(bytes).replace("\n", line_end).append(line_end);
    }
    QTextCodec* stamp_codec = late || keeps_ascii(codec) ? nullptr : codec;
    if (!late) {
        log_object()->write_stamped(line, stamp_codec);
        return;
    }
    stamp_cache stamp;
    stamp.set_time(now_ms());
    line.put_stamp(stamp);
    write_at_exit(quillmark::open_mode, stamp.date(), line.data(), line.size());
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

QUILLMARK_LEVEL_FUNCTION(DEBUG, debug_wanted())
QUILLMARK_LEVEL_FUNCTION(INFO, true)
QUILLMARK_LEVEL_FUNCTION(ERR, true)
QUILLMARK_LEVEL_FUNCTION(SUC, true)

void SET_DEBUG_MODE(bool on)
{
    log_object()->set_debug_mode(on);
}

} // extern "C"
