#pragma once

#include "self_signed.h"
#include "sign_on_rules.h"

#include <QTcpServer>

class QSslSocket;

// A loopback HTTPS server that answers the agent's sign-on requests and prints what it read.
// An accepted sign-on is sent on to its reqURI when that is a page of this server, otherwise
// shown on a page of its own.
class signon_server : public QTcpServer
{
    Q_OBJECT

public:
    // A connection that has not finished its handshake and its request within timeout_ms is
    // closed, so held connections cannot use up the descriptors. window_seconds: see
    // sign_on_rules.
    signon_server(self_signed_identity identity, bool once, int timeout_ms, qint64 window_seconds,
                  QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void read_request(QSslSocket* socket);
    void answer(QSslSocket* socket, const QByteArray& target);

    self_signed_identity m_identity;
    bool m_once;
    int m_timeout_ms;
    sign_on_rules m_rules;
};

// text for one line of output: backslash, double quote and control characters (line and
// paragraph separators included) written as escapes, so that a field cannot end its quotes or
// its line.
QString printable_field(const QString& text);
