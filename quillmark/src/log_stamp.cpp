#include "log_stamp.h"

#include <QCalendar>
#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace quillmark_detail {

static std::atomic<clock_function> g_clock{nullptr};

qint64 now_ms()
{
    const clock_function fn = g_clock.load(std::memory_order_acquire);
    return fn ? fn() : QDateTime::currentMSecsSinceEpoch();
}

void set_clock(clock_function fn)
{
    g_clock.store(fn, std::memory_order_release);
}

void make_calendar_once()
{
    static const bool made = QCalendar().isValid();
    Q_UNUSED(made);
}

bool stamp_cache::set_time(qint64 ms)
{
    // Floor division, so that instants before the epoch keep a millisecond part of 0..999.
    const qint64 second = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
    m_millis = static_cast<int>(ms - second * 1000);
    if (m_valid && second == m_second)
        return false;
    make_calendar_once();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
    // The C locale: the system's may write its own digits, which Latin-1 cannot hold.
    const QByteArray prefix =
        QLocale::c().toString(local, QStringLiteral("yyyy-MM-dd hh:mm:ss:")).toLatin1();
    m_prefix_size = std::min(static_cast<std::size_t>(prefix.size()), sizeof m_prefix);
    std::memcpy(m_prefix, prefix.constData(), m_prefix_size);
    m_date = local.date();
    m_second = second;
    m_valid = true;
    return true;
}

char* stamp_cache::write(char* out) const
{
    std::memcpy(out, m_prefix, m_prefix_size);
    out += m_prefix_size;
    *out++ = static_cast<char>('0' + m_millis / 100);
    *out++ = static_cast<char>('0' + m_millis / 10 % 10);
    *out++ = static_cast<char>('0' + m_millis % 10);
    return out;
}

} // namespace quillmark_detail
