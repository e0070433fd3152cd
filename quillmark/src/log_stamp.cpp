#include "log_stamp.h"

#include <QDateTime>

#include <cstring>

namespace quillmark_detail {

bool stamp_cache::set_time(qint64 ms)
{
    // Floor division, so that instants before the epoch keep a millisecond part of 0..999.
    qint64 second = ms / 1000;
    if (ms % 1000 < 0)
        --second;
    m_millis = static_cast<int>(ms - second * 1000);
    if (m_valid && second == m_second)
        return false;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
    m_prefix = local.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:")).toStdString();
    m_date = local.date();
    m_second = second;
    m_valid = true;
    return true;
}

char* stamp_cache::write(char* out) const
{
    std::memcpy(out, m_prefix.data(), m_prefix.size());
    out += m_prefix.size();
    *out++ = static_cast<char>('0' + m_millis / 100);
    *out++ = static_cast<char>('0' + m_millis / 10 % 10);
    *out++ = static_cast<char>('0' + m_millis % 10);
    return out;
}

} // namespace quillmark_detail
