#pragma once

#include "server_identity.h"
#include "sessions.h"
#include "sign_on_rules.h"

#include <QTcpServer>

class QSslSocket;

// A loopback HTTPS server that answers the agent's sign-on requests and prints what it read.
// An accepted sign-on opens a session (a cookie) and is sent on to its reqURI when that is a
// page of this server, otherwise shown on a page of its own. Every other page names the user
// of a session, or, without one, offers the link that signs on to it.
class signon_server : public QTcpServer
{
    Q_OBJECT

public:
    // A connection that has not finished its handshake and its request within timeout_ms is
    // closed, so held connections cannot use up the descriptors. window_seconds: see
    // sign_on_rules. once: the program ends after one sign-on: once the page it was sent on to
    // has been served in its session, or at most once_wait_ms after it.
    signon_server(server_identity identity, bool once, int timeout_ms, qint64 window_seconds,
                  QObject* parent = nullptr);

    static constexpr int once_wait_ms = 60000;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void read_request(QSslSocket* socket);
    void answer(QSslSocket* socket, const QByteArray& target, const QByteArray& head);
    void serve_page(QSslSocket* socket, const QByteArray& path, const QByteArray& head);
    // Sends the answer and closes; quits the program once it is sent when quit is true.
    void send(QSslSocket* socket, int status, const QByteArray& headers, const QByteArray& body,
              bool quit);

    server_identity m_identity;
    bool m_once;
    int m_timeout_ms;
    sign_on_rules m_rules;
    sessions m_sessions;
    // With once: the page that the sign-on was sent on to, decoded; null before.
    QString m_once_target;
};

// text for one line of output: backslash, double quote and control characters (line and
// paragraph separators included) written as escapes, so that a field cannot end its quotes or
// its line.
QString printable_field(const QString& text);
