#include "tls_loopback.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>

#include <memory>

bool tls_loopback::make_certificate()
{
    const QString key_file = m_dir.filePath(QStringLiteral("key.pem"));
    const QString cert_file = m_dir.filePath(QStringLiteral("cert.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-keyout", key_file, "-out",
                   cert_file});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl req failed: ") + openssl.readAllStandardError();
        return false;
    }
    QFile key(key_file);
    QFile cert(cert_file);
    if (!key.open(QIODevice::ReadOnly) || !cert.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("certificate files missing");
        return false;
    }
    m_key = QSslKey(key.readAll(), QSsl::Ec);
    m_certificate = QSslCertificate(cert.readAll());
    if (m_key.isNull() || m_certificate.isNull()) {
        m_error = QStringLiteral("certificate files unreadable");
        return false;
    }
    return true;
}

bool tls_loopback::start()
{
    if (!QSslSocket::supportsSsl()) {
        m_error = QStringLiteral("Qt has no TLS backend");
        return false;
    }
    if (!m_dir.isValid() || !make_certificate())
        return false;
    if (!listen(QHostAddress::LocalHost)) {
        m_error = errorString();
        return false;
    }
    return true;
}

void tls_loopback::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    auto request = std::make_shared<QByteArray>();
    connect(socket, &QSslSocket::readyRead, socket, [socket, request] {
        // One answer per connection is all the tests need; the request itself is not parsed.
        request->append(socket->readAll());
        if (!request->contains("\r\n\r\n"))
            return;
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
        socket->disconnectFromHost();
    });
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    socket->startServerEncryption();
}
