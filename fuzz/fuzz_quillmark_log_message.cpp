// The exports' byte path against the general expansion: whenever the byte path takes a format
// and its texts, it gives exactly the bytes the general way gives, and it never turns down a
// message that is all ASCII and fits. Formats here hold "%s" and "%%" only, so that any input
// can be passed as arguments without reading them as the wrong type.
#include "fuzz_require.h"
#include "log_line.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTextCodec>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace {

using quillmark_detail::passthrough;

constexpr int max_texts = 4;
constexpr std::size_t room = 1024;

// Every conversion becomes "%s" (at most max_texts of them) or stays "%%".
QByteArray string_format(const QByteArray& raw)
{
    QByteArray format;
    int texts = 0;
    for (int i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            format += raw[i];
            continue;
        }
        if (i + 1 == raw.size())
            break;
        const bool literal = raw[i + 1] == '%' || texts == max_texts;
        format += literal ? "%%" : "%s";
        texts += literal ? 0 : 1;
        ++i;
    }
    return format;
}

struct outcome
{
    bool fast;
    QByteArray fast_bytes;
    QByteArray general_bytes;
};

outcome expand(passthrough rule, const char* format, ...)
{
    char storage[room];
    quillmark_detail::fixed_buffer out(storage, sizeof storage);
    va_list args;
    va_start(args, format);
    outcome result;
    result.fast = quillmark_detail::append_simple_message(out, format, args, rule);
    result.fast_bytes = QByteArray(out.data(), static_cast<int>(out.size()));
    result.general_bytes = quillmark_detail::log_message(format, args).toLocal8Bit();
    va_end(args);
    return result;
}

bool is_ascii(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the local encoding; the rest is the format and its texts, NUL apart.
    const bool utf8 = (data[0] & 1) == 0;
    QTextCodec::setCodecForLocale(QTextCodec::codecForName(utf8 ? "UTF-8" : "ISO-8859-1"));
    const passthrough rule = quillmark_detail::passthrough_for(QTextCodec::codecForLocale());
    TNW_FUZZ_REQUIRE(rule == (utf8 ? passthrough::utf8 : passthrough::ascii));

    QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1)).split('\0');
    while (parts.size() < 1 + max_texts)
        parts.append(QByteArray());
    const QByteArray format = string_format(parts[0]);

    const outcome result = expand(rule, format.constData(), parts[1].constData(),
                                  parts[2].constData(), parts[3].constData(), parts[4].constData());
    if (result.fast)
        TNW_FUZZ_REQUIRE(result.fast_bytes == result.general_bytes);
    const bool all_ascii = is_ascii(format) && is_ascii(parts[1]) && is_ascii(parts[2]) &&
                           is_ascii(parts[3]) && is_ascii(parts[4]);
    if (all_ascii && static_cast<std::size_t>(result.general_bytes.size()) <= room)
        TNW_FUZZ_REQUIRE(result.fast);
    return 0;
}
