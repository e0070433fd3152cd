#include "captured_messages.h"
#include "fake_reply.h"
#include "loopback_server.h"
#include "tls_loopback.h"

#include "server/tnw_selvane_auth.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMetaMethod>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTimer>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using error_list = QList<QSslError>;

// What lies at config/server.ini for a settings row.
enum class settings_file
{
    none,
    regular,
    fifo
};
Q_DECLARE_METATYPE(settings_file)

class tst_server : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void settings_data();
    void settings();
    void shipped_sample_is_beside_the_program();

    void get_url_data();
    void get_url();

    void time_out_data();
    void time_out();
    void time_out_without_running_loop();

    void ssl_errors_data();
    void ssl_errors();
    void encrypted_data();
    void encrypted();
    void tls_round_trip_data();
    void tls_round_trip();

    void meta_object_data();
    void meta_object();

private:
    static QString config_dir() { return QCoreApplication::applicationDirPath() + "/config"; }
    static void write_settings(const QByteArray& text);
    static void make_fifo();

    tls_loopback m_server;
    // The TLS configuration of a finished client handshake: it carries the peer's certificate.
    QSslConfiguration m_handshake;
};

void tst_server::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    QSslSocket client;
    client.setPeerVerifyMode(QSslSocket::VerifyNone);
    QSignalSpy encrypted(&client, &QSslSocket::encrypted);
    client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_server.serverPort());
    QVERIFY(encrypted.wait(30000));
    m_handshake = client.sslConfiguration();
    QCOMPARE(m_handshake.peerCertificate(), m_server.certificate());
}

void tst_server::init()
{
    QDir(config_dir()).removeRecursively();
    captured_messages::start();
}

void tst_server::cleanup()
{
    captured_messages::stop();
    QDir(config_dir()).removeRecursively();
}

void tst_server::write_settings(const QByteArray& text)
{
    QVERIFY(QDir().mkpath(config_dir()));
    QVERIFY(write_settings_file(config_dir() + "/server.ini", text));
}

// A read of it blocks until a writer comes, which none does.
void tst_server::make_fifo()
{
#ifdef Q_OS_UNIX
    QVERIFY(QDir().mkpath(config_dir()));
    QCOMPARE(::mkfifo(QFile::encodeName(config_dir() + "/server.ini").constData(), 0600), 0);
#endif
}

void tst_server::settings_data()
{
    QTest::addColumn<settings_file>("file");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<quint32>("port");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QStringList>("lines");

    const QString default_ip = QStringLiteral(TARNWELL_DEFAULT_SERVER_IP);
    const QString default_ip_line = QStringLiteral("IP :  \"%1\"").arg(default_ip);
    const QString default_base = QStringLiteral("https://%1:8443").arg(default_ip);
    const QStringList default_lines{default_ip_line, "Port :  8443", "enable cert verify :  false"};

    QTest::newRow("without a settings file every default applies")
        << settings_file::none << QByteArray() << default_ip << 8443u << false << default_base
        << default_lines;
    QTest::newRow("an empty file gives the defaults")
        << settings_file::regular << QByteArray() << default_ip << 8443u << false << default_base
        << default_lines;
    QTest::newRow("a complete file sets all three values")
        << settings_file::regular
        << QByteArray("[server]\nip=10.20.30.40\nport=9443\n"
                      "enable_certificate_verification=true\n")
        << "10.20.30.40" << 9443u << true << "https://10.20.30.40:9443"
        << QStringList{"IP :  \"10.20.30.40\"", "Port :  9443", "enable cert verify :  true"};
    QTest::newRow("a host name is taken as it stands")
        << settings_file::regular << QByteArray("[server]\nip=sign.example.test\n")
        << "sign.example.test" << 8443u << false << "https://sign.example.test:8443"
        << QStringList{"IP :  \"sign.example.test\"", "Port :  8443",
                       "enable cert verify :  false"};
    QTest::newRow("a port that is not a number reads as 0")
        << settings_file::regular << QByteArray("[server]\nip=10.0.0.1\nport=abc\n") << "10.0.0.1"
        << 0u << false << "https://10.0.0.1:0"
        << QStringList{"IP :  \"10.0.0.1\"", "Port :  0", "enable cert verify :  false"};
    QTest::newRow("port -1 is kept as its unsigned bit pattern")
        << settings_file::regular << QByteArray("[server]\nip=10.0.0.1\nport=-1\n") << "10.0.0.1"
        << 4294967295u << false << "https://10.0.0.1:4294967295"
        << QStringList{"IP :  \"10.0.0.1\"", "Port :  4294967295", "enable cert verify :  false"};
    QTest::newRow("a port above 65535 is kept unchanged")
        << settings_file::regular << QByteArray("[server]\nip=10.0.0.1\nport=70000\n") << "10.0.0.1"
        << 70000u << false << "https://10.0.0.1:70000"
        << QStringList{"IP :  \"10.0.0.1\"", "Port :  70000", "enable cert verify :  false"};
    QTest::newRow("a port whose number needs more than 32 bits reads as 0")
        << settings_file::regular << QByteArray("[server]\nip=10.0.0.1\nport=4295002961\n")
        << "10.0.0.1" << 0u << false << "https://10.0.0.1:0"
        << QStringList{"IP :  \"10.0.0.1\"", "Port :  0", "enable cert verify :  false"};
    QTest::newRow("a quoted port is read as a number")
        << settings_file::regular << QByteArray("[server]\nport=\"9000\"\n") << default_ip << 9000u
        << false << QStringLiteral("https://%1:9000").arg(default_ip)
        << QStringList{default_ip_line, "Port :  9000", "enable cert verify :  false"};
    for (const char* text : {"True", "TRUE", "1", "yes", ""}) {
        QTest::addRow("verification \"%s\" is not the exact text true", text)
            << settings_file::regular
            << QByteArray("[server]\nenable_certificate_verification=") + text + "\n"
            << default_ip << 8443u << false << default_base << default_lines;
    }
    QTest::newRow("an empty ip gives an empty host")
        << settings_file::regular << QByteArray("[server]\nip=\n") << "" << 8443u << false
        << "https://:8443"
        << QStringList{"IP :  \"\"", "Port :  8443", "enable cert verify :  false"};
    QTest::newRow("keys above any section are not server keys")
        << settings_file::regular
        << QByteArray("ip=10.9.9.9\nport=1234\nenable_certificate_verification=true\n[server]\n")
        << default_ip << 8443u << false << default_base << default_lines;
    QTest::newRow("keys of another section are not server keys")
        << settings_file::regular
        << QByteArray("[proxy]\nip=10.9.9.9\nport=1234\nenable_certificate_verification=true\n")
        << default_ip << 8443u << false << default_base << default_lines;
#ifdef Q_OS_UNIX
    QTest::newRow("a FIFO in place of the file gives the defaults")
        << settings_file::fifo << QByteArray() << default_ip << 8443u << false << default_base
        << default_lines;
#endif
#ifdef Q_OS_WIN
    // Qt reads INI keys without regard to case on Windows, as the system's own INI calls do.
    QTest::newRow("key names match in any case")
        << settings_file::regular << QByteArray("[server]\nIP=10.9.9.9\nPort=1234\n") << "10.9.9.9"
        << 1234u << false << "https://10.9.9.9:1234"
        << QStringList{"IP :  \"10.9.9.9\"", "Port :  1234", "enable cert verify :  false"};
#else
    QTest::newRow("key names are case-sensitive")
        << settings_file::regular << QByteArray("[server]\nIP=10.9.9.9\nPort=1234\n") << default_ip
        << 8443u << false << default_base << default_lines;
#endif
}

void tst_server::settings()
{
    QFETCH(settings_file, file);
    QFETCH(QByteArray, ini);
    if (file == settings_file::regular)
        write_settings(ini);
    if (file == settings_file::fifo)
        make_fifo();

    tnw_selvane_auth auth;
    QVERIFY(auth.load_server_config());

    QTEST(auth.m_server_ip, "ip");
    QTEST(auth.get_server_ip(), "ip");
    QTEST(auth.m_server_port, "port");
    QTEST(auth.m_enable_cert_verify, "verify");
    QTEST(auth.get_url(QString()), "base");
    QTEST(captured_messages::texts(QtInfoMsg), "lines");
    for (const captured_message& m : captured_messages::messages()) {
        QVERIFY2(m.file.isEmpty() && m.line == 0 && m.function.isEmpty(), qPrintable(m.text));
    }
}

void tst_server::shipped_sample_is_beside_the_program()
{
    QFile sample(QStringLiteral(TNW_SAMPLE_SETTINGS));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray text = sample.readAll();

    QFile built(QStringLiteral(TNW_BUILT_CONFIG_DIR "/server.ini.sample"));
    QVERIFY(built.open(QIODevice::ReadOnly));
    QCOMPARE(built.readAll(), text);
    QVERIFY(QFile::exists(QStringLiteral(TNW_BUILT_CONFIG_DIR "/server.ini")));

    // The comments must not hide or spoil a key.
    write_settings(text);
    tnw_selvane_auth auth;
    auth.load_server_config();
    QCOMPARE(auth.get_url(QString()), QStringLiteral("https://127.0.0.1:8443"));
    QCOMPARE(auth.m_enable_cert_verify, false);
}

void tst_server::get_url_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<quint32>("port");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("an empty text gives the base address without a trailing slash")
        << "10.0.0.5" << 8443u << ""
        << "https://10.0.0.5:8443";
    QTest::newRow("a null text gives the base address")
        << "10.0.0.5" << 8443u << QString() << "https://10.0.0.5:8443";
    QTest::newRow("the scheme of a link becomes https")
        << "10.0.0.5" << 8443u << "tarnwell://host/page?x=1"
        << "https://host/page?x=1";
    QTest::newRow("the scheme is matched in any case") << "10.0.0.5" << 8443u << "TarnWell://host/"
                                                       << "https://host/";
    QTest::newRow("every occurrence is replaced, in the path as well")
        << "10.0.0.5" << 8443u << "tarnwell://host/tarnwell/a?b=TARNWELL"
        << "https://host/https/a?b=https";
    QTest::newRow("a bare path comes back unchanged, without the server")
        << "10.0.0.5" << 8443u << "/page"
        << "/page";
    QTest::newRow("port 0 ends the base address in a colon and 0") << "10.0.0.5" << 0u << ""
                                                                   << "https://10.0.0.5:0";
    QTest::newRow("the highest port is written unsigned") << "10.0.0.5" << 4294967295u << ""
                                                          << "https://10.0.0.5:4294967295";
    QTest::newRow("an IPv6 address is written in brackets") << "::1" << 8443u << ""
                                                            << "https://[::1]:8443";
    QTest::newRow("an IPv6 address given in brackets keeps one pair")
        << "[fe80::a:b]" << 8443u << ""
        << "https://[fe80::a:b]:8443";
    QTest::newRow("an IPv6 zone holding %2 stays intact, its % escaped")
        << "fe80::1%2" << 8443u << ""
        << "https://[fe80::1%252]:8443";
    QTest::newRow("an IPv4-mapped IPv6 address is an IPv6 address")
        << "::ffff:10.0.0.5" << 8443u << ""
        << "https://[::ffff:10.0.0.5]:8443";
    QTest::newRow("an address holding %1 stays intact") << "host%1" << 443u << ""
                                                        << "https://host%1:443";
}

void tst_server::get_url()
{
    QFETCH(QString, ip);
    QFETCH(quint32, port);
    QFETCH(QString, text);

    tnw_selvane_auth auth;
    auth.m_server_ip = ip;
    auth.m_server_port = port;
    const QString before = text;
    QTEST(auth.get_url(text), "expected");
    QCOMPARE(text, before);
}

void tst_server::time_out_data()
{
    QTest::addColumn<bool>("through_timer");
    QTest::newRow("the loaded timer's time-out ends exec() with -1") << true;
    QTest::newRow("a call of the slot from the loop ends exec() with -1") << false;
}

void tst_server::time_out()
{
    QFETCH(bool, through_timer);
    tnw_selvane_auth auth;
    auth.load_server_config();
    if (through_timer) {
        auth.m_time_out_timer.start(0);
    } else {
        auth.m_time_out_timer.start(3600 * 1000);
        QTimer::singleShot(0, &auth, SLOT(st_time_out()));
    }
    // A loop that the slot failed to end would be ended by this guard, with another code.
    QTimer::singleShot(30000, &auth, [&auth] { auth.exit(7); });
    QCOMPARE(auth.exec(), -1);
    QVERIFY(!auth.m_time_out_timer.isActive());
}

void tst_server::time_out_without_running_loop()
{
    tnw_selvane_auth auth;
    auth.m_time_out_timer.start(3600 * 1000);
    auth.st_time_out();
    QVERIFY(!auth.m_time_out_timer.isActive());
    QVERIFY(!auth.isRunning());
}

void tst_server::ssl_errors_data()
{
    QTest::addColumn<bool>("from_reply");
    QTest::addColumn<error_list>("errors");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("ignored");

    const error_list two{QSslError(QSslError::SelfSignedCertificate),
                         QSslError(QSslError::HostNameMismatch)};
    const QStringList two_lines{
        "\"The certificate is self-signed, and untrusted\"",
        "\"The host name did not match any of the valid hosts for this certificate\""};

    QTest::newRow("an empty list logs nothing and is still ignored on the reply")
        << true << error_list() << QStringList() << true;
    QTest::newRow("each error is logged in order and the whole list ignored")
        << true << two << two_lines << true;
    QTest::newRow("from a sender that is no reply the errors are only logged")
        << false << two << two_lines << false;
}

void tst_server::ssl_errors()
{
    QFETCH(bool, from_reply);
    QFETCH(error_list, errors);

    tnw_selvane_auth auth;
    fake_reply reply{QSslConfiguration()};
    QSslSocket socket;
    QObject* sender = from_reply ? static_cast<QObject*>(&reply) : &socket;
    QVERIFY(connect(sender, SIGNAL(sslErrors(QList<QSslError>)), &auth,
                    SLOT(st_ssl_errors(QList<QSslError>))));
    if (from_reply)
        emit reply.sslErrors(errors);
    else
        emit socket.sslErrors(errors);

    QTEST(captured_messages::texts(QtDebugMsg), "lines");
    QFETCH(bool, ignored);
    QCOMPARE(reply.ignored_lists, ignored ? QList<error_list>{errors} : QList<error_list>());
    QCOMPARE(reply.ignore_all_calls, 0);
}

void tst_server::encrypted_data()
{
    QTest::addColumn<bool>("with_certificate");
    QTest::addColumn<bool>("through_signal");
    QTest::addColumn<int>("ignore_all_calls");

    QTest::newRow("a reply without a peer certificate has its errors ignored")
        << false << true << 1;
    QTest::newRow("a reply whose peer showed a certificate is left alone") << true << true << 0;
    QTest::newRow("a direct call without a sender ignores as well") << false << false << 1;
}

void tst_server::encrypted()
{
    QFETCH(bool, with_certificate);
    QFETCH(bool, through_signal);

    tnw_selvane_auth auth;
    QNetworkAccessManager manager;
    fake_reply reply(with_certificate ? m_handshake : QSslConfiguration(), &manager);
    if (through_signal) {
        QVERIFY(connect(&manager, SIGNAL(encrypted(QNetworkReply*)), &auth,
                        SLOT(st_encrypted(QNetworkReply*))));
        emit manager.encrypted(&reply);
    } else {
        auth.st_encrypted(&reply);
    }

    QTEST(reply.ignore_all_calls, "ignore_all_calls");
    QVERIFY(reply.ignored_lists.isEmpty());
    // The sender is quiet while the slot runs, and speaks again afterwards.
    QCOMPARE(reply.watched_blocked_when_ignoring, through_signal && reply.ignore_all_calls > 0);
    QVERIFY(!manager.signalsBlocked());
    QVERIFY(captured_messages::messages().isEmpty());
}

void tst_server::tls_round_trip_data()
{
    QTest::addColumn<bool>("errors_slot_connected");
    QTest::addColumn<int>("error");
    QTest::newRow("with st_ssl_errors the self-signed server answers")
        << true << int(QNetworkReply::NoError);
    QTest::newRow("without it the handshake is refused")
        << false << int(QNetworkReply::SslHandshakeFailedError);
}

void tst_server::tls_round_trip()
{
    QFETCH(bool, errors_slot_connected);

    tnw_selvane_auth auth;
    QNetworkAccessManager manager;
    QVERIFY(connect(&manager, SIGNAL(encrypted(QNetworkReply*)), &auth,
                    SLOT(st_encrypted(QNetworkReply*))));
    QUrl url(QStringLiteral("https://127.0.0.1/"));
    url.setPort(m_server.serverPort());
    QNetworkReply* reply = manager.get(QNetworkRequest(url));
    if (errors_slot_connected) {
        QVERIFY(connect(reply, SIGNAL(sslErrors(QList<QSslError>)), &auth,
                        SLOT(st_ssl_errors(QList<QSslError>))));
    }
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QVERIFY(finished.wait(30000));

    QTEST(int(reply->error()), "error");
    if (errors_slot_connected) {
        QCOMPARE(reply->readAll(), QByteArray("ok"));
        QVERIFY(captured_messages::texts(QtDebugMsg)
                    .contains("\"The certificate is self-signed, and untrusted\""));
    }
    delete reply;
}

void tst_server::meta_object_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QList<QByteArray>>("names");
    QTest::addColumn<QByteArray>("registered");

    QTest::newRow("slot 0 takes the error list, registered on first query")
        << 0 << QByteArray("st_ssl_errors(QList<QSslError>)") << QList<QByteArray>{"e"}
        << QByteArray("QList<QSslError>");
    QTest::newRow("slot 1 takes the reply, nothing registered for it")
        << 1 << QByteArray("st_encrypted(QNetworkReply*)") << QList<QByteArray>{"rep_ptr"}
        << QByteArray();
    QTest::newRow("slot 2 takes nothing")
        << 2 << QByteArray("st_time_out()") << QList<QByteArray>() << QByteArray();
}

void tst_server::meta_object()
{
    QFETCH(int, index);
    const QMetaObject& meta = tnw_selvane_auth::staticMetaObject;
    QCOMPARE(meta.className(), "tnw_selvane_auth");
    QCOMPARE(meta.superClass(), &QEventLoop::staticMetaObject);
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 3);

    const QMetaMethod method = meta.method(meta.methodOffset() + index);
    QCOMPARE(method.methodType(), QMetaMethod::Slot);
    QCOMPARE(method.access(), QMetaMethod::Public);
    QTEST(method.methodSignature(), "signature");
    QTEST(method.parameterNames(), "names");

    // The question queued connections ask for the type of an argument, asked twice.
    QFETCH(QByteArray, registered);
    for (int round = 0; round < 2; ++round) {
        int type = 0;
        int argument = 0;
        void* args[] = {&type, &argument};
        meta.static_metacall(QMetaObject::RegisterMethodArgumentMetaType, index, args);
        if (registered.isEmpty()) {
            QCOMPARE(type, -1);
        } else {
            QCOMPARE(QByteArray(QMetaType::typeName(type)), registered);
            QCOMPARE(QMetaType::type(registered), type);
        }
    }
}

QTEST_GUILESS_MAIN(tst_server)
#include "tst_server.moc"
