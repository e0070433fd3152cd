#include "loopback_server.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTcpSocket>

bool loopback_server::listen()
{
    return m_server.listen(QHostAddress(QStringLiteral("127.0.0.1")));
}

QString loopback_server::base_address() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(port());
}

bool write_settings_file(const QString& path, const QByteArray& text)
{
    static int files_written = 0;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text) == text.size() && file.flush() &&
           file.setFileTime(QDateTime::currentDateTime().addSecs(-60 * ++files_written),
                            QFileDevice::FileModificationTime);
}

bool loopback_server::write_settings(const QString& port)
{
    const QDir beside(QCoreApplication::applicationDirPath());
    if (!beside.mkpath(QStringLiteral("config")))
        return false;
    return write_settings_file(beside.filePath(QStringLiteral("config/server.ini")),
                               "[server]\nip=127.0.0.1\nport=" + port.toUtf8() +
                                   "\nenable_certificate_verification=false\n");
}

int loopback_server::take_probes()
{
    // No event loop runs while the flow probes: the connections wait in the accept queue.
    int probes = 0;
    while (m_server.waitForNewConnection(0)) {
        while (QTcpSocket* probe = m_server.nextPendingConnection()) {
            ++probes;
            delete probe;
        }
    }
    return probes;
}

closed_loopback_port::closed_loopback_port()
{
    // Without address reuse nobody else can bind the port, listening or not.
    m_socket.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0, QAbstractSocket::DontShareAddress);
}
