#include "fake_desktop.h"
#include "loopback_server.h"
#include "modal_box.h"
#include "xdg_sandbox.h"

#include "browser/browser_command.h"
#include "browser/run_browser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTranslator>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

namespace {

const QString address = QStringLiteral("https://127.0.0.1:8443/signin/sso?param=Zm9v-_w");

} // namespace

class tst_run_browser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void a_closed_port_stays_closed();
    void unreachable_server_gives_the_connect_box_data();
    void unreachable_server_gives_the_connect_box();
    void probe_connects_and_sends_nothing_data();
    void probe_connects_and_sends_nothing();
    void failed_start_gives_the_run_box();
    void unanswered_connect_waits_5000_ms();
    void system_boxes_show_the_translated_texts_data();
    void system_boxes_show_the_translated_texts();

private:
    xdg_sandbox m_sandbox;
    QTcpServer m_server;
    // Listens on ::1 where the machine has it, for the hosts that would reach it.
    QTcpServer m_server6;
    closed_loopback_port m_closed;
};

void tst_run_browser::initTestCase()
{
    // GIO reads the XDG directories at its first use: nothing in this process has used it yet.
    QVERIFY(m_sandbox.is_valid());
    QVERIFY(
        m_sandbox.add_entry(QStringLiteral("sandbox.desktop"), QStringLiteral("--new-window %u")));
    QVERIFY(m_sandbox.set_default(QStringLiteral("https"), QStringLiteral("sandbox.desktop")));
    m_sandbox.apply_to_this_process();
    const auto command = default_browser_command(address);
    QVERIFY(command.has_value());
    QCOMPARE(command->program, m_sandbox.recorder_path());
    QVERIFY(m_server.listen(QHostAddress::LocalHost));
    m_server6.listen(QHostAddress::LocalHostIPv6);
}

// The closed port of the rows below: another test's listener, started meanwhile, cannot take it.
void tst_run_browser::a_closed_port_stays_closed()
{
    QVERIFY(m_closed.port() != 0);
    QTcpServer other;
    QVERIFY(!other.listen(QHostAddress::LocalHost, m_closed.port()));
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, m_closed.port());
    QVERIFY(!probe.waitForConnected(5000));
    QCOMPARE(probe.error(), QAbstractSocket::ConnectionRefusedError);
}

void tst_run_browser::unreachable_server_gives_the_connect_box_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<quint32>("port");
    const QString loopback = QStringLiteral("127.0.0.1");
    const quint32 listening = m_server.serverPort();
    const quint32 listening6 = m_server6.serverPort();
    QTest::newRow("a closed port") << loopback << quint32{m_closed.port()};
    QTest::newRow("port 0") << loopback << quint32{0};
    QTest::newRow("port 70000") << loopback << quint32{70000};
    QTest::newRow("port 4294967295") << loopback << quint32{4294967295u};
    // Cut to 16 bits, these would reach the listening server.
    QTest::newRow("the listening port plus 65536") << loopback << listening + 65536u;
    QTest::newRow("the listening port plus 65535 times 65536")
        << loopback << listening + 65535u * 65536u;
    // Hosts that a probe would find on a loopback listener while the browser, reading the
    // address, goes elsewhere or nowhere.
    QTest::newRow("a zone that names another host")
        << QStringLiteral("::1%@evil.example/") << listening6;
    QTest::newRow("a zone with a blank") << QStringLiteral("::1%lo x") << listening6;
    QTest::newRow("an empty zone") << QStringLiteral("::1%") << listening6;
    QTest::newRow("a NUL after the address")
        << loopback + QChar(0) + QStringLiteral("@evil.example") << listening;
}

void tst_run_browser::unreachable_server_gives_the_connect_box()
{
    QFETCH(QString, host);
    QFETCH(quint32, port);
    if (host.startsWith(QLatin1String("::1")) && !m_server6.isListening())
        QSKIP("no IPv6 loopback here");
    fake_desktop desktop;
    run_browser(address, host, port, desktop.platform());

    QCOMPARE(desktop.boxes,
             QStringList{warning_box(QStringLiteral("Connect failed"),
                                     QStringLiteral("This is an unopend service."))});
    QVERIFY(desktop.starts.isEmpty());
    QVERIFY(!m_server.waitForNewConnection(0));
    QVERIFY(!m_server6.isListening() || !m_server6.waitForNewConnection(0));
}

void tst_run_browser::probe_connects_and_sends_nothing_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("IPv4 loopback") << QStringLiteral("127.0.0.1");
    QTest::newRow("IPv6 loopback") << QStringLiteral("::1");
    QTest::newRow("IPv6 loopback in brackets") << QStringLiteral("[::1]");
}

void tst_run_browser::probe_connects_and_sends_nothing()
{
    QFETCH(QString, host);
    QTcpServer server;
    const QString bare = QString(host).remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    if (!server.listen(QHostAddress(bare)))
        QSKIP("no such loopback address here");

    fake_desktop desktop;
    QTcpSocket* peer = nullptr;
    desktop.at_start = [&] {
        if (server.waitForNewConnection(5000))
            peer = server.nextPendingConnection();
    };
    run_browser(address, host, server.serverPort(), desktop.platform());

    QVERIFY(desktop.boxes.isEmpty());
    QCOMPARE(desktop.starts.size(), 1);
    QCOMPARE(desktop.starts.at(0).program, m_sandbox.recorder_path());
    QCOMPARE(desktop.starts.at(0).arguments,
             (QStringList{QStringLiteral("--new-window"), address}));
    QVERIFY2(peer != nullptr, "the server saw no connection while the browser was started");
    QVERIFY(peer->waitForDisconnected(5000));
    QCOMPARE(peer->readAll(), QByteArray());
}

void tst_run_browser::failed_start_gives_the_run_box()
{
    fake_desktop desktop;
    desktop.start_succeeds = false;
    QAbstractSocket::SocketState peer_state = QAbstractSocket::UnconnectedState;
    desktop.at_box = [&] {
        QVERIFY(m_server.waitForNewConnection(5000));
        QTcpSocket* peer = m_server.nextPendingConnection();
        peer->waitForReadyRead(0);
        peer_state = peer->state();
        delete peer;
    };
    run_browser(address, QStringLiteral("127.0.0.1"), m_server.serverPort(), desktop.platform());

    QCOMPARE(desktop.starts.size(), 1);
    QCOMPARE(desktop.boxes,
             QStringList{information_box(QStringLiteral("Run Browser"),
                                         QStringLiteral("Do not run Browser failed."))});
    QCOMPARE(peer_state, QAbstractSocket::ConnectedState);
}

void tst_run_browser::unanswered_connect_waits_5000_ms()
{
    // A loopback listener whose accept queue is full drops further connection requests
    // without an answer, as a host that does not reply would.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(listener >= 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&where), length) == 0);
    QVERIFY(::listen(listener, 0) == 0);
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr*>(&where), &length) == 0);
    const quint16 port = ntohs(where.sin_port);
    QTcpSocket filler;
    filler.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(filler.waitForConnected(5000));

    fake_desktop desktop;
    QElapsedTimer waited;
    waited.start();
    run_browser(address, QStringLiteral("127.0.0.1"), port, desktop.platform());
    const qint64 elapsed = waited.elapsed();
    ::close(listener);

    QCOMPARE(desktop.boxes,
             QStringList{warning_box(QStringLiteral("Connect failed"),
                                     QStringLiteral("This is an unopend service."))});
    QVERIFY(desktop.starts.isEmpty());
    // A lower bound only: the wait must not give up early.
    QVERIFY2(elapsed >= 4990, qPrintable(QString::number(elapsed)));
}

void tst_run_browser::system_boxes_show_the_translated_texts_data()
{
    QTest::addColumn<bool>("korean");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("unreachable, untranslated")
        << false << false << QMessageBox::Warning << QStringLiteral("Connect failed")
        << QStringLiteral("This is an unopend service.");
    QTest::newRow("start failed, untranslated")
        << false << true << QMessageBox::Information << QStringLiteral("Run Browser")
        << QStringLiteral("Do not run Browser failed.");
    QTest::newRow("unreachable, Korean")
        << true << false << QMessageBox::Warning << QStringLiteral("연결 실패")
        << QStringLiteral("열려 있지 않은 서비스입니다.");
    QTest::newRow("start failed, Korean")
        << true << true << QMessageBox::Information << QStringLiteral("브라우저 실행")
        << QStringLiteral("브라우저를 실행하지 못했습니다.");
}

void tst_run_browser::system_boxes_show_the_translated_texts()
{
    QFETCH(bool, korean);
    QFETCH(bool, reachable);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QTranslator translator;
    if (korean) {
        QVERIFY(
            translator.load(QStringLiteral(TNW_TEST_TRANSLATION), QString(), QString(), QString()));
        QVERIFY(QCoreApplication::installTranslator(&translator));
    }
    tnw_platform platform = tnw_system_platform();
    platform.start_detached = [](const QString&, const QStringList&) {
        return false;
    };

    modal_box_reading reading;
    close_next_box(reading);
    run_browser(address, QStringLiteral("127.0.0.1"),
                reachable ? m_server.serverPort() : m_closed.port(), platform);
    if (reachable && !m_server.hasPendingConnections())
        QVERIFY(m_server.waitForNewConnection(5000));
    delete m_server.nextPendingConnection();

    QCOMPARE(reading.title, title);
    QCOMPARE(reading.text, text);
    QCOMPARE(reading.icon, icon);
    QCOMPARE(reading.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

QTEST_MAIN(tst_run_browser)
#include "tst_run_browser.moc"
