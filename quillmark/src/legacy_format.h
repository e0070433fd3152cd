#pragma once

#include <QDate>
#include <QLatin1String>
#include <QString>

namespace quillmark_detail {

// "yyyy-MM-dd hh:mm:ss:zzz" of ms (since the epoch) in local time. The part up to the seconds is
// converted once per whole second and thread, since each local-time conversion reads the zone.
QString legacy_timestamp(qint64 ms);

// The local calendar date of ms, from the same per-second conversion.
QDate legacy_local_date(qint64 ms);

// The calling thread's number as the system shows it: the kernel's thread id on Linux, the
// Windows thread identifier on Windows.
quint64 legacy_thread_number();

// "<timestamp>    <thread> [<level>] <message>", filled in one pass, so that a "%1" inside the
// message is never taken for a placeholder.
QString legacy_line(const QString& timestamp, quint64 thread, QLatin1String level,
                    const QString& message);

} // namespace quillmark_detail
