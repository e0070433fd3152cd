#include "agent_runner.h"
#include "agent_sandbox.h"
#include "fake_sso_env.h"
#include "loopback_server.h"
#include "signon_parameter_reader.h"
#include "time_stamp.h"
#include "tnw_test_sso_paths.h"
#include "virtual_display.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>

#include <unistd.h>

namespace {

// The translation is installed before the sign-on flow shows anything, so its boxes carry the
// Korean titles; the translator's own box comes before it and stays untranslated.
const QString auth_title = QStringLiteral("인증");         // "auth"
const QString connect_title = QStringLiteral("연결 실패"); // "Connect failed"
const QString translator_title = QStringLiteral("Translator");

const QString banner =
    QStringLiteral("****************** TarnwellV4 Selvane Agent Start ******************");
const QString page_link = QStringLiteral("tarnwell://server/reports/today");
const QByteArray principal = "alice@EXAMPLE.COM";

// Whether the log has a line of the level whose message is exactly message.
bool logged(const QString& log, const char* level, const QString& message)
{
    const QString tag = QStringLiteral("[%1]").arg(QLatin1String(level));
    const QStringList lines = log.split(QLatin1Char('\n'));
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QString& line) {
        return line.contains(tag) && line.endsWith(QLatin1Char('\t') + message);
    });
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The folders of a path that do not exist yet are made, and removed again on destruction when
// still empty: a mount point for the fixed SSO library folder must exist.
class made_folders
{
public:
    explicit made_folders(const QString& path)
    {
        QStringList missing;
        for (QDir dir(path); !dir.exists(); dir.setPath(QFileInfo(dir.path()).path()))
            missing.prepend(dir.path());
        for (const QString& folder : missing) {
            if (!QDir().mkdir(folder))
                return;
            m_made.prepend(folder);
        }
        m_ok = true;
    }
    ~made_folders()
    {
        for (const QString& folder : m_made)
            QDir().rmdir(folder);
    }
    made_folders(const made_folders&) = delete;
    made_folders& operator=(const made_folders&) = delete;
    bool ok() const { return m_ok; }

private:
    QStringList m_made;
    bool m_ok = false;
};

// The sandbox made, its settings naming the server at port, its cache naming principal.
bool ready_to_sign_on(agent_sandbox& sandbox, quint16 port)
{
    return sandbox.is_valid() && sandbox.set_server_port(port) &&
           sandbox.write_credential_cache(principal);
}

bool private_mounts_work()
{
    QProcess probe;
    probe.start(QStringLiteral("unshare"),
                {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                 QStringLiteral("private"), QStringLiteral("true")});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

// Ended by itself, with no sanitizer report on its way out.
bool ended_cleanly(const agent_outcome& outcome)
{
    return outcome.ended && !outcome.errors.contains(QLatin1String("Sanitizer")) &&
           !outcome.errors.contains(QLatin1String("runtime error"));
}

} // namespace

Q_DECLARE_METATYPE(translation_state)

class tst_e2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void a_credential_cache_signs_on_data();
    void a_credential_cache_signs_on();
    void the_sso_library_is_asked_first_data();
    void the_sso_library_is_asked_first();
    void without_identity_the_browser_gets_a_plain_address_data();
    void without_identity_the_browser_gets_a_plain_address();
    void without_translation_nothing_else_happens_data();
    void without_translation_nothing_else_happens();
    void an_unreachable_server_gets_no_browser();
    void a_browser_wrapper_runs_nothing_from_the_current_folder();
    void built_programs_load_nothing_from_the_current_folder_data();
    void built_programs_load_nothing_from_the_current_folder();

private:
    agent_outcome run(const agent_sandbox& sandbox, const QStringList& arguments);
    // The connections the listener has been given since init(); each is closed.
    int connections();
    QString base_address() const;
    void skip_if_sso_library_installed();
    // The one browser start of a sign-on, its parameter decrypted; checks the log too.
    void check_signed_on(const agent_sandbox& sandbox, const QString& user,
                         const QStringList& request_fields, const QDateTime& before);
    void check_no_browser_start(const agent_sandbox& sandbox);

    virtual_display m_display;
    QTcpServer m_server;
    closed_loopback_port m_closed;
};

void tst_e2e::initTestCase()
{
    QString error;
    QVERIFY2(m_display.start(error), qPrintable(error));
    agent_sandbox sandbox;
    QVERIFY(sandbox.is_valid());
    // The copy must load the library beside it, not the one in the build tree.
    QProcess ldd;
    ldd.setProcessEnvironment(sandbox.environment(m_display.name()));
    ldd.start(QStringLiteral("ldd"), {sandbox.program()});
    QVERIFY(ldd.waitForFinished(10000));
    const QString loaded = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    QVERIFY2(loaded.contains(QStringLiteral("=> ") + sandbox.path(QStringLiteral("app/"))),
             qPrintable(loaded));
}

void tst_e2e::cleanupTestCase()
{
    m_display.stop();
}

void tst_e2e::init()
{
    m_server.close();
    QVERIFY(m_server.listen(QHostAddress::LocalHost));
}

agent_outcome tst_e2e::run(const agent_sandbox& sandbox, const QStringList& arguments)
{
    return run_agent(m_display, sandbox.program(), arguments,
                     sandbox.environment(m_display.name()));
}

int tst_e2e::connections()
{
    // The agent has ended: any connection it made is already waiting to be accepted.
    int count = 0;
    while (m_server.waitForNewConnection(0)) {
        delete m_server.nextPendingConnection();
        ++count;
    }
    return count;
}

QString tst_e2e::base_address() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(m_server.serverPort());
}

void tst_e2e::skip_if_sso_library_installed()
{
    if (QFileInfo::exists(QStringLiteral(TNW_E2E_SSO_LIBRARY)))
        QSKIP("an SSO client library is installed at " TNW_E2E_SSO_LIBRARY
              "; the agent would ask it instead of the credential cache");
}

void tst_e2e::check_signed_on(const agent_sandbox& sandbox, const QString& user,
                              const QStringList& request_fields, const QDateTime& before)
{
    QTRY_COMPARE_WITH_TIMEOUT(sandbox.browser_starts().size(), 1, 10000);
    const QDateTime after = QDateTime::currentDateTime();
    const QStringList browser = sandbox.browser_starts().first();
    QCOMPARE(browser.size(), 1);
    const QString address = browser.first();
    const QRegularExpression signon(QRegularExpression::escape(base_address()) +
                                    QStringLiteral("/signin/sso\\?param=(.*)"));
    const QRegularExpressionMatch match = signon.match(address);
    QVERIFY2(match.hasMatch() && match.capturedStart() == 0 &&
                 match.capturedEnd() == address.size(),
             qPrintable(address));

    QStringList fields;
    QString error;
    QVERIFY2(read_signon_parameter(match.captured(1), fields, error), qPrintable(error));
    QCOMPARE(fields.size(), 2 + request_fields.size());
    QCOMPARE(fields.at(0), QStringLiteral("userId=") + user);
    QVERIFY2(fields.at(1).startsWith(QStringLiteral("currentTime=")), qPrintable(fields.at(1)));
    check_time_stamp(fields.at(1).mid(12).toLatin1(), before, after);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(fields.mid(2), request_fields);

    const QString log = sandbox.log_text();
    QVERIFY(logged(log, "INFO", banner));
    QVERIFY(logged(log, "INFO", QStringLiteral("IP :  \"127.0.0.1\"")));
    QVERIFY(logged(log, "INFO", QStringLiteral("Port :  %1").arg(m_server.serverPort())));
    QVERIFY(logged(log, "INFO", QStringLiteral("full path :  ") + quoted(address)));
    QCOMPARE(sandbox.log_file_names().size(), 1);
    const QString log_name = sandbox.log_file_names().first();
    const QString suffix = QStringLiteral("_tarnwell.log");
    QVERIFY2(log_name == before.date().toString(Qt::ISODate) + suffix ||
                 log_name == after.date().toString(Qt::ISODate) + suffix,
             qPrintable(log_name));
}

void tst_e2e::check_no_browser_start(const agent_sandbox& sandbox)
{
    // A detached start has reached the recorder's exec before the agent ends; the recorder
    // then needs only a moment to write. There is nothing to wait for when none came.
    QTest::qWait(300);
    QCOMPARE(sandbox.browser_starts().size(), 0);
}

void tst_e2e::a_credential_cache_signs_on_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("request_fields");
    QTest::addColumn<QString>("locale"); // empty: the sandbox's C.UTF-8

    QTest::newRow("a link names the page")
        << QStringList{page_link} << QStringList{QStringLiteral("reqURI=/reports/today")}
        << QString();
    QTest::newRow("no link: the parameter ends after the time")
        << QStringList() << QStringList() << QString();
    QTest::newRow("a path that spells a field stays inside its own")
        << QStringList{QStringLiteral("tarnwell://server/x%26userId%3Dadmin")}
        << QStringList{QStringLiteral("reqURI=/x%26userId%3Dadmin")} << QString();
    QTest::newRow("a locale with digits of its own: the time still in ASCII digits")
        << QStringList{page_link} << QStringList{QStringLiteral("reqURI=/reports/today")}
        << QStringLiteral("ar_EG.UTF-8");
    // A link that holds a quote reaches a handler that does not escape it as several arguments.
    QTest::newRow("Qt's own options after the link are only ignored arguments")
        << QStringList{page_link,
                       QStringLiteral("-platform"),
                       QStringLiteral("bogus"),
                       QStringLiteral("-platformpluginpath"),
                       QStringLiteral("/nonexistent"),
                       QStringLiteral("-stylesheet"),
                       QStringLiteral("/nonexistent/style.qss"),
                       QStringLiteral("-style"),
                       QStringLiteral("bogus")}
        << QStringList{QStringLiteral("reqURI=/reports/today")} << QString();
}

void tst_e2e::a_credential_cache_signs_on()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, request_fields);
    QFETCH(QString, locale);
    skip_if_sso_library_installed();
    agent_sandbox sandbox;
    QVERIFY(ready_to_sign_on(sandbox, m_server.serverPort()));
    QProcessEnvironment environment = sandbox.environment(m_display.name());
    if (!locale.isEmpty()) {
        // Qt takes the locale's digits from its own data: the C library need not know it.
        environment.insert(QStringLiteral("LANG"), locale);
        environment.insert(QStringLiteral("LC_ALL"), locale);
    }

    const QDateTime before = now_to_the_second();
    const agent_outcome outcome = run_agent(m_display, sandbox.program(), arguments, environment);
    QVERIFY2(ended_cleanly(outcome), qPrintable(outcome.errors));
    QCOMPARE(outcome.exit_code, 1);
    QCOMPARE(outcome.box_titles, QStringList());
    QCOMPARE(connections(), 1);
    check_signed_on(sandbox, QStringLiteral("alice"), request_fields, before);
    QVERIFY(logged(sandbox.log_text(), "INFO", quoted(QString::fromLatin1(principal))));
}

void tst_e2e::the_sso_library_is_asked_first_data()
{
    QTest::addColumn<QByteArray>("running");
    QTest::addColumn<int>("exit_code");
    QTest::addColumn<QStringList>("box_titles");
    QTest::addColumn<QByteArray>("log_level");
    QTest::addColumn<QString>("log_line");

    QTest::newRow("a running SSO agent names the user")
        << QByteArray("3") << 1 << QStringList() << QByteArray("INFO")
        << QStringLiteral("sso.user");
    QTest::newRow("an SSO agent not running ends it; the cache is not asked")
        << QByteArray("0") << 255 << QStringList{auth_title} << QByteArray("WARNING")
        << QStringLiteral("SSO Agent Not Running");
}

void tst_e2e::the_sso_library_is_asked_first()
{
    QFETCH(QByteArray, running);
    QFETCH(int, exit_code);
    QFETCH(QStringList, box_titles);
    QFETCH(QByteArray, log_level);
    QFETCH(QString, log_line);
    // The library path is fixed at build time; a private mount shows the test library there to
    // the one agent process.
    if (geteuid() != 0 || !private_mounts_work())
        QSKIP("showing the test SSO library at the agent's fixed path needs root");
    skip_if_sso_library_installed();
    const QFileInfo fixed(QStringLiteral(TNW_E2E_SSO_LIBRARY));
    const made_folders mount_point(fixed.path());
    QVERIFY(mount_point.ok());

    agent_sandbox sandbox;
    QVERIFY(ready_to_sign_on(sandbox, m_server.serverPort()));
    const QString shown = sandbox.path(QStringLiteral("sso"));
    QVERIFY(QDir().mkpath(shown));
    QVERIFY(QFile::copy(QStringLiteral(TNW_TEST_SSO_LIBRARY),
                        shown + QLatin1Char('/') + fixed.fileName()));

    QProcessEnvironment environment = sandbox.environment(m_display.name());
    environment.insert(QStringLiteral(TNW_FAKE_SSO_RUNNING), QString::fromLatin1(running));
    environment.insert(QStringLiteral(TNW_FAKE_SSO_RESULT), QStringLiteral("0"));
    environment.insert(QStringLiteral(TNW_FAKE_SSO_USER), QStringLiteral("sso.user"));
    const QDateTime before = now_to_the_second();
    const agent_outcome outcome =
        run_agent(m_display, QStringLiteral("unshare"),
                  {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                   QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"),
                   QStringLiteral("mount --bind \"$1\" \"$2\" && shift 2 && exec \"$@\""),
                   QStringLiteral("tst_e2e"), shown, fixed.path(), sandbox.program(), page_link},
                  environment);
    QVERIFY2(ended_cleanly(outcome), qPrintable(outcome.errors));
    QCOMPARE(outcome.exit_code, exit_code);
    QCOMPARE(outcome.box_titles, box_titles);
    QCOMPARE(connections(), 1);
    const QString log = sandbox.log_text();
    QVERIFY2(logged(log, log_level.constData(), log_line), qPrintable(log));
    QVERIFY(!log.contains(QString::fromLatin1(principal)));
    if (exit_code == 1) {
        check_signed_on(sandbox, QStringLiteral("sso.user"),
                        {QStringLiteral("reqURI=/reports/today")}, before);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(sandbox.browser_starts().size(), 1, 10000);
        QCOMPARE(sandbox.browser_starts().first(),
                 QStringList{base_address() + QStringLiteral("/reports/today")});
    }
}

void tst_e2e::without_identity_the_browser_gets_a_plain_address_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("path");

    QTest::newRow("a link: the base address and the link's page")
        << QStringList{page_link} << QStringLiteral("/reports/today");
    QTest::newRow("no link: the base address") << QStringList() << QString();
    QTest::newRow("a link without an absolute path: the base address alone")
        << QStringList{QStringLiteral("tarnwell:%5C%5Chost%5Cshare")} << QString();
}

void tst_e2e::without_identity_the_browser_gets_a_plain_address()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, path);
    skip_if_sso_library_installed();
    agent_sandbox sandbox; // no credential cache
    QVERIFY(sandbox.is_valid());
    QVERIFY(sandbox.set_server_port(m_server.serverPort()));

    const agent_outcome outcome = run(sandbox, arguments);
    QVERIFY2(ended_cleanly(outcome), qPrintable(outcome.errors));
    QCOMPARE(outcome.exit_code, 255);
    QCOMPARE(outcome.box_titles, QStringList{auth_title});
    QCOMPARE(connections(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(sandbox.browser_starts().size(), 1, 10000);
    QCOMPARE(sandbox.browser_starts().first(), QStringList{base_address() + path});
    const QString log = sandbox.log_text();
    QVERIFY(logged(log, "INFO", banner));
    QVERIFY(logged(log, "WARNING", QStringLiteral("AD Server not found")));
    QVERIFY(!log.contains(QStringLiteral("full path")));
}

void tst_e2e::without_translation_nothing_else_happens_data()
{
    QTest::addColumn<translation_state>("translation");

    QTest::newRow("no translator folder") << translation_state::no_folder;
    QTest::newRow("a translator folder without the file") << translation_state::folder_without_file;
    QTest::newRow("a translation file that is none") << translation_state::damaged_file;
}

void tst_e2e::without_translation_nothing_else_happens()
{
    QFETCH(translation_state, translation);
    agent_sandbox sandbox(translation);
    QVERIFY(ready_to_sign_on(sandbox, m_server.serverPort()));

    const agent_outcome outcome = run(sandbox, {page_link});
    QVERIFY2(ended_cleanly(outcome), qPrintable(outcome.errors));
    QCOMPARE(outcome.exit_code, 255);
    QCOMPARE(outcome.box_titles, QStringList{translator_title});
    const QString log = sandbox.log_text();
    QVERIFY2(logged(log, "INFO", banner), qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("IP : ")), qPrintable(log));
    QCOMPARE(connections(), 0);
    check_no_browser_start(sandbox);
}

void tst_e2e::an_unreachable_server_gets_no_browser()
{
    skip_if_sso_library_installed();
    m_server.close();
    const quint16 port = m_closed.port();

    agent_sandbox sandbox;
    QVERIFY(ready_to_sign_on(sandbox, port));
    const agent_outcome outcome = run(sandbox, {page_link});
    QVERIFY2(ended_cleanly(outcome), qPrintable(outcome.errors));
    QCOMPARE(outcome.exit_code, 1);
    QCOMPARE(outcome.box_titles, QStringList{connect_title});
    const QString log = sandbox.log_text();
    QVERIFY2(log.contains(
                 QStringLiteral("full path :  \"https://127.0.0.1:%1/signin/sso?param=").arg(port)),
             qPrintable(log));
    check_no_browser_start(sandbox);
}

void tst_e2e::a_browser_wrapper_runs_nothing_from_the_current_folder()
{
    // With only an http handler the agent starts the program of its Exec line with the address:
    // a wrapper such as env then runs the address as a program, a relative path.
    skip_if_sso_library_installed();
    agent_sandbox sandbox(translation_state::installed,
                          browser_handlers::http_only_through_wrapper);
    QVERIFY(sandbox.is_valid());
    QVERIFY(sandbox.set_server_port(m_server.serverPort())); // no credential cache
    const QString relative =
        QStringLiteral("https:/127.0.0.1:%1/reports/today").arg(m_server.serverPort());
    const auto plant = [&sandbox, &relative](const QString& folder, const QString& mark) {
        const QString file = sandbox.path(folder + QLatin1Char('/') + relative);
        QFile script(file);
        return QDir().mkpath(QFileInfo(file).path()) && script.open(QIODevice::WriteOnly) &&
               script.write(
                   QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(sandbox.path(mark)).toUtf8()) >
                   0 &&
               script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    // Where another user could have put it, and in the user's home folder, which only shows
    // that the browser's command ran.
    QVERIFY(plant(QStringLiteral("current"), QStringLiteral("ran-in-current-folder")));
    QVERIFY(plant(QStringLiteral("home"), QStringLiteral("ran-in-home")));

    const agent_outcome outcome =
        run_agent(m_display, sandbox.program(), {page_link}, sandbox.environment(m_display.name()),
                  sandbox.path(QStringLiteral("current")));
    QVERIFY2(ended_cleanly(outcome), qPrintable(outcome.errors));
    QCOMPARE(outcome.exit_code, 255);
    QCOMPARE(outcome.box_titles, QStringList{auth_title});
    QCOMPARE(connections(), 1);
    const QString in_current_folder = sandbox.path(QStringLiteral("ran-in-current-folder"));
    const QString in_home = sandbox.path(QStringLiteral("ran-in-home"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(in_current_folder) || QFileInfo::exists(in_home),
                             10000);
    QVERIFY2(!QFileInfo::exists(in_current_folder), "a file in the current folder ran");
    QVERIFY(QFileInfo::exists(in_home));
}

void tst_e2e::built_programs_load_nothing_from_the_current_folder_data()
{
    // The loader reads an empty run-path entry as the current folder, and a relative one from
    // it: a library another user left there would load into the program.
    QTest::addColumn<QString>("file");
    const QDir built = QFileInfo(QStringLiteral(TNW_E2E_PROGRAM)).dir();
    const QByteArray elf_magic = QByteArrayLiteral("\x7f"
                                                   "ELF");
    int count = 0;
    for (const QFileInfo& entry : built.entryInfoList(QDir::Files | QDir::NoSymLinks)) {
        QFile file(entry.filePath());
        if (!file.open(QIODevice::ReadOnly) || file.read(4) != elf_magic)
            continue;
        QTest::newRow(qPrintable(entry.fileName())) << entry.filePath();
        ++count;
    }
    QVERIFY2(count >= 2, "the program and its library are built");
}

void tst_e2e::built_programs_load_nothing_from_the_current_folder()
{
    QFETCH(QString, file);
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"), {QStringLiteral("-d"), file});
    QVERIFY(readelf.waitForFinished(10000));
    QCOMPARE(readelf.exitCode(), 0);
    const QRegularExpression run_path(QStringLiteral("\\((?:RPATH|RUNPATH)\\).*\\[(.*)\\]"));
    for (const QString& line :
         QString::fromLocal8Bit(readelf.readAllStandardOutput()).split('\n')) {
        const QRegularExpressionMatch match = run_path.match(line);
        if (!match.hasMatch())
            continue;
        for (const QString& entry : match.captured(1).split(QLatin1Char(':'))) {
            QVERIFY2(entry.startsWith(QLatin1Char('/')) ||
                         entry.startsWith(QLatin1String("$ORIGIN")) ||
                         entry.startsWith(QLatin1String("${ORIGIN}")),
                     qPrintable(QStringLiteral("run path \"%1\"").arg(match.captured(1))));
        }
    }
}

QTEST_GUILESS_MAIN(tst_e2e)
#include "tst_e2e.moc"
