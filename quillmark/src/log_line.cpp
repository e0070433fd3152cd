#include "log_line.h"

#include "log_buffer.h"
#include "log_stamp.h"

#include <QString>
#include <QTextCodec>

#include <cstring>

namespace quillmark_detail {

namespace {

constexpr int utf8_mib = 106;
// Room for a 32-bit number in decimal with its sign.
constexpr std::size_t number_room = 11;

struct level
{
    const char* tag;
    std::size_t tag_size;
    bool with_place; // function and line number follow the tag
};

template <std::size_t N> constexpr level make_level(const char (&tag)[N], bool with_place)
{
    return {tag, N - 1, with_place};
}

bool level_of(QtMsgType type, level* out)
{
    switch (type) {
    case QtDebugMsg:
        *out = make_level("[DEBUG]\t", false);
        return true;
    case QtInfoMsg:
        *out = make_level("[INFO]\t", false);
        return true;
    case QtWarningMsg:
        *out = make_level("[WARNING]\t", true);
        return true;
    case QtCriticalMsg:
        *out = make_level("[CRITICAL]\t", true);
        return true;
    case QtFatalMsg:
        *out = make_level("[FATAL]\t", true);
        return true;
    }
    return false;
}

// Decimal, as a text stream writes integers.
char* write_number(char* out, qint32 value)
{
    char digits[number_room];
    char* end = digits + sizeof digits;
    char* p = end;
    quint32 magnitude = value < 0 ? 0 - static_cast<quint32>(value) : static_cast<quint32>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--p = '-';
    const auto n = static_cast<std::size_t>(end - p);
    std::memcpy(out, p, n);
    return out + n;
}

char* write_bytes(char* out, const char* bytes, std::size_t n)
{
    std::memcpy(out, bytes, n);
    return out + n;
}

bool is_ascii(const char* text, std::size_t n)
{
    unsigned char bits = 0;
    for (std::size_t i = 0; i < n; ++i)
        bits |= static_cast<unsigned char>(text[i]);
    return bits < 0x80;
}

// Two plain loops rather than one that stops early, so that the compiler can vectorise both.
bool narrow_ascii(char* out, const QString& text)
{
    const ushort* units = text.utf16();
    const auto n = static_cast<std::size_t>(text.size());
    ushort bits = 0;
    for (std::size_t i = 0; i < n; ++i)
        bits |= units[i];
    if (bits >= 0x80)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<char>(units[i]);
    return true;
}

// The common case, a UTF-8 locale and ASCII text, where every character is its own byte.
bool append_ascii_line(line_buffer& out, const stamp_cache& stamp, qint32 thread_id,
                       const level& lvl, const QMessageLogContext& context, const QString& message)
{
    const char* function = lvl.with_place && context.function ? context.function : "";
    const std::size_t function_size = std::strlen(function);
    if (!is_ascii(function, function_size))
        return false;
    const auto message_size = static_cast<std::size_t>(message.size());
    char* p = out.room(stamp.size() + 1 + number_room + 1 + lvl.tag_size + function_size + 2 +
                       number_room + 2 + message_size + 1);
    p = stamp.write(p);
    *p++ = '\t';
    p = write_number(p, thread_id);
    *p++ = '\t';
    p = write_bytes(p, lvl.tag, lvl.tag_size);
    if (lvl.with_place) {
        p = write_bytes(p, function, function_size);
        p = write_bytes(p, "\t[", 2);
        p = write_number(p, context.line);
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
void append_encoded_line(line_buffer& out, const stamp_cache& stamp, qint32 thread_id,
                         const level& lvl, const QMessageLogContext& context,
                         const QString& message, QTextCodec* codec)
{
    QByteArray head(static_cast<int>(stamp.size() + 2 + number_room), Qt::Uninitialized);
    char* p = stamp.write(head.data());
    *p++ = '\t';
    p = write_number(p, thread_id);
    *p++ = '\t';
    QString text = QString::fromLatin1(head.constData(), static_cast<int>(p - head.constData())) +
                   QLatin1String(lvl.tag, static_cast<int>(lvl.tag_size));
    if (lvl.with_place) {
        text += QLatin1String(context.function) + QLatin1String("\t[") +
                QString::number(context.line) + QLatin1String("]\t");
    }
    text += message + QLatin1Char('\n');

    QByteArray bytes;
    if (codec) {
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        bytes = codec->fromUnicode(text.constData(), text.size(), &state);
    } else {
        bytes = text.toLatin1();
    }
    out.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace

bool append_line(line_buffer& out, const stamp_cache& stamp, qint32 thread_id, QtMsgType type,
                 const QMessageLogContext& context, const QString& message, QTextCodec* codec)
{
    level lvl{};
    if (!level_of(type, &lvl))
        return false;
    if (codec && codec->mibEnum() == utf8_mib &&
        append_ascii_line(out, stamp, thread_id, lvl, context, message))
        return true;
    append_encoded_line(out, stamp, thread_id, lvl, context, message, codec);
    return true;
}

} // namespace quillmark_detail
