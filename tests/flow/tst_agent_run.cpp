#include "captured_messages.h"
#include "fake_desktop.h"
#include "loopback_server.h"
#include "sign_on_reading.h"
#include "xdg_sandbox.h"

#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>
#include <QtTest>

namespace {

const QString banner =
    QStringLiteral("info: ****************** TarnwellV4 Selvane Agent Start ******************");

QString missing_library()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/no-sso/libsuser.so");
}

QString translator_directory()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/translator");
}

// Takes out the translations a run installed, so each row starts untranslated.
void remove_translators()
{
    for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

} // namespace

// A whole start of the agent after its application object: command line, translation and
// sign-on, with the link as the desktop hands it over.
class tst_agent_run : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void link_to_sign_on_data();
    void link_to_sign_on();
    void no_sign_on_without_translation();

private:
    xdg_sandbox m_sandbox;
    loopback_server m_server;
};

void tst_agent_run::initTestCase()
{
    QVERIFY(m_sandbox.is_valid());
    QVERIFY(m_sandbox.add_entry(QStringLiteral("sandbox.desktop"), QStringLiteral("%u")));
    QVERIFY(m_sandbox.set_default(QStringLiteral("https"), QStringLiteral("sandbox.desktop")));
    m_sandbox.apply_to_this_process();
    QVERIFY(m_server.listen());
    QVERIFY(m_server.write_settings());
}

void tst_agent_run::init()
{
    QDir().mkpath(translator_directory());
    const QString beside = translator_directory() + QStringLiteral("/tarnwellv4_selvane_ko.qm");
    QFile::remove(beside);
    QVERIFY(QFile::copy(QStringLiteral(TNW_TEST_TRANSLATION), beside));
    m_server.take_probes();
}

void tst_agent_run::cleanup()
{
    captured_messages::stop();
    remove_translators();
}

void tst_agent_run::link_to_sign_on_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("identified");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("failure_suffix");
    const QString program = QStringLiteral("tarnwell");
    QTest::newRow("no link, identified")
        << QStringList{program} << true << QString() << QByteArray() << QString();
    QTest::newRow("an escaped field in the link cannot add a field")
        << QStringList{program, "tarnwell://portal/x%26userId%3Dadmin"} << true
        << QStringLiteral("/x&userId=admin") << QByteArray("/x%26userId%3Dadmin") << QString();
    QTest::newRow("escaped NUL and line break in the link")
        << QStringList{program, "tarnwell://portal/a%00b%0D%0A"} << true
        << QStringLiteral("/a%1b\r\n").arg(QChar(0)) << QByteArray("/a%00b%0D%0A") << QString();
    QTest::newRow("a whole address in the link, identified")
        << QStringList{program, "TARNWELL:https://evil/x"} << true
        << QStringLiteral("https://evil/x") << QByteArray("https://evil/x") << QString();
    QTest::newRow("no link, not identified")
        << QStringList{program} << false << QString() << QByteArray() << QString();
    QTest::newRow("a page on the server, not identified")
        << QStringList{program, "tarnwell://portal/x%20y?q=1#top"} << false << QString()
        << QByteArray() << QStringLiteral("/x%20y");
    QTest::newRow("a whole address in the link, not identified")
        << QStringList{program, "tarnwell:https://evil/x"} << false << QString() << QByteArray()
        << QString();
    QTest::newRow("a network share in the link, not identified")
        << QStringList{program, "tarnwell:%5C%5Chost%5Cshare"} << false << QString() << QByteArray()
        << QString();
}

void tst_agent_run::link_to_sign_on()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, identified);
    QFETCH(QString, path);
    QFETCH(QByteArray, field);
    QFETCH(QString, failure_suffix);
    fake_desktop desktop;
    if (identified) {
        desktop.account = [](QString& principal) {
            principal = QStringLiteral("alice@EXAMPLE.COM");
            return true;
        };
    }

    const QDateTime started = now_to_the_second();
    captured_messages::start();
    const int exit_code = tnw_run_agent(arguments, desktop.platform(missing_library()));
    captured_messages::stop();

    QCOMPARE(exit_code, identified ? 1 : -1);
    QCOMPARE(m_server.take_probes(), 1);
    const QStringList lines = captured_lines();
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.first(), banner);
    const QString address = desktop.started_address(m_sandbox.recorder_path());
    if (QTest::currentTestFailed())
        return;
    if (!identified) {
        // The box of the flow speaks the installed translation.
        QCOMPARE(desktop.boxes,
                 QStringList{information_box(QStringLiteral("인증"),
                                             QStringLiteral("SSO 인증에 실패했습니다."))});
        QCOMPARE(address, m_server.base_address() + failure_suffix);
        QCOMPARE(lines.last(), QStringLiteral("warning: AD Server not found"));
        return;
    }
    QCOMPARE(desktop.boxes, QStringList());
    sign_on_reading reading;
    read_sign_on_address(address, m_server.base_address(), reading);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(reading.user, QByteArray("alice"));
    check_time_stamp(reading.time, started, QDateTime::currentDateTime());
    QCOMPARE(reading.has_path, !path.isEmpty());
    QCOMPARE(reading.path, field);
    const QByteArray decoded = QByteArray::fromPercentEncoding(reading.path);
    QCOMPARE(QString::fromUtf8(decoded.constData(), decoded.size()), path);
}

void tst_agent_run::no_sign_on_without_translation()
{
    QVERIFY(QDir(translator_directory()).removeRecursively());
    fake_desktop desktop;
    desktop.account = [](QString& principal) {
        principal = QStringLiteral("alice@EXAMPLE.COM");
        return true;
    };

    captured_messages::start();
    const int exit_code =
        tnw_run_agent({QStringLiteral("tarnwell"), QStringLiteral("tarnwell://portal/x")},
                      desktop.platform(missing_library()));
    captured_messages::stop();

    QCOMPARE(exit_code, -1);
    QCOMPARE(desktop.boxes,
             QStringList{information_box(QStringLiteral("Translator"),
                                         QStringLiteral("Translator directory not found."))});
    QCOMPARE(desktop.account_calls, 0);
    QVERIFY(desktop.starts.isEmpty());
    QCOMPARE(m_server.take_probes(), 0);
    QCOMPARE(captured_lines(), QStringList{banner});
}

QTEST_MAIN(tst_agent_run)
#include "tst_agent_run.moc"
