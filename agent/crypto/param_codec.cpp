#include "param_codec.h"

namespace {

bool in_alphabet(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' ||
           u == '_' || u == '=';
}

} // namespace

QString tnw_param_encode(const QByteArray& bytes)
{
    QString text = QString::fromLatin1(bytes.toBase64());
    text.replace(QLatin1Char('+'), QLatin1Char('-'));
    text.replace(QLatin1Char('/'), QLatin1Char('_'));
    return text;
}

bool tnw_param_decode(const QString& text, QByteArray& bytes)
{
    for (const QChar c : text) {
        if (!in_alphabet(c))
            return false;
    }
    const QByteArray decoded =
        QByteArray::fromBase64(text.toLatin1(), QByteArray::Base64UrlEncoding);
    // Misplaced "=", a wrong length and stray bits all fail to come back as the same text.
    if (tnw_param_encode(decoded) != text)
        return false;
    bytes = decoded;
    return true;
}
