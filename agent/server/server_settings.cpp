#include "tnw_selvane_auth.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <limits>
#include <memory>

QString tnw_server_settings_file()
{
    return QCoreApplication::applicationDirPath() + QDir::separator() + QStringLiteral("config") +
           QDir::separator() + QStringLiteral("server.ini");
}

bool tnw_selvane_auth::load_server_config()
{
    connect(&m_time_out_timer, SIGNAL(timeout()), this, SLOT(st_time_out()));

    // Reading a FIFO or a device would block the agent for good before it shows anything.
    const QString path = tnw_server_settings_file();
    std::unique_ptr<QSettings> settings;
    if (QFileInfo(path).isFile()) {
        settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
        settings->beginGroup(QStringLiteral("server"));
    }
    const auto value = [&settings](const char* key, const QVariant& fallback) {
        return settings ? settings->value(QLatin1String(key), fallback) : fallback;
    };

    m_server_ip = value("ip", QStringLiteral(TARNWELL_DEFAULT_SERVER_IP)).toString();
    // toInt() keeps only the low 32 bits of a longer number, which could land on a valid port
    // the administrator never wrote; such a number counts as no number. A negative port is
    // kept as its unsigned bit pattern, as the value is used everywhere.
    bool number = false;
    const qlonglong port = value("port", 8443).toLongLong(&number);
    const bool fits = number && port >= std::numeric_limits<qint32>::min() &&
                      port <= qlonglong(std::numeric_limits<quint32>::max());
    m_server_port = fits ? static_cast<quint32>(port) : 0;
    const QString verify =
        value("enable_certificate_verification", QStringLiteral("false")).toString();
    m_enable_cert_verify = verify.compare(QLatin1String("true"), Qt::CaseSensitive) == 0;

    qInfo() << "IP : " << m_server_ip;
    qInfo() << "Port : " << m_server_port;
    qInfo() << "enable cert verify : " << m_enable_cert_verify;
    return true;
}
