#include "bounded_memory.h"

void bounded_memory::forget_expired(qint64 now)
{
    while (!m_by_expiry.empty() && m_by_expiry.top().first < now) {
        m_values.remove(m_by_expiry.top().second);
        m_by_expiry.pop();
    }
}

bool bounded_memory::remember(const QByteArray& key, qint64 expiry, const QString& value)
{
    if (is_full() || m_values.contains(key))
        return false;
    m_values.insert(key, value);
    m_by_expiry.emplace(expiry, key);
    return true;
}

bool bounded_memory::find(const QByteArray& key, QString& value) const
{
    const auto it = m_values.constFind(key);
    if (it == m_values.constEnd())
        return false;
    value = it.value();
    return true;
}
