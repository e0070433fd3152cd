#include "log_line.h"

#include "log_buffer.h"
#include "log_digits.h"
#include "log_stamp.h"

#include <QString>
#include <QTextCodec>

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace quillmark_detail {

namespace {

constexpr int utf8_mib = 106;

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

// Writes the whole digits array (the room was reserved for it), then steps over the digits only.
char* write_decimal(char* out, const decimal_text& number)
{
    std::memcpy(out, number.digits, sizeof number.digits);
    return out + number.size;
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
    std::size_t i = 0;
    ushort bits = 0;
#ifdef __SSE2__
    __m128i wide_bits = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
        const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        wide_bits = _mm_or_si128(wide_bits, eight);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(eight, eight));
    }
    const __m128i high = _mm_and_si128(wide_bits, _mm_set1_epi16(static_cast<short>(0xff80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xffff)
        return false;
#endif
    for (; i < n; ++i) {
        bits |= units[i];
        out[i] = static_cast<char>(units[i]);
    }
    return bits < 0x80;
}

// The common case, a UTF-8 locale and ASCII text, where every character is its own byte.
bool append_ascii_line(line_buffer& out, const stamp_cache& stamp, const decimal_text& thread,
                       const level& lvl, const QMessageLogContext& context, const QString& message)
{
    const char* function = lvl.with_place && context.function ? context.function : "";
    const std::size_t function_size = lvl.with_place ? std::strlen(function) : 0;
    if (!is_ascii(function, function_size))
        return false;
    const auto message_size = static_cast<std::size_t>(message.size());
    char* p = out.room(stamp_cache::max_size + 1 + sizeof thread.digits + 1 + sizeof lvl.tag +
                       function_size + 2 + sizeof thread.digits + 2 + message_size + 1);
    p = stamp.write(p);
    *p++ = '\t';
    p = write_decimal(p, thread);
    *p++ = '\t';
    std::memcpy(p, lvl.tag, sizeof lvl.tag);
    p += lvl.size;
    if (lvl.with_place) {
        p = write_bytes(p, function, function_size);
        p = write_bytes(p, "\t[", 2);
        p = write_decimal(p, to_decimal(context.line));
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
void append_encoded_line(line_buffer& out, const stamp_cache& stamp, const decimal_text& thread,
                         const level& lvl, const QMessageLogContext& context,
                         const QString& message, QTextCodec* codec)
{
    char head[stamp_cache::max_size];
    const char* head_end = stamp.write(head);
    QString text = QString::fromLatin1(head, static_cast<int>(head_end - head)) +
                   QLatin1Char('\t') + QLatin1String(thread.digits, static_cast<int>(thread.size)) +
                   QLatin1Char('\t') + QLatin1String(lvl.tag, static_cast<int>(lvl.size));
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

decimal_text to_decimal(qint32 value)
{
    decimal_text text{};
    const auto magnitude =
        value < 0 ? 0 - static_cast<quint32>(value) : static_cast<quint32>(value);
    const char* end = write_number(text.digits, magnitude, value < 0, 10, false);
    text.size = static_cast<std::size_t>(end - text.digits);
    return text;
}

bool append_line(line_buffer& out, const stamp_cache& stamp, const decimal_text& thread,
                 QtMsgType type, const QMessageLogContext& context, const QString& message,
                 QTextCodec* codec)
{
    const level* lvl = level_of(type);
    if (!lvl)
        return false;
    if (codec && codec->mibEnum() == utf8_mib &&
        append_ascii_line(out, stamp, thread, *lvl, context, message))
        return true;
    append_encoded_line(out, stamp, thread, *lvl, context, message, codec);
    return true;
}

} // namespace quillmark_detail
