#include "sign_on_reading.h"

#include "captured_messages.h"
#include "param_cipher.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

void check_base64_variant(const QString& encoded, QByteArray& cipher)
{
    QVERIFY2(!encoded.contains(QLatin1Char('+')) && !encoded.contains(QLatin1Char('/')),
             qPrintable(encoded));
    static const QRegularExpression alphabet(QStringLiteral("^[A-Za-z0-9_-]+={0,2}$"));
    QVERIFY2(alphabet.match(encoded).hasMatch(), qPrintable(encoded));
    cipher = QByteArray::fromBase64(encoded.toLatin1(), QByteArray::Base64UrlEncoding);
    QCOMPARE(encoded.size(), 4 * ((cipher.size() + 2) / 3));
    // The padding is the standard one: the same bytes encode to the same text.
    QCOMPARE(QString::fromLatin1(cipher.toBase64(QByteArray::Base64UrlEncoding)), encoded);
}

void split_fields(const QByteArray& plain, sign_on_reading& reading)
{
    const QList<QByteArray> fields = plain.split('&');
    QVERIFY2(fields.size() == 2 || fields.size() == 3, plain.constData());
    const QByteArray names[] = {"userId=", "currentTime=", "reqURI="};
    for (int i = 0; i < fields.size(); ++i)
        QVERIFY2(fields.at(i).startsWith(names[i]), plain.constData());
    reading.user = fields.at(0).mid(int(qstrlen(names[0])));
    reading.time = fields.at(1).mid(int(qstrlen(names[1])));
    reading.has_path = fields.size() == 3;
    if (reading.has_path)
        reading.path = fields.at(2).mid(int(qstrlen(names[2])));
}

const char* level_name(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    default:
        return "other";
    }
}

} // namespace

void read_sign_on_address(const QString& address, const QString& base, sign_on_reading& reading)
{
    const QString head = base + QStringLiteral("/signin/sso?param=");
    QVERIFY2(address.startsWith(head), qPrintable(address));
    reading.encoded = address.mid(head.size());

    QByteArray cipher;
    check_base64_variant(reading.encoded, cipher);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(cipher.size() % tnw_param_cipher::block_size, 0);
    QVERIFY(tnw_param_cipher::decrypt(cipher, reading.plain));
    // Whole blocks with PKCS#7 padding: one to sixteen bytes more than the text.
    QCOMPARE(cipher.size(), (reading.plain.size() / tnw_param_cipher::block_size + 1) *
                                tnw_param_cipher::block_size);
    split_fields(reading.plain, reading);
}

QStringList captured_lines()
{
    QStringList lines;
    for (const captured_message& message : captured_messages::messages()) {
        [&] {
            QVERIFY2(message.file.isEmpty() && message.function.isEmpty(),
                     qPrintable(message.text));
        }();
        lines << QString::fromLatin1(level_name(message.type)) + QStringLiteral(": ") +
                     message.text;
    }
    return lines;
}
