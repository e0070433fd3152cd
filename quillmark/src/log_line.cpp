#include "log_line.h"

#include "log_stamp.h"

#include <QString>
#include <QTextCodec>

#include <algorithm>
#include <charconv>
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

bool is_ascii(const char* text, std::size_t n)
{
    unsigned char bits = 0;
    for (std::size_t i = 0; i < n; ++i)
        bits |= static_cast<unsigned char>(text[i]);
    return bits < 0x80;
}

// Copies the text as bytes when every unit is ASCII; false, out scribbled on, otherwise.
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
    p = std::to_chars(p, p + 12, thread).ptr;
    *p++ = '\t';
    std::memcpy(p, lvl.tag, sizeof lvl.tag);
    p += lvl.size;
    if (lvl.with_place) {
        p = std::copy_n(function, function_size, p);
        p = std::copy_n("\t[", 2, p);
        p = std::to_chars(p, p + 12, context.line).ptr;
        p = std::copy_n("]\t", 2, p);
    }
    if (!narrow_ascii(p, message))
        return false;
    p += message_size;
    *p++ = '\n';
    out.commit(p);
    return true;
}

// Any other text: the whole line through the codec in one pass, as a text stream on the file
// would, so that stateful encodings and unpaired surrogates come out the same.
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

bool make_line(fixed_buffer& out, QByteArray& spill, const stamp_cache& stamp, qint32 thread,
               QtMsgType type, const QMessageLogContext& context, const QString& message,
               QTextCodec* codec)
{
    const auto index = static_cast<std::size_t>(type);
    if (index >= sizeof levels / sizeof levels[0])
        return false;
    if (!codec || codec->mibEnum() != utf8_mib ||
        !append_ascii_line(out, stamp, thread, levels[index], context, message))
        spill = encoded_line(stamp, thread, levels[index], context, message, codec);
    return true;
}

} // namespace quillmark_detail
