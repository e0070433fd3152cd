#pragma once

#include <QDate>
#include <QtGlobal>

#include <cstddef>
#include <string>

namespace quillmark_detail {

// The local time stamp "yyyy-MM-dd hh:mm:ss:zzz" and local date of an instant. Converting to
// local time reads the time zone (with TZ unset glibc stats /etc/localtime on every conversion),
// so the text up to the seconds and the date are worked out once per second and reused.
class stamp_cache
{
public:
    // Moves to the instant ms (milliseconds since the epoch); true when that is another second
    // than before, so that the text up to the seconds has been worked out afresh.
    bool set_time(qint64 ms);
    // Local date of the instant last set.
    QDate date() const { return m_date; }
    // Length of the time stamp of the instant last set.
    std::size_t size() const { return m_prefix.size() + 3; }
    // Writes that time stamp at out; returns the end.
    char* write(char* out) const;

private:
    qint64 m_second = 0;
    int m_millis = 0;
    bool m_valid = false;
    std::string m_prefix;
    QDate m_date;
};

} // namespace quillmark_detail
