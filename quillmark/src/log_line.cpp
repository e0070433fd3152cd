#include "log_line.h"

#include "log_stamp.h"

#include <QString>
#include <QTextCodec>

#include <cstring>

namespace quillmark_detail {

namespace {

// Tags padded to a fixed size, so that one fixed-size copy puts any of them in place.
struct level
{
    char tag[16];
    std::size_t size;
    bool with_place; // function and line number follow the tag
};

constexpr level levels[] = {
    {"[DEBUG]\t", 8, false},    // QtDebugMsg
    {"[WARNING]\t", 10, true},  // QtWarningMsg
    {"[CRITICAL]\t", 11, true}, // QtCriticalMsg, also QtSystemMsg
    {"[FATAL]\t", 8, true},     // QtFatalMsg
    {"[INFO]\t", 7, false},     // QtInfoMsg
};

static_assert(QtDebugMsg == 0 && QtWarningMsg == 1 && QtCriticalMsg == 2 && QtFatalMsg == 3 &&
                  QtInfoMsg == 4,
              "levels[] is indexed by the message type");

const level* level_of(QtMsgType type)
{
    const auto index = static_cast<std::size_t>(type);
    return index < sizeof levels / sizeof levels[0] ? &levels[index] : nullptr;
}

char* write_bytes(char* out, const char* bytes, std::size_t n)
{
    std::memcpy(out, bytes, n);
    return out + n;
}

// A 32-bit number in decimal, sign included, as a text stream writes it.
char* write_decimal(char* out, qint32 value)
{
    const auto magnitude =
        value < 0 ? 0 - static_cast<quint32>(value) : static_cast<quint32>(value);
    return write_number(out, magnitude, value < 0, 10, false);
}

bool is_ascii(const char* text, std::size_t n)
{
    unsigned char bits = 0;
    for (std::size_t i = 0; i < n; ++i)
        bits |= static_cast<unsigned char>(text[i]);
    return bits < 0x80;
}

// Copies the UTF-16 text as bytes when every unit is below 0x80; false (with out scribbled on)
// otherwise.
bool narrow_ascii(char* out, const QString& text)
{
    const ushort* units = text.utf16();
    const auto n = static_cast<std::size_t>(text.size());
    ushort bits = 0;
    for (std::size_t i = 0; i < n; ++i) {
        bits |= units[i];
        out[i] = static_cast<char>(units[i]);
    }
    return bits < 0x80;
}

// The common case, a UTF-8 locale and ASCII text, where every character is its own byte.
bool append_ascii_line(fixed_buffer& out, const stamp_cache& stamp, qint32 thread, const level& lvl,
                       const QMessageLogContext& context, const QString& message)
{
    const char* function = lvl.with_place && context.function ? context.function : "";
    const std::size_t function_size = lvl.with_place ? std::strlen(function) : 0;
    if (!is_ascii(function, function_size))
        return false;
    const auto message_size = static_cast<std::size_t>(message.size());
    char* p = out.room(stamp_cache::max_size + 1 + 24 + 1 + sizeof lvl.tag + function_size + 2 +
                       24 + 2 + message_size + 1);
    if (!p)
        return false;
    p = stamp.write(p);
    *p++ = '\t';
    p = write_decimal(p, thread);
    *p++ = '\t';
    std::memcpy(p, lvl.tag, sizeof lvl.tag);
    p += lvl.size;
    if (lvl.with_place) {
        p = write_bytes(p, function, function_size);
        p = write_bytes(p, "\t[", 2);
        p = write_decimal(p, context.line);
        p = write_bytes(p, "]\t", 2);
    }
    if (!narrow_ascii(p, message))
        return false;
    p += message_size;
    *p++ = '\n';
    out.commit(p);
    return true;
}

// Any other text: the whole line goes through the codec in one pass, as a text stream on the file
// would convert it, so that stateful encodings and unpaired surrogates come out the same.
QByteArray encoded_line(const stamp_cache& stamp, qint32 thread, const level& lvl,
                        const QMessageLogContext& context, const QString& message,
                        QTextCodec* codec)
{
    char head[stamp_cache::max_size];
    const char* head_end = stamp.write(head);
    QString text = QString::fromLatin1(head, static_cast<int>(head_end - head)) +
                   QLatin1Char('\t') + QString::number(thread) + QLatin1Char('\t') +
                   QLatin1String(lvl.tag, static_cast<int>(lvl.size));
    if (lvl.with_place) {
        text += QLatin1String(context.function) + QLatin1String("\t[") +
                QString::number(context.line) + QLatin1String("]\t");
    }
    text += message + QLatin1Char('\n');

    if (!codec)
        return text.toLatin1();
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return codec->fromUnicode(text.constData(), text.size(), &state);
}

} // namespace

bool fixed_buffer::append(const char* bytes, std::size_t n)
{
    if (m_capacity - m_size < n)
        return false;
    if (n)
        std::memcpy(m_data + m_size, bytes, n);
    m_size += n;
    return true;
}

char* write_number(char* out, unsigned long long magnitude, bool negative, unsigned base,
                   bool capitals)
{
    const char* digits = capitals ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[64];
    std::size_t n = 0;
    do {
        reversed[n++] = digits[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    if (negative)
        *out++ = '-';
    while (n > 0)
        *out++ = reversed[--n];
    return out;
}

bool make_line(fixed_buffer& out, QByteArray& spill, const stamp_cache& stamp, qint32 thread,
               QtMsgType type, const QMessageLogContext& context, const QString& message,
               QTextCodec* codec)
{
    const level* lvl = level_of(type);
    if (!lvl)
        return false;
    if (!codec || codec->mibEnum() != utf8_mib ||
        !append_ascii_line(out, stamp, thread, *lvl, context, message))
        spill = encoded_line(stamp, thread, *lvl, context, message, codec);
    return true;
}

} // namespace quillmark_detail
