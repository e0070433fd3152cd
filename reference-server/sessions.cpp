#include "sessions.h"

#include <openssl/rand.h>

sessions::sessions(int capacity, qint64 max_age_seconds)
    : m_tokens(capacity), m_max_age_seconds(max_age_seconds)
{}

bool sessions::is_full(qint64 now)
{
    m_tokens.forget_expired(now);
    return m_tokens.is_full();
}

QByteArray sessions::open(const QString& user, qint64 now)
{
    if (is_full(now))
        return QByteArray();
    QByteArray random(16, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(random.data()), random.size()) != 1)
        return QByteArray();
    const QByteArray token = random.toHex();
    // A token drawn twice (a 2^-128 chance) opens no second session.
    if (!m_tokens.remember(token, now + m_max_age_seconds, user))
        return QByteArray();
    return token;
}

bool sessions::find(const QByteArray& token, qint64 now, QString& user)
{
    m_tokens.forget_expired(now);
    return m_tokens.find(token, user);
}

QByteArray sessions::cookie(const QByteArray& token) const
{
    return QByteArray(session_cookie_name) + '=' + token +
           "; Max-Age=" + QByteArray::number(m_max_age_seconds) +
           "; Path=/; Secure; HttpOnly; SameSite=Lax";
}

QList<QByteArray> cookie_values(const QByteArray& head, const QByteArray& name)
{
    QList<QByteArray> values;
    for (const QByteArray& line : head.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed().toLower() != "cookie")
            continue;
        for (const QByteArray& pair : line.mid(colon + 1).split(';')) {
            const int equals = pair.indexOf('=');
            if (equals > 0 && pair.left(equals).trimmed() == name)
                values << pair.mid(equals + 1).trimmed();
        }
    }
    return values;
}
