#include "tnw_selvane_auth.h"

#include "server_host.h"

#include <QDebug>
#include <QNetworkReply>
#include <QSignalBlocker>
#include <QSslCertificate>
#include <QSslConfiguration>

tnw_selvane_auth::tnw_selvane_auth(QObject* parent) : QEventLoop(parent) {}

tnw_selvane_auth::~tnw_selvane_auth() = default;

QString tnw_selvane_auth::get_url(QString text) const
{
    if (!text.isEmpty())
        return text.replace(QLatin1String("tarnwell"), QLatin1String("https"), Qt::CaseInsensitive);
    // One pass: an address holding "%2" (an IPv6 zone such as fe80::1%2) stays as it is.
    return QStringLiteral("https://%1:%2")
        .arg(tnw_url_host(m_server_ip), QString::number(m_server_port));
}

QString tnw_selvane_auth::get_server_ip() const
{
    return m_server_ip;
}

void tnw_selvane_auth::st_ssl_errors(const QList<QSslError>& e)
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    for (const QSslError& error : e)
        qDebug() << error.errorString();
    // Only a reply can ignore its errors; from any other sender the list is just logged.
    if (reply)
        reply->ignoreSslErrors(e);
}

void tnw_selvane_auth::st_encrypted(QNetworkReply* rep_ptr)
{
    const QSignalBlocker blocker(sender());
    if (rep_ptr && rep_ptr->sslConfiguration().peerCertificate().isNull())
        rep_ptr->ignoreSslErrors();
}

void tnw_selvane_auth::st_time_out()
{
    m_time_out_timer.stop();
    exit(-1);
}
