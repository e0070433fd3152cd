#include "log_line.h"

#include <QCalendar>
#include <QDateTime>
#include <QLocale>
#include <QTextCodec>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <type_traits>

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

// Copies n units as bytes and returns the end; null, out scribbled on, unless all are ASCII.
template <typename Unit> char* copy_ascii(char* out, const Unit* units, std::size_t n)
{
    std::make_unsigned_t<Unit> bits = 0;
    for (std::size_t i = 0; i < n; ++i) {
        bits |= static_cast<std::make_unsigned_t<Unit>>(units[i]);
        out[i] = static_cast<char>(units[i]);
    }
    return bits < 0x80 ? out + n : nullptr;
}

// The common case, a UTF-8 locale and ASCII text, where every character is its own byte.
bool append_ascii_line(fixed_buffer& out, const stamp_cache& stamp, qint32 thread, const level& lvl,
                       const QMessageLogContext& context, const QString& message)
{
    const char* function = lvl.with_place && context.function ? context.function : "";
    const std::size_t function_size = lvl.with_place ? std::strlen(function) : 0;
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
        p = copy_ascii(p, function, function_size);
        if (!p)
            return false;
        p = std::copy_n("\t[", 2, p);
        p = std::to_chars(p, p + 12, context.line).ptr;
        p = std::copy_n("]\t", 2, p);
    }
    p = copy_ascii(p, message.utf16(), message_size);
    if (!p)
        return false;
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
    QString text = QString::fromLatin1(head, static_cast<int>(stamp.write(head) - head)) +
                   QLatin1Char('\t') + QString::number(thread) + QLatin1Char('\t') +
                   QLatin1String(lvl.tag, static_cast<int>(lvl.size));
    if (lvl.with_place)
        text += QLatin1String(context.function) + QLatin1String("\t[") +
                QString::number(context.line) + QLatin1String("]\t");
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
    std::copy_n(bytes, n, m_data + m_size);
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

static std::atomic<clock_function> g_clock{nullptr};

qint64 now_ms()
{
    const clock_function fn = g_clock.load(std::memory_order_acquire);
    return fn ? fn() : QDateTime::currentMSecsSinceEpoch();
}

void set_clock(clock_function fn)
{
    g_clock.store(fn, std::memory_order_release);
}

void make_calendar_once()
{
    [[maybe_unused]] static const bool made = QCalendar().isValid();
}

bool stamp_cache::set_time(qint64 ms)
{
    // Floor division, so that instants before the epoch keep a millisecond part of 0..999.
    const qint64 second = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
    m_millis = static_cast<int>(ms - second * 1000);
    if (second == m_second)
        return false;
    make_calendar_once();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
    // The C locale: the system's may write its own digits, which Latin-1 cannot hold.
    const QByteArray prefix =
        QLocale::c().toString(local, QStringLiteral("yyyy-MM-dd hh:mm:ss:")).toLatin1();
    m_prefix_size = std::min(static_cast<std::size_t>(prefix.size()), sizeof m_prefix);
    std::memcpy(m_prefix, prefix.constData(), m_prefix_size);
    m_date = local.date();
    m_second = second;
    return true;
}

char* stamp_cache::write(char* out) const
{
    std::memcpy(out, m_prefix, m_prefix_size);
    out += m_prefix_size;
    *out++ = static_cast<char>('0' + m_millis / 100);
    *out++ = static_cast<char>('0' + m_millis / 10 % 10);
    *out++ = static_cast<char>('0' + m_millis % 10);
    return out;
}

} // namespace quillmark_detail
