#include "server_host.h"

#include <QHostAddress>
#include <QUrl>

namespace {

// QHostAddress takes whatever follows a "%" as the zone, and QUrl's host check refuses zones, so
// the zone is held to the characters that a URL carries unescaped.
bool plain_zone(const QString& zone)
{
    if (zone.isEmpty())
        return false;
    for (const QChar c : zone) {
        const bool unreserved = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                                (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                                (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                                c == QLatin1Char('-') || c == QLatin1Char('.') ||
                                c == QLatin1Char('_') || c == QLatin1Char('~');
        if (!unreserved)
            return false;
    }
    return true;
}

// An IPv6 literal as QHostAddress reads it, with or without brackets; bare is it without.
bool ipv6_literal(const QString& ip, QString& bare)
{
    QString text = ip;
    if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
        text = text.mid(1, text.size() - 2);
    QHostAddress address;
    if (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const int percent = text.indexOf(QLatin1Char('%'));
    if (percent >= 0 && !plain_zone(text.mid(percent + 1)))
        return false;
    bare = text;
    return true;
}

// Both QHostAddress and QUrl read an address up to a NUL and take what stands before it.
bool has_blank_or_control(const QString& text)
{
    for (const QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

} // namespace

bool tnw_probe_host(const QString& ip, QString& host)
{
    if (has_blank_or_control(ip))
        return false;
    QString bare;
    if (ipv6_literal(ip, bare)) {
        host = bare;
        return true;
    }
    // IPv4 literals are hosts to QUrl as well.
    QUrl url;
    url.setHost(ip, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    host = ip;
    return true;
}

QString tnw_url_host(const QString& ip)
{
    QString bare;
    if (has_blank_or_control(ip) || !ipv6_literal(ip, bare))
        return ip;
    return QLatin1Char('[') + bare.replace(QLatin1Char('%'), QLatin1String("%25")) +
           QLatin1Char(']');
}
