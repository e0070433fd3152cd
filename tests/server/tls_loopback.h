#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTemporaryDir>

// A TLS server on 127.0.0.1 with a self-signed certificate made at test time by the openssl
// tool. Every connection gets one fixed HTTP answer, "200 OK" with the body "ok".
class tls_loopback : public QTcpServer
{
    Q_OBJECT

public:
    // False (with the reason in error()) when the certificate could not be made or the
    // server could not listen.
    bool start();
    QString error() const { return m_error; }
    QSslCertificate certificate() const { return m_certificate; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    bool make_certificate();

    QTemporaryDir m_dir;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_error;
};
