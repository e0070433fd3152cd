#include "signon_parameter.h"

#include <QDateTime>
#include <QLocale>
#include <QUrl>

namespace {

bool frames_a_field(QChar c)
{
    return c == QLatin1Char('%') || c == QLatin1Char('&') || c == QLatin1Char('=') ||
           c == QLatin1Char('+') || c == QLatin1Char('#') || c.unicode() < 0x20 ||
           c.unicode() == 0x7f;
}

} // namespace

QString tnw_parameter_value(const QString& value)
{
    QString framed;
    framed.reserve(value.size());
    for (const QChar c : value) {
        if (frames_a_field(c))
            framed += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            framed += c;
    }
    return framed;
}

QString tnw_parameter_string(const QString& user_id, const QString& time_stamp,
                             const QString& request_path)
{
    const QString user = tnw_parameter_value(user_id);
    const QString time = tnw_parameter_value(time_stamp);
    if (request_path.isEmpty())
        return QStringLiteral("userId=%1&currentTime=%2").arg(user, time);
    return QStringLiteral("userId=%1&currentTime=%2&reqURI=%3")
        .arg(user, time, tnw_parameter_value(request_path));
}

QString tnw_failure_address(const QString& base_address, const QString& request_path)
{
    if (!request_path.startsWith(QLatin1Char('/')))
        return base_address;
    return base_address + QString::fromLatin1(QUrl::toPercentEncoding(request_path, "/"));
}

QString tnw_time_stamp(const QDateTime& local_time)
{
    // QDateTime::toString() follows the system locale's digits in Qt 5.
    return QLocale::c().toString(local_time, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}
