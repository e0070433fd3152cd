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

// Appends the expansion of format with args, in the bytes of the local encoding, when the
// format holds no conversions but "%%", "%s", "%d" and "%i" (optionally with "l" or "ll"), and
// "%u", "%x" and "%X" (optionally with "l", "ll" or "z"), no text argument is null, the format
// and every text pass through unchanged under rule, and all of it fits in out. The result is then
// byte for byte what the general expansion gives, without building any string. Where the line
// end is two bytes, so is every line feed of the message. Returns false otherwise, with out
// partly filled: the caller then expands the line the general way. args is read through a copy.
bool append_simple_message(fixed_buffer& out, const char* format, va_list args, passthrough rule);

// The message of format and args, the general way: the format is read in the local 8-bit
// encoding, the expansion reads it, and "%s" arguments, as UTF-8. A format with a "%n"
// conversion (whatever its modifiers) is not expanded but taken as it stands: a log call never
// writes through its arguments.
QString legacy_message(const char* format, va_list args);

} // namespace quillmark_detail
