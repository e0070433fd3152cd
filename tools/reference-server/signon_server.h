#pragma once

#include "self_signed.h"

#include <QTcpServer>

class QSslSocket;

// A loopback HTTPS server that answers the agent's sign-on requests and prints what it read.
class signon_server : public QTcpServer
{
    Q_OBJECT

public:
    explicit signon_server(self_signed_identity identity, bool once, QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void read_request(QSslSocket* socket);
    void answer(QSslSocket* socket, const QByteArray& target);

    self_signed_identity m_identity;
    bool m_once;
};
