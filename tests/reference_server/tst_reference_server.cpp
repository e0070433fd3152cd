#include "param_cipher.h"
#include "param_codec.h"
#include "signon_parameter.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
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
    void fields_are_printed_escaped_data();
    void fields_are_printed_escaped();
    void stalled_connections_are_closed_data();
    void stalled_connections_are_closed();
    void rules_of_a_real_server_data();
    void rules_of_a_real_server();

private:
    // Starts the program with the arguments given after --port 0 --port-file; its port.
    quint16 start(const QStringList& more);
    fetched fetch(quint16 port, const QByteArray& target);
    // The next line the program writes to its standard output.
    QByteArray next_output_line();

    QTemporaryDir m_dir;
    QProcess m_server;
    QNetworkAccessManager m_network;
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
    QFile::remove(port_file);
    m_server.setProgram(QStringLiteral(TARNWELL_REFERENCE_SERVER));
    m_server.setArguments(QStringList{"--port", "0", "--port-file", port_file} + more);
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

fetched tst_reference_server::fetch(quint16 port, const QByteArray& target)
{
    QNetworkRequest request(
        QUrl::fromEncoded("https://127.0.0.1:" + QByteArray::number(port) + target));
    QNetworkReply* reply = m_network.get(request);
    fetched result;
    // The certificate is made at each start and signed by itself: the test takes it as it is,
    // noting that it was asked to.
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
    QVERIFY(good.tls_errors.contains(QSslError::SelfSignedCertificate));
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

    const fetched other = fetch(port, "/favicon.ico");
    QCOMPARE(other.status, 404);
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
    // A page the server does not have is no sign-on either.
    QCOMPARE(fetch(port, "/").status, 404);
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
