#include "log_line.h"

#include "log_stamp.h"

#include <QString>
#include <QTextCodec>

#include <cstring>

namespace quillmark_detail {

namespace {

constexpr int utf8_mib = 106;

struct level
{
    const char* tag;
    bool with_place; // function and line number follow the tag
};

bool level_of(QtMsgType type, level* out)
{
    switch (type) {
    case QtDebugMsg:
        *out = {"[DEBUG]\t", false};
        return true;
    case QtInfoMsg:
        *out = {"[INFO]\t", false};
        return true;
    case QtWarningMsg:
        *out = {"[WARNING]\t", true};
        return true;
    case QtCriticalMsg:
        *out = {"[CRITICAL]\t", true};
        return true;
    case QtFatalMsg:
        *out = {"[FATAL]\t", true};
        return true;
    }
    return false;
}

// Decimal, as a text stream writes integers. (std::to_chars would pull in template statics that
// keep the library from ever being unloaded.)
void append_number(std::string& out, qint64 value)
{
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    quint64 magnitude = value < 0 ? 0 - static_cast<quint64>(value) : static_cast<quint64>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--p = '-';
    out.append(p, end);
}

bool append_ascii(std::string& out, const char* text)
{
    if (!text)
        return true;
    for (const char* p = text; *p; ++p) {
        if (static_cast<unsigned char>(*p) >= 0x80)
            return false;
    }
    out += text;
    return true;
}

bool append_ascii(std::string& out, const QString& text)
{
    const QChar* chars = text.constData();
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(text.size()));
    char* dst = &out[start];
    for (int i = 0; i < text.size(); ++i) {
        const ushort unit = chars[i].unicode();
        if (unit >= 0x80)
            return false;
        dst[i] = static_cast<char>(unit);
    }
    return true;
}

// The common case, a UTF-8 locale and an ASCII message, where every character is its own byte.
bool append_ascii_line(std::string& out, const stamp_cache& stamp, qint32 thread_id,
                       const level& lvl, const QMessageLogContext& context, const QString& message)
{
    stamp.append_to(out);
    out += '\t';
    append_number(out, thread_id);
    out += '\t';
    out += lvl.tag;
    if (lvl.with_place) {
        if (!append_ascii(out, context.function))
            return false;
        out += "\t[";
        append_number(out, context.line);
        out += "]\t";
    }
    if (!append_ascii(out, message))
        return false;
    out += '\n';
    return true;
}

// Any other text: the whole line goes through the codec in one pass, as a text stream on the file
// would convert it, so that stateful encodings and unpaired surrogates come out the same.
void append_encoded_line(std::string& out, const stamp_cache& stamp, qint32 thread_id,
                         const level& lvl, const QMessageLogContext& context,
                         const QString& message, QTextCodec* codec)
{
    std::string head;
    stamp.append_to(head);
    QString text = QString::fromLatin1(head.data(), static_cast<int>(head.size()));
    text +=
        QLatin1Char('\t') + QString::number(thread_id) + QLatin1Char('\t') + QLatin1String(lvl.tag);
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

bool append_line(std::string& out, const stamp_cache& stamp, qint32 thread_id, QtMsgType type,
                 const QMessageLogContext& context, const QString& message, QTextCodec* codec)
{
    level lvl{};
    if (!level_of(type, &lvl))
        return false;
    const std::size_t start = out.size();
    if (codec && codec->mibEnum() == utf8_mib &&
        append_ascii_line(out, stamp, thread_id, lvl, context, message))
        return true;
    out.resize(start);
    append_encoded_line(out, stamp, thread_id, lvl, context, message, codec);
    return true;
}

} // namespace quillmark_detail
