#include "log_stamp.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>

namespace quillmark_detail {

void stamp_cache::move_to_second(qint64 second)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
    const QByteArray prefix = local.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:")).toLatin1();
    m_prefix_size = std::min(static_cast<std::size_t>(prefix.size()), sizeof m_prefix);
    std::memcpy(m_prefix, prefix.constData(), m_prefix_size);
    m_date = local.date();
    m_second = second;
    m_valid = true;
}

char* stamp_cache::write(char* out) const
{
    std::memcpy(out, m_prefix, sizeof m_prefix);
    out += m_prefix_size;
    *out++ = static_cast<char>('0' + m_millis / 100);
    *out++ = static_cast<char>('0' + m_millis / 10 % 10);
    *out++ = static_cast<char>('0' + m_millis % 10);
    return out;
}

} // namespace quillmark_detail
