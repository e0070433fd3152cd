#pragma once

#include <QEventLoop>
#include <QList>
#include <QSslError>
#include <QString>
#include <QTimer>

class QNetworkReply;

// The agent's sign-on server: its address, port and certificate switch as read once from
// config/server.ini, and the server's base address. As an event loop it can wait for an HTTPS
// reply: the member timer ends a running exec() with -1, and the two TLS slots fit a reply's
// sslErrors signal and the access manager's encrypted signal.
class tnw_selvane_auth : public QEventLoop
{
    Q_OBJECT

public:
    explicit tnw_selvane_auth(QObject* parent = nullptr);
    ~tnw_selvane_auth() override;

    // Reads config/server.ini beside the program, logs the three values and connects the
    // timer to st_time_out(). Always true. Anything but a regular file there gives the
    // defaults, and so does a port whose number needs more than 32 bits.
    bool load_server_config();

    // A non-empty text comes back with every "tarnwell" (any case) turned into "https";
    // an empty one gives the base address "https://<ip>:<port>", without a trailing slash,
    // an IPv6 address in brackets.
    QString get_url(QString text) const;
    QString get_server_ip() const;

    QString m_server_ip;
    // Read by callers directly; set by load_server_config() only.
    quint32 m_server_port = 0;
    bool m_enable_cert_verify = false;
    QTimer m_time_out_timer;

public slots:
    // Logs each error and ignores the whole list on the reply that sent the signal.
    void st_ssl_errors(const QList<QSslError>& e);
    // A reply whose peer showed no certificate has all its TLS errors ignored.
    void st_encrypted(QNetworkReply* rep_ptr);
    void st_time_out();
};

// <appdir>/config/server.ini with the platform's separators between the pieces.
QString tnw_server_settings_file();
