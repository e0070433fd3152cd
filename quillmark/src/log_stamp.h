#pragma once

#include <QDate>

#include <cstddef>

namespace quillmark_detail {

using clock_function = qint64 (*)();

// Milliseconds since the epoch: the system clock, unless a test has put in its own to cross
// midnight without waiting. Every time stamp and date of both loggers comes from here.
qint64 now_ms();

// nullptr restores the system clock.
void set_clock(clock_function fn);

// Qt makes its Gregorian calendar on first use, and threads that come first together may get
// none, so that a date is written as "": the first caller makes it while the others wait. Called
// before every date is written or read.
void make_calendar_once();

// The local time stamp "yyyy-MM-dd hh:mm:ss:zzz" and local date of an instant. Converting to
// local time reads the time zone (with TZ unset glibc stats /etc/localtime on every conversion),
// so the text up to the seconds and the date are worked out once per second and reused.
// Trivially destructible, so that a thread-local one costs nothing at thread or process exit.
class stamp_cache
{
public:
    // Room write() needs.
    static constexpr std::size_t max_size = 24;

    // Moves to the instant ms since the epoch; true when that is another second than before.
    bool set_time(qint64 ms);
    // Of the instant last set: the local date, the stamp's length; write() puts the stamp at out
    // (up to max_size bytes there) and returns its end.
    QDate date() const { return m_date; }
    std::size_t size() const { return m_prefix_size + 3; }
    char* write(char* out) const;

private:
    qint64 m_second = 0;
    int m_millis = 0;
    bool m_valid = false;
    // "yyyy-MM-dd hh:mm:ss:"
    char m_prefix[max_size - 3] = {};
    std::size_t m_prefix_size = 0;
    QDate m_date;
};

} // namespace quillmark_detail
