#include "sign_on_request.h"

#include "param_cipher.h"
#include "param_codec.h"

#include <QDateTime>
#include <QList>
#include <QUrlQuery>

namespace {

sign_on_request refused(const QString& why)
{
    sign_on_request request;
    request.error = why;
    return request;
}

// Splits "name=value" and undoes the percent-encoding the agent applies to its values.
bool take_field(const QByteArray& item, const char* name, QString& value)
{
    const QByteArray prefix = QByteArray(name) + '=';
    if (!item.startsWith(prefix))
        return false;
    const QByteArray bytes = QByteArray::fromPercentEncoding(item.mid(prefix.size()));
    // With its size: the QByteArray overload would stop at an encoded NUL.
    value = QString::fromUtf8(bytes.constData(), bytes.size());
    return true;
}

sign_on_request read_fields(const QByteArray& plain)
{
    const QList<QByteArray> items = plain.split('&');
    sign_on_request request;
    if (items.size() < 2 || items.size() > 3)
        return refused(QStringLiteral("the parameter has %1 fields, not 2 or 3").arg(items.size()));
    if (!take_field(items.at(0), "userId", request.user_id) ||
        !take_field(items.at(1), "currentTime", request.current_time) ||
        (items.size() == 3 && !take_field(items.at(2), "reqURI", request.req_uri)))
        return refused(
            QStringLiteral("the parameter's fields are not userId, currentTime, reqURI"));
    request.time =
        QDateTime::fromString(request.current_time, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (!request.time.isValid())
        return refused(QStringLiteral("currentTime is not a time stamp"));
    request.has_req_uri = items.size() == 3;
    request.parameter = plain;
    request.status = 200;
    return request;
}

} // namespace

sign_on_request read_sign_on_request(const QByteArray& target)
{
    const int query_at = target.indexOf('?');
    const QByteArray path = query_at < 0 ? target : target.left(query_at);
    if (path != "/signin/sso") {
        sign_on_request request;
        request.status = 404;
        request.error = QStringLiteral("no such page");
        return request;
    }
    const QUrlQuery query(
        QString::fromLatin1(query_at < 0 ? QByteArray() : target.mid(query_at + 1)));
    if (!query.hasQueryItem(QStringLiteral("param")))
        return refused(QStringLiteral("the request has no param"));

    QByteArray ciphertext;
    if (!tnw_param_decode(query.queryItemValue(QStringLiteral("param"), QUrl::FullyDecoded),
                          ciphertext))
        return refused(QStringLiteral("param is not in the agent's Base64 variant"));
    QByteArray plain;
    if (!tnw_param_cipher::decrypt(ciphertext, plain))
        return refused(QStringLiteral("param does not decrypt with the agent's key"));
    return read_fields(plain);
}
