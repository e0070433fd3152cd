#pragma once

#include <QtGlobal>

#include <cstddef>

class QMessageLogContext;
class QString;
class QTextCodec;

namespace quillmark_detail {

class line_buffer;
class stamp_cache;

// A 32-bit number in decimal, sign included, as a text stream writes it.
struct decimal_text
{
    char digits[12];
    std::size_t size;
};
decimal_text to_decimal(qint32 value);

// Appends the file line of one Qt message: time stamp, TAB, thread, TAB, level tag, for warnings,
// critical and fatal messages the function, TAB, "[line]" and TAB, then the message and a line
// feed. The text is in the bytes codec gives for it (Latin-1 when codec is null); the function
// name is read as Latin-1. Returns false, appending nothing, for a type that is never logged.
bool append_line(line_buffer& out, const stamp_cache& stamp, const decimal_text& thread,
                 QtMsgType type, const QMessageLogContext& context, const QString& message,
                 QTextCodec* codec);

} // namespace quillmark_detail
