#include "sign_on_request.h"
#include "sign_on_rules.h"

#include "param_cipher.h"
#include "param_codec.h"
#include "signon_parameter.h"

#include <QtTest>

#include <openssl/evp.h>

namespace {

const QString time_stamp = QStringLiteral("2024-01-31 09:05:07");

QString encrypted(const QByteArray& plain)
{
    QByteArray cipher;
    if (!tnw_param_cipher::encrypt(plain, cipher))
        return QString();
    return tnw_param_encode(cipher);
}

// The parameter as the agent makes it.
QString agent_parameter(const QString& user, const QString& path)
{
    return encrypted(tnw_parameter_string(user, time_stamp, path).toUtf8());
}

// The same cipher and IV, but a key of another deployment.
QString encrypted_with_other_key(const QByteArray& plain)
{
    static const unsigned char key[] = "0123456789abcdef";
    QByteArray out(plain.size() + 32, '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(out.data());
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    int final_written = 0;
    const bool done = ctx && EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key, key) == 1 &&
                      EVP_EncryptUpdate(ctx, bytes, &written,
                                        reinterpret_cast<const unsigned char*>(plain.constData()),
                                        plain.size()) == 1 &&
                      EVP_EncryptFinal_ex(ctx, bytes + written, &final_written) == 1;
    EVP_CIPHER_CTX_free(ctx);
    return done ? tnw_param_encode(out.left(written + final_written)) : QString();
}

// The text with the character at index (negative: from the end) changed to another one of
// the alphabet.
QString tampered(QString text, int index)
{
    if (index < 0)
        index += text.size();
    text[index] = text.at(index) == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
    return text;
}

QByteArray target(const QString& param)
{
    return "/signin/sso?param=" + param.toLatin1();
}

} // namespace

class tst_sign_on_request : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void replay_memory_is_bounded_data();
    void replay_memory_is_bounded();
};

void tst_sign_on_request::accepted_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("has_path");
    QTest::newRow("the agent's parameter with a request path")
        << target(agent_parameter("alice", "/x y")) << "alice"
        << "/x y" << true;
    QTest::newRow("the agent's parameter without a request path")
        << target(agent_parameter("alice", "")) << "alice"
        << "" << false;
    QTest::newRow("an empty user ID") << target(agent_parameter("", "/x")) << ""
                                      << "/x" << true;
    QTest::newRow("framed values come back whole")
        << target(agent_parameter("a&b=c%2+#", "/x&userId=admin")) << "a&b=c%2+#"
        << "/x&userId=admin" << true;
    QTest::newRow("control characters come back whole")
        << target(agent_parameter("bob", QStringLiteral("/a%1b\r\n").arg(QChar(0)))) << "bob"
        << QStringLiteral("/a%1b\r\n").arg(QChar(0)) << true;
    QTest::newRow("non-ASCII values") << target(agent_parameter("김철수", "/문서")) << "김철수"
                                      << "/문서" << true;
    QByteArray escaped = target(agent_parameter("alice", "/x"));
    escaped.replace("=", "%3D").replace("param%3D", "param=");
    QTest::newRow("padding escaped by the browser") << escaped << "alice"
                                                    << "/x" << true;
    QTest::newRow("other query items around it")
        << "/signin/sso?lang=ko&param=" + agent_parameter("alice", "/x").toLatin1() + "&x=1"
        << "alice"
        << "/x" << true;
}

void tst_sign_on_request::accepted()
{
    QFETCH(QByteArray, target);
    QFETCH(QString, user);
    QFETCH(QString, path);
    QFETCH(bool, has_path);

    const sign_on_request request = read_sign_on_request(target);

    QCOMPARE(request.status, 200);
    QCOMPARE(request.error, QString());
    QCOMPARE(request.user_id, user);
    QCOMPARE(request.current_time, time_stamp);
    QCOMPARE(request.has_req_uri, has_path);
    QCOMPARE(request.req_uri, path);
}

void tst_sign_on_request::refused_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    const QString good = agent_parameter("alice", "/x y");
    const QString not_base64 = QStringLiteral("param is not in the agent's Base64 variant");
    const QString undecryptable = QStringLiteral("param does not decrypt with the agent's key");
    const QString wrong_fields =
        QStringLiteral("the parameter's fields are not userId, currentTime, reqURI");
    const QString bad_time = QStringLiteral("currentTime is not a time stamp");

    QTest::newRow("a changed character in the last block")
        << target(tampered(good, -4)) << 400 << undecryptable;
    QTest::newRow("a changed character in the first block")
        << target(tampered(good, 0)) << 400 << wrong_fields;
    QTest::newRow("truncated by one block")
        << target(good.left(good.size() - 24)) << 400 << undecryptable;
    QTest::newRow("truncated by one character")
        << target(good.left(good.size() - 1)) << 400 << not_base64;
    QTest::newRow("a + of standard Base64")
        << target(good.left(5) + "+" + good.mid(6)) << 400 << not_base64;
    QTest::newRow("a / of standard Base64")
        << target(good.left(5) + "/" + good.mid(6)) << 400 << not_base64;
    QTest::newRow("a blank inside")
        << target(good.left(8) + "%20" + good.mid(8)) << 400 << not_base64;
    QTest::newRow("a line break inside")
        << target(good.left(8) + "%0A" + good.mid(8)) << 400 << not_base64;
    QTest::newRow("an empty param") << target(QString()) << 400 << undecryptable;
    QTest::newRow("no param") << QByteArray("/signin/sso?user=alice") << 400
                              << QStringLiteral("the request has no param");
    QTest::newRow("no query") << QByteArray("/signin/sso") << 400
                              << QStringLiteral("the request has no param");
    QTest::newRow("another deployment's key")
        << target(encrypted_with_other_key("userId=alice&currentTime=2024-01-31 09:05:07")) << 400
        << undecryptable;
    QTest::newRow("other field names")
        << target(encrypted("user=alice&currentTime=2024-01-31 09:05:07")) << 400 << wrong_fields;
    QTest::newRow("fields in another order")
        << target(encrypted("currentTime=2024-01-31 09:05:07&userId=alice")) << 400 << wrong_fields;
    QTest::newRow("four fields")
        << target(encrypted("userId=alice&currentTime=2024-01-31 09:05:07&reqURI=/x&userId=admin"))
        << 400 << QStringLiteral("the parameter has 4 fields, not 2 or 3");
    QTest::newRow("one field") << target(encrypted("userId=alice")) << 400
                               << QStringLiteral("the parameter has 1 fields, not 2 or 3");
    QTest::newRow("a month 13") << target(encrypted("userId=a&currentTime=2024-13-01 00:00:00"))
                                << 400 << bad_time;
    QTest::newRow("a time stamp with T")
        << target(encrypted("userId=a&currentTime=2024-01-31T09:05:07")) << 400 << bad_time;
    QTest::newRow("a time stamp without padding zeros")
        << target(encrypted("userId=a&currentTime=2024-1-31 9:5:7")) << 400 << bad_time;
    QTest::newRow("a time stamp with a zone")
        << target(encrypted("userId=a&currentTime=2024-01-31 09:05:07Z")) << 400 << bad_time;
    QTest::newRow("no time") << target(encrypted("userId=a&currentTime=")) << 400 << bad_time;
    QTest::newRow("another page") << QByteArray("/signin/other?param=") + good.toLatin1() << 404
                                  << QStringLiteral("no such page");
    QTest::newRow("a page below the sign-on page")
        << QByteArray("/signin/sso/x?param=") + good.toLatin1() << 404
        << QStringLiteral("no such page");
    QTest::newRow("the page in capitals") << QByteArray("/signin/SSO?param=") + good.toLatin1()
                                          << 404 << QStringLiteral("no such page");
    QTest::newRow("the root") << QByteArray("/") << 404 << QStringLiteral("no such page");
}

void tst_sign_on_request::refused()
{
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QString, error);

    const sign_on_request request = read_sign_on_request(target);

    QCOMPARE(request.status, status);
    QCOMPARE(request.error, error);
    QCOMPARE(request.user_id, QString());
    QVERIFY(!request.has_req_uri);
}

void tst_sign_on_request::replay_memory_is_bounded_data()
{
    QTest::addColumn<QByteArray>("parameter"); // sent third, after "one" and, 10 s later, "two"
    QTest::addColumn<int>("later");            // seconds after "one"
    QTest::addColumn<int>("status");
    QTest::newRow("a new parameter while the memory is full is turned away")
        << QByteArray("three") << 20 << 503;
    QTest::newRow("a replay while the memory is full is still one")
        << QByteArray("one") << 20 << 403;
    QTest::newRow("once the oldest has left its window there is room")
        << QByteArray("three") << 301 << 200;
    QTest::newRow("and the younger is still remembered") << QByteArray("two") << 301 << 403;
}

void tst_sign_on_request::replay_memory_is_bounded()
{
    QFETCH(QByteArray, parameter);
    QFETCH(int, later);
    const QDateTime first =
        QDateTime::fromString(time_stamp, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    sign_on_rules rules(300, 2);
    const auto send = [&rules](const QByteArray& text, const QDateTime& time,
                               const QDateTime& now) {
        sign_on_request request;
        request.status = 200;
        request.parameter = text;
        request.time = time;
        rules.apply(request, now);
        return request;
    };
    QCOMPARE(send("one", first, first).status, 200);
    QCOMPARE(send("two", first.addSecs(10), first.addSecs(10)).status, 200);
    const bool replay = parameter != "three";
    const QDateTime time =
        replay ? first.addSecs(parameter == "one" ? 0 : 10) : first.addSecs(later);
    const sign_on_request third = send(parameter, time, first.addSecs(later));
    QTEST(third.status, "status");
    if (third.status == 503)
        QCOMPARE(third.error, QStringLiteral("this server already remembers 2 sign-ons within "
                                             "its window, its most; try again later"));
}

QTEST_APPLESS_MAIN(tst_sign_on_request)
#include "tst_sign_on_request.moc"
