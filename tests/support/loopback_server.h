#pragma once

#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

// The sign-on server as far as the agent's flow meets it: a loopback listener that only
// counts the reachability probes, and the config/server.ini beside the test program.
// Writes a settings file at path that a reader in this process sees as written: QSettings keeps
// the files it has read and trusts their size and time stamp, and two files of one size written
// within the file system's clock tick would read as the first. Each gets a time of its own.
bool write_settings_file(const QString& path, const QByteArray& text);

class loopback_server
{
public:
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    // "https://127.0.0.1:<port>", the base address the agent builds from the settings.
    QString base_address() const;

    // Points config/server.ini beside the test program at 127.0.0.1 and port (any text).
    static bool write_settings(const QString& port);
    bool write_settings() const { return write_settings(QString::number(port())); }

    // How many connections arrived since the last call; they are closed.
    int take_probes();

private:
    QTcpServer m_server;
};

// A loopback port that refuses connections for as long as the object lives: bound, exclusively
// and never listening, so that no other test running meanwhile can listen on it. A port that is
// merely picked and let go can be taken by the next listener on the machine.
class closed_loopback_port
{
public:
    closed_loopback_port();
    quint16 port() const { return m_socket.localPort(); }

private:
    QTcpSocket m_socket;
};
