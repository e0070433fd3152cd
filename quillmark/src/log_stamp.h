#pragma once

#include <QDate>

#include <cstddef>

namespace quillmark_detail {

using clock_function = qint64 (*)();

// Milliseconds since the epoch for every stamp and date of both loggers: the system clock, unless
// a test has set its own (nullptr restores it) to cross midnight without waiting.
qint64 now_ms();
void set_clock(clock_function fn);

// Qt makes its calendar on first use, and threads that come first together may get none, writing
// a date as "": called before any date is written or read, the first caller makes it.
void make_calendar_once();

// The local stamp "yyyy-MM-dd hh:mm:ss:zzz" and date of an instant, worked out once a second (glibc
// stats /etc/localtime each time with TZ unset). Trivially destructible: cheap as a thread-local.
class stamp_cache
{
public:
    static constexpr std::size_t max_size = 24; // the room write() needs

    // Moves to the instant ms since the epoch; true when that is another second than before.
    bool set_time(qint64 ms);
    // Of the instant last set; write() puts the stamp at out and returns its end.
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
