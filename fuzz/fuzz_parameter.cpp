// The sign-on parameter from a link and a user id, all the way to the text the server gets and
// back: whatever the user id and the link hold, the server must find the same two or three
// fields, each value coming back as it was. Also the address a failed sign-on opens, which
// must stay on the server it was built for.
#include "fuzz_require.h"
#include "param_cipher.h"
#include "param_codec.h"
#include "signon_parameter.h"
#include "startup.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace {

// A value as the server reads it: nothing in it may start a field, end the parameter or read
// differently when "+" is taken for a blank.
void check_value(const QByteArray& value, const QString& expected)
{
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        TNW_FUZZ_REQUIRE(c != '&' && c != '=' && c != '+' && c != '#');
        TNW_FUZZ_REQUIRE(byte >= 0x20 && byte != 0x7f);
    }
    // The sized form: the one taking a QByteArray would stop at a NUL.
    const QByteArray decoded = QByteArray::fromPercentEncoding(value);
    TNW_FUZZ_REQUIRE(QString::fromUtf8(decoded.constData(), decoded.size()) == expected);
}

void check_fields(const QByteArray& plain, const QString& user_id, const QString& time_stamp,
                  const QString& request_path)
{
    const QList<QByteArray> fields = plain.split('&');
    TNW_FUZZ_REQUIRE(fields.size() == (request_path.isEmpty() ? 2 : 3));
    const char* const names[] = {"userId", "currentTime", "reqURI"};
    const QString values[] = {user_id, time_stamp, request_path};
    for (int i = 0; i < fields.size(); ++i) {
        const QList<QByteArray> pair = fields.at(i).split('=');
        TNW_FUZZ_REQUIRE(pair.size() == 2);
        TNW_FUZZ_REQUIRE(pair.at(0) == names[i]);
        check_value(pair.at(1), values[i]);
    }
}

// The parameter as the flow builds it, through the cipher and the text form and back.
void check_parameter(const QString& user_id, const QString& request_path)
{
    const QString time_stamp = tnw_time_stamp(QDateTime::currentDateTime());
    const QByteArray plain = tnw_parameter_string(user_id, time_stamp, request_path).toUtf8();

    QByteArray cipher;
    TNW_FUZZ_REQUIRE(tnw_param_cipher::encrypt(plain, cipher));
    QByteArray received;
    TNW_FUZZ_REQUIRE(tnw_param_decode(tnw_param_encode(cipher), received));
    QByteArray decrypted;
    TNW_FUZZ_REQUIRE(tnw_param_cipher::decrypt(received, decrypted));
    TNW_FUZZ_REQUIRE(decrypted == plain);

    check_fields(decrypted, user_id, time_stamp, request_path);
}

// A host name of letters, digits and inner hyphens made from the input, or a loopback name.
QString host_from(FuzzedDataProvider& input)
{
    const std::string raw = input.ConsumeRandomLengthString(20);
    QString host;
    for (const char c : raw) {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789-";
        host += QLatin1Char(letters[static_cast<unsigned char>(c) % (sizeof letters - 1)]);
    }
    if (host.isEmpty() || host.startsWith(QLatin1Char('-')) || host.endsWith(QLatin1Char('-')))
        return QStringLiteral("127.0.0.1");
    return host;
}

void check_failure_address(const QString& host, quint16 port, const QString& request_path)
{
    const QString base = QStringLiteral("https://%1:%2").arg(host).arg(port);
    const QUrl base_url(base, QUrl::StrictMode);
    if (!base_url.isValid() || base_url.host().isEmpty())
        return; // a host name that no server settings could give

    const QString address = tnw_failure_address(base, request_path);
    TNW_FUZZ_REQUIRE(address.startsWith(base));
    const QUrl url(address, QUrl::StrictMode);
    TNW_FUZZ_REQUIRE(url.isValid());
    TNW_FUZZ_REQUIRE(url.scheme() == base_url.scheme());
    TNW_FUZZ_REQUIRE(url.host() == base_url.host());
    TNW_FUZZ_REQUIRE(url.port() == base_url.port());
    TNW_FUZZ_REQUIRE(url.userInfo().isEmpty());
    // A path on the server arrives whole: no query or fragment split off it.
    if (address != base)
        TNW_FUZZ_REQUIRE(url.path(QUrl::FullyDecoded) == request_path && !url.hasQuery() &&
                         !url.hasFragment());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString user_id = QString::fromStdString(input.ConsumeRandomLengthString(256));
    const QString host = host_from(input);
    const auto port = input.ConsumeIntegral<quint16>();
    const QString argument = QString::fromStdString(input.ConsumeRemainingBytesAsString());

    const QString request_path = tnw_request_path({QStringLiteral("tarnwell"), argument});
    check_parameter(user_id, request_path);
    check_failure_address(host, port, request_path);
    return 0;
}
