#pragma once

#include <QDate>
#include <QLatin1String>
#include <QString>

#include <cstdarg>
#include <cstddef>

namespace quillmark_detail {

// "yyyy-MM-dd hh:mm:ss:zzz" of ms (since the epoch) in local time. The part up to the seconds is
// converted once per whole second and thread, since each local-time conversion reads the zone.
QString legacy_timestamp(qint64 ms);

// The same text in Latin-1 bytes at out, which has room for legacy_timestamp_room bytes;
// returns its length.
constexpr std::size_t legacy_timestamp_room = 36;
std::size_t legacy_timestamp_text(qint64 ms, char* out);

// The local calendar date of ms, from the same per-second conversion.
QDate legacy_local_date(qint64 ms);

// The calling thread's number as the system shows it: the kernel's thread id on Linux, the
// Windows thread identifier on Windows.
quint64 legacy_thread_number();

// The message of format and args, the general way: the format is read in the local 8-bit
// encoding, the expansion reads it, and "%s" arguments, as UTF-8.
QString legacy_message(const char* format, va_list args);

// "<timestamp>    <thread> [<level>] <message>", filled in one pass, so that a "%1" inside the
// message is never taken for a placeholder.
QString legacy_line(const QString& timestamp, quint64 thread, QLatin1String level,
                    const QString& message);

} // namespace quillmark_detail
