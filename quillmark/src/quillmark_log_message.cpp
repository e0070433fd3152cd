#include "log_line.h"

#include "log_platform.h"

#include <QTextCodec>

#include <charconv>
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
    // Noncharacters and the byte order mark are valid, but decoders may drop or replace them:
    // such text takes the general way, which is the reference.
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

bool append_text(fixed_buffer& out, const char* begin, const char* end)
{
    if (line_end_size == 1)
        return out.append(begin, static_cast<std::size_t>(end - begin));
    bool ok = true;
    for (const char* p = begin; ok && p < end; ++p)
        ok = *p == '\n' ? out.append(line_end, line_end_size) : out.append(p, 1);
    return ok;
}

bool append_checked(fixed_buffer& out, const char* begin, const char* end, passthrough rule)
{
    return passes(begin, end, rule) && append_text(out, begin, end);
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
    if (*p == '%') {
        ++p;
        return out.append("%", 1);
    }
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
        ++p;
        if (*p == '%') {
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
    if (!codec)
        return passthrough::none;
    if (codec->mibEnum() == utf8_mib)
        return passthrough::utf8;
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
