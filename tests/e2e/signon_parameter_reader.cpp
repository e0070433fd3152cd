#include "signon_parameter_reader.h"

#include <QProcess>
#include <QRegularExpression>

namespace {

// "7qwirl.zenbo.kat" in hex.
const QString key_hex = QStringLiteral("37717769726c2e7a656e626f2e6b6174");

bool decrypt(const QByteArray& cipher, QByteArray& plain, QString& error)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("enc"), QStringLiteral("-d"), QStringLiteral("-aes-128-cbc"),
                   QStringLiteral("-K"), key_hex, QStringLiteral("-iv"), key_hex});
    if (!openssl.waitForStarted(10000)) {
        error = QStringLiteral("openssl does not start: ") + openssl.errorString();
        return false;
    }
    openssl.write(cipher);
    openssl.closeWriteChannel();
    if (!openssl.waitForFinished(10000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        error = QStringLiteral("openssl does not decrypt it: ") +
                QString::fromLocal8Bit(openssl.readAllStandardError());
        return false;
    }
    plain = openssl.readAllStandardOutput();
    return true;
}

} // namespace

bool read_signon_parameter(const QString& encoded, QStringList& fields, QString& error)
{
    static const QRegularExpression variant(QStringLiteral("^[A-Za-z0-9_-]*={0,2}$"));
    if (!variant.match(encoded).hasMatch() || encoded.size() % 4 != 0) {
        error = QStringLiteral("not in the parameter's Base64 variant: ") + encoded;
        return false;
    }
    QString standard = encoded;
    standard.replace(QLatin1Char('-'), QLatin1Char('+'))
        .replace(QLatin1Char('_'), QLatin1Char('/'));
    const QByteArray::FromBase64Result cipher = QByteArray::fromBase64Encoding(
        standard.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!cipher) {
        error = QStringLiteral("not Base64: ") + encoded;
        return false;
    }
    QByteArray plain;
    if (!decrypt(*cipher, plain, error))
        return false;
    fields = QString::fromUtf8(plain).split(QLatin1Char('&'));
    return true;
}
