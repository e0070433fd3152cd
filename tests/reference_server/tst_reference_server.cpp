#include "param_cipher.h"
#include "param_codec.h"
#include "signon_parameter.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString agent_parameter(const QString& user, const QString& time, const QString& path)
{
    QByteArray cipher;
    if (!tnw_param_cipher::encrypt(tnw_parameter_string(user, time, path).toUtf8(), cipher))
        return QString();
    return tnw_param_encode(cipher);
}

// Local time, as the agent writes it, seconds away from now.
QString local_time(qint64 seconds_from_now = 0)
{
    return QDateTime::currentDateTime()
        .addSecs(seconds_from_now)
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

struct fetched
{
    int status = 0;
    QByteArray location;
    QByteArray cookie; // Set-Cookie
    QByteArray body;
    QList<QSslError::SslError> tls_errors;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
};

} // namespace

// The reference server as its users run it: a program on loopback, asked over HTTPS.
class tst_reference_server : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void answers_over_https();
    void once_ends_after_one_sign_on();
    void a_sign_on_opens_a_session_data();
    void a_sign_on_opens_a_session();
    void fields_are_printed_escaped_data();
    void fields_are_printed_escaped();
    void stalled_connections_are_closed_data();
    void stalled_connections_are_closed();
    void rules_of_a_real_server_data();
    void rules_of_a_real_server();

private:
    // Starts the program with the arguments given after --port 0 --port-file; its port.
    quint16 start(const QStringList& more);
    // With the cookies of earlier answers unless fresh.
    fetched fetch(quint16 port, const QByteArray& target, bool fresh = false);
    // The next line the program writes to its standard output.
    QByteArray next_output_line();

    QTemporaryDir m_dir;
    QProcess m_server;
    QNetworkAccessManager m_network;
    // The certificate the program wrote with --cert-file, the one trusted.
    QList<QSslCertificate> m_authority;
};

void tst_reference_server::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A sign-on server never reached through a proxy, whatever the environment says.
    m_network.setProxy(QNetworkProxy::NoProxy);
}

void tst_reference_server::cleanup()
{
    if (m_server.state() != QProcess::NotRunning) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
}

quint16 tst_reference_server::start(const QStringList& more)
{
    const QString port_file = m_dir.filePath(QStringLiteral("port"));
    const QString cert_file = m_dir.filePath(QStringLiteral("authority.pem"));
    QFile::remove(port_file);
    QFile::remove(cert_file);
    // Each start has its own certificates, and its own cookies.
    m_network.setCookieJar(new QNetworkCookieJar(&m_network));
    m_server.setProgram(QStringLiteral(TARNWELL_REFERENCE_SERVER));
    m_server.setArguments(
        QStringList{"--port", "0", "--port-file", port_file, "--cert-file", cert_file} + more);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start();
    if (!m_server.waitForStarted(10000))
        return 0;
    // The port file is written before the program says it listens.
    const QByteArray listening = next_output_line();
    QFile file(port_file);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray port = file.readAll();
    m_authority = QSslCertificate::fromPath(cert_file);
    if (m_authority.size() != 1)
        return 0;
    if (listening != "reference server listening on https://127.0.0.1:" + port)
        return 0;
    return quint16(port.toUInt());
}

QByteArray tst_reference_server::next_output_line()
{
    while (!m_server.canReadLine()) {
        if (!m_server.waitForReadyRead(10000))
            return QByteArray();
    }
    return m_server.readLine().trimmed();
}

fetched tst_reference_server::fetch(quint16 port, const QByteArray& target, bool fresh)
{
    QNetworkRequest request(
        QUrl::fromEncoded("https://127.0.0.1:" + QByteArray::number(port) + target));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(m_authority);
    request.setSslConfiguration(tls);
    if (fresh)
        request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    QNetworkReply* reply = m_network.get(request);
    fetched result;
    // Noted, and taken: a rule that refuses the certificate is seen in tls_errors.
    connect(reply, &QNetworkReply::sslErrors, reply,
            [reply, &result](const QList<QSslError>& errors) {
                for (const QSslError& error : errors)
                    result.tls_errors << error.error();
                reply->ignoreSslErrors();
            });
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(20000);
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.location = reply->rawHeader("Location");
    result.cookie = reply->rawHeader("Set-Cookie");
    result.body = reply->readAll();
    result.error = reply->error();
    reply->deleteLater();
    return result;
}

void tst_reference_server::answers_over_https()
{
    const quint16 port = start({});
    QVERIFY(port != 0);

    const QString time = local_time();
    const QString param = agent_parameter("alice", time, QStringLiteral("x&y"));
    const fetched good = fetch(port, "/signin/sso?param=" + param.toLatin1());
    QCOMPARE(good.status, 200);
    // The certificate it wrote is the one a client needs.
    QVERIFY2(good.tls_errors.isEmpty(), qPrintable(QString::number(good.tls_errors.size())));
    QVERIFY2(good.body.contains("<dt>userId</dt><dd>alice</dd>"), good.body.constData());
    QVERIFY2(good.body.contains("<dt>currentTime</dt><dd>" + time.toLatin1() + "</dd>"),
             good.body.constData());
    QVERIFY2(good.body.contains("<dt>reqURI</dt><dd>x&amp;y</dd>"), good.body.constData());
    QCOMPARE(next_output_line(), "sign-on received: userId=\"alice\" currentTime=\"" +
                                     time.toLatin1() + "\" reqURI=\"x&y\"");

    const fetched bad = fetch(port, "/signin/sso?param=not-base64!");
    QCOMPARE(bad.status, 400);
    QVERIFY2(bad.body.contains("<p>param is not in the agent's Base64 variant</p>"),
             bad.body.constData());
    QCOMPARE(next_output_line(),
             QByteArray("sign-on refused (400): param is not in the agent's Base64 variant"));

    const fetched icon = fetch(port, "/favicon.ico");
    QCOMPARE(icon.status, 404);
    QVERIFY(m_server.state() == QProcess::Running);
}

void tst_reference_server::once_ends_after_one_sign_on()
{
    const quint16 port = start({QStringLiteral("--once")});
    QVERIFY(port != 0);

    // The agent's reachability probe connects and leaves without a byte.
    QTcpSocket probe;
    probe.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), port);
    QVERIFY(probe.waitForConnected(5000));
    probe.disconnectFromHost();
    // A page before any sign-on is no sign-on either.
    QCOMPARE(fetch(port, "/").status, 200);
    QCOMPARE(next_output_line(), QByteArray("portal page: path=\"/\""));
    QVERIFY(m_server.state() == QProcess::Running);

    const QString time = local_time();
    const QString param = agent_parameter("bob", time, QString());
    QCOMPARE(fetch(port, "/signin/sso?param=" + param.toLatin1()).status, 200);
    QCOMPARE(next_output_line(),
             "sign-on received: userId=\"bob\" currentTime=\"" + time.toLatin1() + '"');
    // Reading its last line may already have seen the program end.
    QVERIFY(m_server.state() == QProcess::NotRunning || m_server.waitForFinished(10000));
    QCOMPARE(m_server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_server.exitCode(), 0);
}

void tst_reference_server::a_sign_on_opens_a_session_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("link");     // on the portal page of the path
    QTest::addColumn<QByteArray>("location"); // of the sign-on's answer
    QTest::newRow("a plain user and page")
        << QStringLiteral("alice") << QStringLiteral("/welcome")
        << QByteArray("<title>Signed on as alice</title>")
        << QByteArray("href=\"tarnwell://portal/welcome\"") << QByteArray("/welcome");
    QTest::newRow("markup in the user, a blank, a quote and Korean in the page")
        << QStringLiteral("<b>&\"x") << QStringLiteral("/a b\"c/경로")
        << QByteArray("<title>Signed on as &lt;b&gt;&amp;&quot;x</title>")
        << QByteArray("href=\"tarnwell://portal/a b&quot;c/\xea\xb2\xbd\xeb\xa1\x9c\"")
        << QByteArray("/a%20b%22c/%EA%B2%BD%EB%A1%9C");
    QTest::newRow("a percent sign and a query mark stay part of the page's path")
        << QStringLiteral("alice") << QStringLiteral("/100%?x") << QByteArray("Signed on as alice")
        << QByteArray("href=\"tarnwell://portal/100%25%3Fx\"") << QByteArray("/100%25%3Fx");
}

void tst_reference_server::a_sign_on_opens_a_session()
{
    QFETCH(QString, user);
    QFETCH(QString, path);
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, link);
    QFETCH(QByteArray, location);
    const quint16 port = start({QStringLiteral("--once")});
    QVERIFY(port != 0);
    const QByteArray page = QUrl::toPercentEncoding(path, "/");

    const fetched portal = fetch(port, page);
    QCOMPARE(portal.status, 200);
    QVERIFY2(portal.body.contains("<title>Portal</title>"), portal.body.constData());
    QVERIFY2(portal.body.contains(link), portal.body.constData());
    QVERIFY(portal.cookie.isEmpty());
    next_output_line();

    const QString param = agent_parameter(user, local_time(), path);
    const fetched signed_on = fetch(port, "/signin/sso?param=" + param.toLatin1());
    QCOMPARE(signed_on.status, 302);
    QCOMPARE(signed_on.location, location);
    const QList<QByteArray> cookie = signed_on.cookie.split(';');
    QVERIFY2(cookie.size() == 6, signed_on.cookie.constData());
    QVERIFY2(QRegularExpression(QStringLiteral("^session=[0-9a-f]{32}$"))
                 .match(QString::fromLatin1(cookie.at(0)))
                 .hasMatch(),
             signed_on.cookie.constData());
    QCOMPARE(signed_on.cookie.mid(cookie.at(0).size()),
             QByteArray("; Max-Age=3600; Path=/; Secure; HttpOnly; SameSite=Lax"));
    QVERIFY(next_output_line().startsWith("sign-on received: "));

    // Without the cookie the page is still the portal; --once waits on.
    QVERIFY(fetch(port, location, true).body.contains("<title>Portal</title>"));
    next_output_line();
    QVERIFY(m_server.state() == QProcess::Running);
    const fetched target = fetch(port, location);
    QCOMPARE(target.status, 200);
    QVERIFY2(target.body.contains(title), target.body.constData());
    QVERIFY(next_output_line().startsWith("signed-on page: "));
    // The page the sign-on led to has been served: --once ends the program.
    QVERIFY(m_server.state() == QProcess::NotRunning || m_server.waitForFinished(10000));
    QCOMPARE(m_server.exitCode(), 0);
}

void tst_reference_server::fields_are_printed_escaped_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QByteArray>("line");
    const QString now = local_time();
    const QByteArray time = "currentTime=\"" + now.toLatin1() + '"';

    QTest::newRow("a line break in the user id cannot start a line of its own")
        << QStringLiteral("eve\nsign-on received: userId=\"admin\"") << QString() << now
        << "sign-on received: userId=\"eve\\nsign-on received: userId=\\\"admin\\\"\" " + time;
    QTest::newRow("a quote in the path cannot close its field")
        << QStringLiteral("eve") << QStringLiteral("/x\" userId=\"admin") << now
        << "sign-on received: userId=\"eve\" " + time + " reqURI=\"/x\\\" userId=\\\"admin\"";
    QTest::newRow("carriage return, tab, DEL and backslash")
        << QStringLiteral("e\rv\te\x7f\\") << QString() << now
        << "sign-on received: userId=\"e\\rv\\te\\x7f\\\\\" " + time;
    QTest::newRow("other control characters and a line separator")
        << QStringLiteral("a\x1b[2Kb") + QChar(0x2028) + QStringLiteral("c") << QString() << now
        << "sign-on received: userId=\"a\\x1b[2Kb\\u2028c\" " + time;
}

void tst_reference_server::fields_are_printed_escaped()
{
    QFETCH(QString, user);
    QFETCH(QString, path);
    QFETCH(QString, time);
    const quint16 port = start({});
    QVERIFY(port != 0);

    const QString param = agent_parameter(user, time, path);
    QCOMPARE(fetch(port, "/signin/sso?param=" + param.toLatin1()).status,
             path.isEmpty() ? 200 : 302);
    QTEST(next_output_line(), "line");
    // Nothing more: the fields made no second line.
    QVERIFY(!m_server.waitForReadyRead(200));
}

void tst_reference_server::stalled_connections_are_closed_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("handshake");
    QTest::newRow("a connection that never starts its handshake") << QByteArray() << false;
    QTest::newRow("a handshake that stops after its first bytes")
        << QByteArray("\x16\x03\x01\x02\x00\x01", 6) << false;
    QTest::newRow("a finished handshake and no request") << QByteArray() << true;
    QTest::newRow("a request head that is never finished")
        << QByteArray("GET /signin/sso?param=x HTTP/1.1\r\n") << true;
}

void tst_reference_server::stalled_connections_are_closed()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, handshake);
    const quint16 port = start({QStringLiteral("--timeout"), QStringLiteral("1")});
    QVERIFY(port != 0);

    QSslSocket client;
    client.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (handshake) {
        client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        QVERIFY(client.waitForEncrypted(10000));
    } else {
        client.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), port);
        QVERIFY(client.waitForConnected(5000));
    }
    // Before a handshake the socket writes the bytes as they are.
    if (!sent.isEmpty()) {
        client.write(sent);
        QVERIFY(client.waitForBytesWritten(5000));
    }
    QElapsedTimer held;
    held.start();
    QVERIFY(client.state() == QAbstractSocket::UnconnectedState ||
            client.waitForDisconnected(10000));
    QVERIFY2(held.elapsed() < 5000, qPrintable(QString::number(held.elapsed())));
    QVERIFY(m_server.state() == QProcess::Running);
}

void tst_reference_server::rules_of_a_real_server_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("age");      // seconds before the server's clock
    QTest::addColumn<QString>("path"); // null: no reqURI
    QTest::addColumn<int>("sent");     // how many times the same parameter is sent
    QTest::addColumn<int>("status");   // of the last answer
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<QByteArray>("says"); // on the page and at the start of the output line
    const QByteArray received = "sign-on received: userId=\"alice\"";
    const QByteArray outside = "sign-on refused (403): currentTime ";

    QTest::newRow("a time stamp six minutes old")
        << QStringList() << 360 << QString() << 1 << 403 << QByteArray() << outside;
    QTest::newRow("a time stamp six minutes ahead")
        << QStringList() << -360 << QString() << 1 << 403 << QByteArray() << outside;
    QTest::newRow("a time stamp four minutes old is inside the default window")
        << QStringList() << 240 << QString() << 1 << 200 << QByteArray() << received;
    QTest::newRow("--window 60 and a time stamp two minutes old")
        << QStringList{"--window", "60"} << 120 << QString() << 1 << 403 << QByteArray() << outside;
    QTest::newRow("the same parameter again")
        << QStringList() << 0 << QStringLiteral("/x") << 2 << 403 << QByteArray()
        << QByteArray("sign-on refused (403): this parameter was already accepted (a replay)");
    QTest::newRow("a path on this server is where it sends the browser")
        << QStringList() << 0 << QStringLiteral("/reports/today") << 1 << 302
        << QByteArray("/reports/today") << received;
    QTest::newRow("a path with a blank, a query mark and a line break stays one encoded path")
        << QStringList() << 0 << QStringLiteral("/a b?c\r\nSet-Cookie: x=1") << 1 << 302
        << QByteArray("/a%20b%3Fc%0D%0ASet-Cookie:%20x=1") << received;
    QTest::newRow("two slashes name another host")
        << QStringList() << 0 << QStringLiteral("//evil.example/x") << 1 << 200 << QByteArray()
        << received;
    QTest::newRow("a slash and a backslash name another host")
        << QStringList() << 0 << QStringLiteral("/\\evil.example/x") << 1 << 200 << QByteArray()
        << received;
    QTest::newRow("an address with a scheme")
        << QStringList() << 0 << QStringLiteral("https://evil.example/") << 1 << 200 << QByteArray()
        << received;
    QTest::newRow("a relative path")
        << QStringList() << 0 << QStringLiteral("reports") << 1 << 200 << QByteArray() << received;
}

void tst_reference_server::rules_of_a_real_server()
{
    QFETCH(QStringList, options);
    QFETCH(int, age);
    QFETCH(QString, path);
    QFETCH(int, sent);
    QFETCH(QByteArray, location);
    QFETCH(QByteArray, says);
    const quint16 port = start(options);
    QVERIFY(port != 0);

    const QString param = agent_parameter("alice", local_time(-age), path);
    fetched answer;
    QByteArray line;
    for (int i = 0; i < sent; ++i) {
        answer = fetch(port, "/signin/sso?param=" + param.toLatin1());
        line = next_output_line();
    }
    QTEST(answer.status, "status");
    QCOMPARE(answer.location, location);
    QVERIFY2(line.startsWith(says), line.constData());
    // The page gives the same reason as the output.
    const QByteArray reason = says.mid(says.indexOf(": ") + 2);
    QVERIFY2(answer.status != 403 || answer.body.contains("<p>" + reason), answer.body.constData());
}

QTEST_GUILESS_MAIN(tst_reference_server)
#include "tst_reference_server.moc"
