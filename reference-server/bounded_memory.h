#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <queue>
#include <utility>
#include <vector>

// Keys remembered until they expire, each with a text, and never more than a fixed number at
// once. A key leaves only once it has expired, earliest expiry first, so a full memory turns new
// keys away rather than forgetting one early; the expired ones are found without a pass over
// the rest.
class bounded_memory
{
public:
    explicit bounded_memory(int capacity) : m_capacity(capacity) {}

    // Forgets every key whose expiry (seconds since the epoch) is before now.
    void forget_expired(qint64 now);
    bool contains(const QByteArray& key) const { return m_values.contains(key); }
    // The key's text into value; false when the key is not remembered.
    bool find(const QByteArray& key, QString& value) const;
    bool is_full() const { return m_values.size() >= m_capacity; }
    int capacity() const { return m_capacity; }
    // False, and nothing remembered, when the memory is full or holds the key already.
    bool remember(const QByteArray& key, qint64 expiry, const QString& value = QString());

private:
    using entry = std::pair<qint64, QByteArray>; // expiry, key
    int m_capacity;
    std::priority_queue<entry, std::vector<entry>, std::greater<entry>> m_by_expiry;
    QHash<QByteArray, QString> m_values;
};
