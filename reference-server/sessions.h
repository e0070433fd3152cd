#pragma once

#include "bounded_memory.h"

#include <QByteArray>
#include <QList>
#include <QString>

// At most this many users signed on at once (about 200 bytes each), each for at most an hour.
constexpr int session_capacity = 100000;
constexpr qint64 session_max_age_seconds = 3600;

// The sessions of signed-on users, in memory only: a random token, the value of the browser's
// cookie, names the user until its age is up. Bounded in number like the replay memory: a full
// store opens no session rather than ending one early.
class sessions
{
public:
    explicit sessions(int capacity = session_capacity,
                      qint64 max_age_seconds = session_max_age_seconds);

    // now: seconds since the epoch, here and below.
    bool is_full(qint64 now);
    // A new session's token (32 hex digits: 128 bits from OpenSSL's random generator); empty
    // when the store is full or no random bytes could be had.
    QByteArray open(const QString& user, qint64 now);
    // The user of a session that has not expired; false for any other token.
    bool find(const QByteArray& token, qint64 now, QString& user);
    // The Set-Cookie value that hands a token to the browser: only over HTTPS, out of the
    // page's scripts' reach, not sent along when another site's page starts a request, gone
    // when the session is.
    QByteArray cookie(const QByteArray& token) const;

private:
    bounded_memory m_tokens; // token -> user
    qint64 m_max_age_seconds;
};

// The cookie name of the sessions.
constexpr const char* session_cookie_name = "session";

// The values of the cookies of that name in a request head (its "Cookie:" lines).
QList<QByteArray> cookie_values(const QByteArray& head, const QByteArray& name);
