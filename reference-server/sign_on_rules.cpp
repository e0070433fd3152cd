#include "sign_on_rules.h"

#include <QUrl>

#include <cstdlib>

sign_on_rules::sign_on_rules(qint64 window_seconds, int capacity)
    : m_window_seconds(window_seconds), m_accepted(capacity)
{}

void sign_on_rules::apply(sign_on_request& request, const QDateTime& now)
{
    if (request.status != 200)
        return;
    // Forgotten once the time rule refuses it anyway.
    m_accepted.forget_expired(now.toSecsSinceEpoch());
    const qint64 skew = request.time.secsTo(now);
    if (std::llabs(skew) > m_window_seconds) {
        request.status = 403;
        // One arg() call: a text substituted first cannot carry a marker for the next.
        request.error = QStringLiteral("currentTime %1 is %2 s %3 this server's clock, outside "
                                       "the window of %4 s")
                            .arg(request.current_time, QString::number(std::llabs(skew)),
                                 skew > 0 ? QStringLiteral("behind") : QStringLiteral("ahead of"),
                                 QString::number(m_window_seconds));
        return;
    }
    if (m_accepted.contains(request.parameter)) {
        request.status = 403;
        request.error = QStringLiteral("this parameter was already accepted (a replay)");
        return;
    }
    if (m_accepted.is_full()) {
        request.status = 503;
        request.error = QStringLiteral("this server already remembers %1 sign-ons within its "
                                       "window, its most; try again later")
                            .arg(m_accepted.capacity());
        return;
    }
    m_accepted.remember(request.parameter, request.time.toSecsSinceEpoch() + m_window_seconds);
}

QByteArray local_redirect(const sign_on_request& request)
{
    const QString& path = request.req_uri;
    if (request.status != 200 || !request.has_req_uri || !path.startsWith(QLatin1Char('/')) ||
        path.startsWith(QLatin1String("//")) || path.startsWith(QLatin1String("/\\")))
        return QByteArray();
    // The agent sends the link's decoded path: set as a path, a "?" or "#" in it stays part of
    // the path, and blanks and control characters are encoded.
    QUrl url;
    url.setPath(path, QUrl::DecodedMode);
    if (!url.isValid() || !url.isRelative() || !url.authority().isEmpty())
        return QByteArray();
    return url.toEncoded();
}
