#include "tnw_selvane_auth.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QSettings>

QString tnw_server_settings_file()
{
    return QCoreApplication::applicationDirPath() + QDir::separator() + QStringLiteral("config") +
           QDir::separator() + QStringLiteral("server.ini");
}

bool tnw_selvane_auth::load_server_config()
{
    connect(&m_time_out_timer, SIGNAL(timeout()), this, SLOT(st_time_out()));

    QSettings settings(tnw_server_settings_file(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("server"));
    m_server_ip =
        settings.value(QStringLiteral("ip"), QStringLiteral(TARNWELL_DEFAULT_SERVER_IP)).toString();
    // A negative port is kept as its unsigned bit pattern, as the value is used everywhere.
    m_server_port = static_cast<quint32>(settings.value(QStringLiteral("port"), 8443).toInt());
    const QString verify =
        settings.value(QStringLiteral("enable_certificate_verification"), QStringLiteral("false"))
            .toString();
    m_enable_cert_verify = verify.compare(QLatin1String("true"), Qt::CaseSensitive) == 0;
    settings.endGroup();

    qInfo() << "IP : " << m_server_ip;
    qInfo() << "Port : " << m_server_port;
    qInfo() << "enable cert verify : " << m_enable_cert_verify;
    return true;
}
