#include "log_line.h"

#include "log_platform.h"

#include <QTextCodec>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

#ifdef __SSE2__
// Every line's message comes through here: eight units a step, narrowed with saturation, which
// a unit at or above 0x80 then fails anyway.
char* copy_ascii(char* out, const ushort* units, std::size_t n)
{
    __m128i bits = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        bits = _mm_or_si128(bits, v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(v, v));
    }
    const __m128i high = _mm_and_si128(bits, _mm_set1_epi16(static_cast<short>(0xff80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xffff)
        return nullptr;
    return copy_ascii<ushort>(out + i, units + i, n - i);
}
#endif

// A thread's number in decimal at out, made once per thread (and again in a fork's child, whose
// number is another); returns the end.
char* thread_digits(char* out, qint32 thread)
{
    struct digits
    {
        qint32 thread = 0;
        char text[12] = {};
        std::size_t size = 0;
    };
    QUILLMARK_FAST_TLS thread_local digits t_made;
    if (t_made.size == 0 || t_made.thread != thread) {
        t_made.size =
            std::size_t(std::to_chars(t_made.text, t_made.text + 12, thread).ptr - t_made.text);
        t_made.thread = thread;
    }
    std::memcpy(out, t_made.text, sizeof t_made.text);
    return out + t_made.size;
}

// The common case, a UTF-8 locale and ASCII text, where every character is its own byte.
bool append_ascii_line(fixed_buffer& out, qint32 thread, const level& lvl,
                       const QMessageLogContext& context, const QString& message)
{
    const char* function = lvl.with_place && context.function ? context.function : "";
    const std::size_t function_size = lvl.with_place ? std::strlen(function) : 0;
    const auto message_size = static_cast<std::size_t>(message.size());
    char* p = out.room(1 + 24 + 1 + sizeof lvl.tag + function_size + 2 + 24 + 2 + message_size + 1);
    if (!p)
        return false;
    *p++ = '\t';
    p = thread_digits(p, thread);
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

// Any other text: all after the stamp through the codec in one pass, as a text stream on the file
// would, so that stateful encodings and unpaired surrogates come out the same. The stamp is ASCII,
// after which such an encoding is in its first state again.
QByteArray encoded_line(qint32 thread, const level& lvl, const QMessageLogContext& context,
                        const QString& message, QTextCodec* codec, bool utf8)
{
    QString text = QLatin1Char('\t') + QString::number(thread) + QLatin1Char('\t') +
                   QLatin1String(lvl.tag, static_cast<int>(lvl.size));
    if (lvl.with_place)
        text += QLatin1String(context.function) + QLatin1String("\t[") +
                QString::number(context.line) + QLatin1String("]\t");
    text += message + QLatin1Char('\n');
    if (!codec)
        return utf8 ? text.toUtf8() : text.toLatin1();
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

void stamped_line::put_stamp(const stamp_cache& stamp, QTextCodec* codec)
{
    const bool spilled = !m_spill.isEmpty();
    if (codec) {
        char text[stamp_cache::max_size];
        const QString stamp_text =
            QString::fromLatin1(text, static_cast<int>(stamp.write(text) - text));
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        m_spill = codec->fromUnicode(stamp_text.constData(), stamp_text.size(), &state) +
                  (spilled ? m_spill.mid(int(room))
                           : QByteArray(m_text.data(), static_cast<int>(m_text.size())));
        m_data = m_spill.data();
        m_size = std::size_t(m_spill.size());
        return;
    }
    // The room in front is max_size bytes: the stamp ends where the text begins.
    char* text_begin = spilled ? m_spill.data() + room : m_storage + room;
    m_data = text_begin - stamp.size();
    stamp.write(m_data);
    m_size = stamp.size() + (spilled ? std::size_t(m_spill.size()) - room : m_text.size());
}

bool keeps_ascii(QTextCodec* codec)
{
    return !codec || cached_passthrough(codec) != passthrough::none;
}

bool make_line(stamped_line& out, qint32 thread, QtMsgType type, const QMessageLogContext& context,
               const QString& message, QTextCodec* codec, bool utf8)
{
    const auto index = static_cast<std::size_t>(type);
    if (index >= sizeof levels / sizeof levels[0])
        return false;
    const bool ascii_ok = codec ? cached_passthrough(codec) == passthrough::utf8 : utf8;
    if (!ascii_ok || !append_ascii_line(out.text(), thread, levels[index], context, message)) {
        // Room in front for the stamp, as in the storage.
        out.spill() = QByteArray(int(stamp_cache::max_size), ' ') +
                      encoded_line(thread, levels[index], context, message, codec, utf8);
    }
    return true;
}

static std::atomic<clock_function> g_clock{nullptr};

qint64 now_ms()
{
    const clock_function fn = g_clock.load(std::memory_order_acquire);
    return fn ? fn() : system_time_ms();
}

void set_clock(clock_function fn)
{
    g_clock.store(fn, std::memory_order_release);
}

namespace {

char* write_padded(char* out, int value, int width)
{
    if (value < 0) {
        *out++ = '-';
        value = -value;
    }
    char digits[12];
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    for (auto n = end - digits; n < width; ++n)
        *out++ = '0';
    return std::copy(static_cast<const char*>(digits), end, out);
}

// As Qt's local time has it before 1970: the zone's standard offset, no summer time (and the
// Windows C library knows no earlier times).
bool before_epoch(qint64 second, std::tm* out)
{
    const qint64 local = second - standard_offset_west();
    const qint64 day = local / 86400 - (local % 86400 < 0 ? 1 : 0);
    const auto in_day = static_cast<int>(local - day * 86400);
    int year = 0, month = 0, mday = 0;
    QDate::fromJulianDay(2440588 + day).getDate(&year, &month, &mday); // 2440588: 1970-01-01
    out->tm_year = year - 1900;
    out->tm_mon = month - 1;
    out->tm_mday = mday;
    out->tm_hour = in_day / 3600;
    out->tm_min = in_day / 60 % 60;
    out->tm_sec = in_day % 60;
    return year != 0;
}

} // namespace

char* write_date(char* out, const QDate& day)
{
    int year = 0, month = 0, mday = 0;
    day.getDate(&year, &month, &mday);
    out = write_padded(out, year, 4);
    *out++ = '-';
    out = write_padded(out, month, 2);
    *out++ = '-';
    return write_padded(out, mday, 2);
}

bool stamp_cache::set_time(qint64 ms)
{
    // Floor division, so that instants before the epoch keep a millisecond part of 0..999.
    const qint64 second = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
    m_millis = static_cast<int>(ms - second * 1000);
    if (second == m_second)
        return false;
    std::tm local{};
    const bool known = second < 0 ? before_epoch(second, &local) : local_time(second, &local);
    // Outside four-digit years the stamp would not fit its room: such a clock is wrong anyway.
    if (!known || local.tm_year < -1900 || local.tm_year > 9999 - 1900) {
        local = std::tm{};
        local.tm_year = 70;
        local.tm_mday = 1;
    }
    m_date = QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    char* p = write_date(m_prefix, m_date);
    *p++ = ' ';
    p = write_padded(p, local.tm_hour, 2);
    *p++ = ':';
    p = write_padded(p, local.tm_min, 2);
    *p++ = ':';
    p = write_padded(p, local.tm_sec, 2);
    *p++ = ':';
    m_prefix_size = static_cast<std::size_t>(p - m_prefix);
    m_second = second;
    return true;
}

char* stamp_cache::write(char* out) const
{
    // One copy of a fixed size, no call: a prefix is at least 20 bytes, so what lies past it is
    // written over by the milliseconds.
    static_assert(sizeof m_prefix <= 20 + 3, "the copy must end within the stamp");
    std::memcpy(out, m_prefix, sizeof m_prefix);
    out += m_prefix_size;
    *out++ = static_cast<char>('0' + m_millis / 100);
    *out++ = static_cast<char>('0' + m_millis / 10 % 10);
    *out++ = static_cast<char>('0' + m_millis % 10);
    return out;
}

passthrough cached_passthrough(QTextCodec* codec)
{
    QUILLMARK_FAST_TLS thread_local QTextCodec* t_codec = nullptr;
    QUILLMARK_FAST_TLS thread_local passthrough t_rule = passthrough::none;
    if (codec != t_codec)
        t_rule = passthrough_for(t_codec = codec);
    return t_rule;
}

} // namespace quillmark_detail
