#pragma once

#include "bounded_memory.h"
#include "sign_on_request.h"

#include <QByteArray>
#include <QDateTime>

// How many accepted parameters the server remembers at most (about 250 bytes each, so some
// 25 MB): 333 sign-ons a second through the default window of 300 s.
constexpr int replay_memory_capacity = 100000;

// What a sign-on server checks beyond a readable parameter. Anyone with a copy of the agent can
// make a parameter, so a server accepts only a fresh one, and only once.
class sign_on_rules
{
public:
    explicit sign_on_rules(qint64 window_seconds, int capacity = replay_memory_capacity);

    // Refuses (403, with the reason) a request whose currentTime, read as local time, is more
    // than the window away from now, or whose parameter was accepted before; remembers an
    // accepted one until its time stamp leaves the window. With capacity parameters
    // remembered, a new one is refused (503) until the oldest leave the window: forgetting one
    // early would let its replay through.
    void apply(sign_on_request& request, const QDateTime& now);

private:
    qint64 m_window_seconds;
    bounded_memory m_accepted; // decrypted parameters, until their currentTime leaves the window
};

// The Location for a request's reqURI when it is a path on this server: one "/" and no scheme
// or authority ("//host" and "/\host" are other hosts to a browser). Percent-encoded, so no
// character of it can end the header. Empty otherwise: the server then shows its own page.
QByteArray local_redirect(const sign_on_request& request);
