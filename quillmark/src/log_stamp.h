#pragma once

#include <QDate>
#include <QtGlobal>

#include <cstddef>

namespace quillmark_detail {

// The local time stamp "yyyy-MM-dd hh:mm:ss:zzz" and local date of an instant. Converting to
// local time reads the time zone (with TZ unset glibc stats /etc/localtime on every conversion),
// so the text up to the seconds and the date are worked out once per second and reused.
class stamp_cache
{
public:
    // Room write() needs, whatever the stamp's own length.
    static constexpr std::size_t max_size = 35;

    // Moves to the instant ms (milliseconds since the epoch); true when that is another second
    // than before, so that the text up to the seconds has been worked out afresh.
    bool set_time(qint64 ms)
    {
        // Floor division, so that instants before the epoch keep a millisecond part of 0..999.
        qint64 second = ms / 1000;
        if (ms % 1000 < 0)
            --second;
        m_millis = static_cast<int>(ms - second * 1000);
        if (m_valid && second == m_second)
            return false;
        move_to_second(second);
        return true;
    }
    // Local date of the instant last set.
    QDate date() const { return m_date; }
    // Length of the time stamp of the instant last set.
    std::size_t size() const { return m_prefix_size + 3; }
    // Writes that time stamp at out, using up to max_size bytes there; returns its end.
    char* write(char* out) const;

private:
    void move_to_second(qint64 second);

    qint64 m_second = 0;
    int m_millis = 0;
    bool m_valid = false;
    // "yyyy-MM-dd hh:mm:ss:", padded so that it is copied in one fixed-size move.
    char m_prefix[max_size - 3] = {};
    std::size_t m_prefix_size = 0;
    QDate m_date;
};

} // namespace quillmark_detail
