#pragma once

#include "self_signed.h"

#include <QTcpServer>

class QSslSocket;

// A loopback HTTPS server that answers the agent's sign-on requests and prints what it read.
class signon_server : public QTcpServer
{
    Q_OBJECT

public:
    // A connection that has not finished its handshake and its request within timeout_ms is
    // closed, so held connections cannot use up the descriptors.
    signon_server(self_signed_identity identity, bool once, int timeout_ms,
                  QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void read_request(QSslSocket* socket);
    void answer(QSslSocket* socket, const QByteArray& target);

    self_signed_identity m_identity;
    bool m_once;
    int m_timeout_ms;
};

// text for one line of output: backslash, double quote and control characters (line and
// paragraph separators included) written as escapes, so that a field cannot end its quotes or
// its line.
QString printable_field(const QString& text);
