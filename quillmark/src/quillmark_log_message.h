#pragma once

#include "log_line.h"

#include <QString>

#include <cstdarg>
#include <cstddef>

class QTextCodec;

namespace quillmark_detail {

// Which texts come out of the local encoding exactly as they went in: valid UTF-8 when the
// encoding is UTF-8, ASCII when it is another encoding that keeps ASCII as it is, none otherwise.
enum class passthrough
{
    none,
    ascii,
    utf8
};
passthrough passthrough_for(QTextCodec* codec);

// Appends the expansion of format with args (read through a copy) in the local encoding's bytes,
// byte for byte what log_message() gives, when the format holds only "%%", "%s", "%d", "%i"
// (with "l" or "ll"), "%u", "%x", "%X" (with "l", "ll" or "z"), no text is null, all text passes
// under rule and everything fits; line feeds become line ends. False otherwise, out partly filled.
bool append_simple_message(fixed_buffer& out, const char* format, va_list args, passthrough rule);

// The message of format and args, the general way: the format is read in the local 8-bit
// encoding, the expansion reads it, and "%s" arguments, as UTF-8. A format with a "%n"
// conversion (whatever its modifiers) is not expanded but taken as it stands: a log call never
// writes through its arguments.
QString log_message(const char* format, va_list args);

} // namespace quillmark_detail
