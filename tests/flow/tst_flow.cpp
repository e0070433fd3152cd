#include "captured_messages.h"
#include "ccache_writer.h"
#include "fake_desktop.h"
#include "fake_sso_control.h"
#include "loopback_server.h"
#include "sign_on_reading.h"
#include "tnw_test_sso_paths.h"
#include "xdg_sandbox.h"

#include "identity/account_name.h"
#include "param_cipher.h"
#include "signon_flow.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>
#include <unistd.h>

namespace {

// Where the account's principal name comes from when the SSO library is missing.
enum account_source
{
    no_principal,
    given_principal,
    kerberos_cache,
    missing_kerberos_cache,
    empty_kerberos_cache_file,
    // A valid cache naming a principal, but one another user may have written.
    other_users_kerberos_cache,
    group_writable_kerberos_cache,
    linked_kerberos_cache,
    // A collection of caches in a folder (DIR:), the user's own or writable by the group.
    kerberos_cache_folder,
    group_writable_kerberos_cache_folder
};

// One way the identity step can go, and everything the flow is expected to do after it.
struct identity_case
{
    QString library;
    account_source account = no_principal;
    QString principal;
    fake_sso_answers sso;
    int exit_code = 1;
    QString box_text;           // the "auth" box, none when empty
    QStringList identity_lines; // the log lines of the identity step
    QString user_id;            // the user the parameter names
    QByteArray user_field;      // how it stands in the parameter
    QStringList trace;          // the SSO library's exports called
    int account_calls = 0;
};

const QString sso_library = QStringLiteral(TNW_TEST_SSO_LIBRARY);
const QString library_without_running = QStringLiteral(TNW_TEST_SSO_LIBRARY_WITHOUT_RUNNING);
const QString library_without_user = QStringLiteral(TNW_TEST_SSO_LIBRARY_WITHOUT_USER_INFO);
const QStringList running_only = {QStringLiteral("IsSafePCRunning")};
const QStringList running_and_user = {QStringLiteral("IsSafePCRunning"),
                                      QStringLiteral("GetCurrUserInfo 1")};

QString missing_library()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/no-sso/libsuser.so");
}

QString not_found_line(const QString& library = missing_library())
{
    return QStringLiteral("info: ") + library + QStringLiteral("  not found");
}

identity_case signed_on_by_account(account_source source, const QString& principal,
                                   const QString& user_id, const QByteArray& user_field,
                                   const QString& library = missing_library())
{
    identity_case c;
    c.library = library;
    c.account = source;
    c.principal = principal;
    c.identity_lines =
        QStringList{not_found_line(library), QStringLiteral("info: \"%1\"").arg(principal)};
    c.user_id = user_id;
    c.user_field = user_field;
    c.account_calls = 1;
    return c;
}

identity_case no_account_name(account_source source)
{
    identity_case c;
    c.library = missing_library();
    c.account = source;
    c.exit_code = -1;
    c.box_text = QStringLiteral("The SSO auth failed.");
    c.identity_lines =
        QStringList{not_found_line(), QStringLiteral("warning: AD Server not found")};
    c.account_calls = 1;
    return c;
}

// A cache that names mallory but is not the user's own: nobody is signed on.
identity_case foreign_cache(account_source source)
{
    identity_case c = no_account_name(source);
    c.principal = QStringLiteral("mallory@EXAMPLE.COM");
    return c;
}

identity_case agent_not_running(const QString& library, int running, const QStringList& trace)
{
    identity_case c;
    c.library = library;
    // Would sign on if the flow went on to ask for the user or for the account.
    c.account = given_principal;
    c.principal = QStringLiteral("alice@EXAMPLE.COM");
    c.sso.running = running;
    c.sso.user = "mallory";
    c.exit_code = -1;
    c.box_text = QStringLiteral("The SSO agent is not running.");
    c.identity_lines = QStringList{QStringLiteral("warning: SSO Agent Not Running")};
    c.trace = trace;
    return c;
}

identity_case user_not_returned(const QString& library, int result, const QByteArray& user)
{
    identity_case c;
    c.library = library;
    c.account = given_principal;
    c.principal = QStringLiteral("alice@EXAMPLE.COM");
    c.sso.result = result;
    c.sso.user = user;
    c.exit_code = -1;
    c.box_text = QStringLiteral("User information could not be verified.");
    c.identity_lines = QStringList{QStringLiteral("warning: User Information is unkown")};
    c.trace = running_and_user;
    if (library == library_without_user) {
        c.identity_lines.prepend(
            QStringLiteral("info: Get Current User Info Get Proc Address Failed"));
        c.trace = running_only;
    }
    return c;
}

identity_case user_returned(const QByteArray& user, const QByteArray& user_field)
{
    identity_case c;
    c.library = sso_library;
    c.account = given_principal;
    c.principal = QStringLiteral("alice@EXAMPLE.COM");
    c.sso.user = user;
    c.identity_lines = QStringList{QStringLiteral("info: ") + QString::fromUtf8(user)};
    c.user_id = QString::fromUtf8(user);
    c.user_field = user_field;
    c.trace = running_and_user;
    return c;
}

// All of the decoded bytes: the QByteArray overload of fromUtf8 would stop at a NUL.
QString percent_decoded(const QByteArray& field)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(field);
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

bool library_loaded(const QString& path)
{
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

QStringList settings_lines(quint16 port)
{
    return {QStringLiteral("info: IP :  \"127.0.0.1\""),
            QStringLiteral("info: Port :  %1").arg(port),
            QStringLiteral("info: enable cert verify :  false")};
}

// The three lines of a sign-on that got as far as the address.
QStringList address_lines(const sign_on_reading& reading, const QString& address)
{
    return {QStringLiteral("debug: \"%1\"").arg(QString::fromUtf8(reading.plain)),
            QStringLiteral("debug: \"%1\"").arg(reading.encoded),
            QStringLiteral("info: full path :  \"%1\"").arg(address)};
}

} // namespace

Q_DECLARE_METATYPE(identity_case)

class tst_flow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void identity_outcomes_data();
    void identity_outcomes();
    void failure_ending_addresses_data();
    void failure_ending_addresses();
    void hostile_request_paths_data();
    void hostile_request_paths();
    void encryption_failure_data();
    void encryption_failure();
    void browser_failures_keep_the_exit_code_data();
    void browser_failures_keep_the_exit_code();

private:
    // Runs the flow with captured messages; the start is remembered for the time stamp.
    int sign_on(const QString& request_path, fake_desktop& desktop, const QString& library);
    // Checks a sign-on address for user and request path; empty path means none.
    void check_signed_on(const QString& address, const QString& user_id,
                         const QByteArray& user_field, const QString& path,
                         const QByteArray& path_field, sign_on_reading& reading);

    xdg_sandbox m_sandbox;
    loopback_server m_server;
    closed_loopback_port m_closed;
    QTemporaryDir m_dir;
    QDateTime m_started;
    QByteArray m_saved_ccache;
};

void tst_flow::initTestCase()
{
    // GIO reads the XDG directories at its first use: nothing in this process has used it yet.
    QVERIFY(m_sandbox.is_valid());
    QVERIFY(m_sandbox.add_entry(QStringLiteral("sandbox.desktop"), QStringLiteral("%u")));
    QVERIFY(m_sandbox.set_default(QStringLiteral("https"), QStringLiteral("sandbox.desktop")));
    m_sandbox.apply_to_this_process();
    QVERIFY(m_server.listen());
    QVERIFY(m_dir.isValid());
    QVERIFY(!QFile::exists(missing_library()));
    m_saved_ccache = qgetenv("KRB5CCNAME");
}

void tst_flow::init()
{
    fake_sso_answers::clear();
    QVERIFY(m_server.write_settings());
    m_server.take_probes();
}

void tst_flow::cleanup()
{
    captured_messages::stop();
    fake_sso_answers::clear();
    tnw_param_cipher::set_step_filter(nullptr);
    if (m_saved_ccache.isNull())
        qunsetenv("KRB5CCNAME");
    else
        qputenv("KRB5CCNAME", m_saved_ccache);
}

int tst_flow::sign_on(const QString& request_path, fake_desktop& desktop, const QString& library)
{
    m_started = now_to_the_second();
    captured_messages::start();
    const int exit_code = tnw_sign_on(request_path, desktop.platform(library));
    captured_messages::stop();
    return exit_code;
}

void tst_flow::check_signed_on(const QString& address, const QString& user_id,
                               const QByteArray& user_field, const QString& path,
                               const QByteArray& path_field, sign_on_reading& reading)
{
    read_sign_on_address(address, m_server.base_address(), reading);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(reading.user, user_field);
    QCOMPARE(percent_decoded(reading.user), user_id);
    check_time_stamp(reading.time, m_started, QDateTime::currentDateTime());
    QCOMPARE(reading.has_path, !path.isEmpty());
    QCOMPARE(reading.path, path_field);
    QCOMPARE(percent_decoded(reading.path), path);
}

void tst_flow::identity_outcomes_data()
{
    QTest::addColumn<identity_case>("expected");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("failure_suffix");

    const QList<QPair<const char*, identity_case>> cases = {
        {"library missing, principal with one @",
         signed_on_by_account(given_principal, "alice@EXAMPLE.COM", "alice", "alice")},
        {"library missing, principal without @",
         signed_on_by_account(given_principal, "alice", "alice", "alice")},
        {"library missing, principal starting with @",
         signed_on_by_account(given_principal, "@EXAMPLE.COM", "", "")},
        {"library missing, principal with two @",
         signed_on_by_account(given_principal, "alice@dept@EXAMPLE.COM", "alice", "alice")},
        {"library missing, principal from a Kerberos cache",
         signed_on_by_account(kerberos_cache, "carol@EXAMPLE.COM", "carol", "carol")},
        // The loader would take an empty name for the program itself.
        {"empty library path, principal with one @",
         signed_on_by_account(given_principal, "alice@EXAMPLE.COM", "alice", "alice", "")},
        {"library missing, account without a principal name", no_account_name(no_principal)},
        {"library missing, no Kerberos cache", no_account_name(missing_kerberos_cache)},
        {"library missing, empty Kerberos cache file", no_account_name(empty_kerberos_cache_file)},
        {"library missing, Kerberos cache of another user",
         foreign_cache(other_users_kerberos_cache)},
        {"library missing, Kerberos cache others can write",
         foreign_cache(group_writable_kerberos_cache)},
        {"library missing, Kerberos cache behind a link", foreign_cache(linked_kerberos_cache)},
        {"library missing, principal from a Kerberos cache folder",
         signed_on_by_account(kerberos_cache_folder, "carol@EXAMPLE.COM", "carol", "carol")},
        {"library missing, Kerberos cache folder others can write",
         foreign_cache(group_writable_kerberos_cache_folder)},
        {"agent answers 0", agent_not_running(sso_library, 0, running_only)},
        {"agent answers 1", agent_not_running(sso_library, 1, running_only)},
        {"agent answers 2", agent_not_running(sso_library, 2, running_only)},
        {"agent answers -1", agent_not_running(sso_library, -1, running_only)},
        {"library without IsSafePCRunning", agent_not_running(library_without_running, 3, {})},
        {"user query answers 1", user_not_returned(sso_library, 1, "alice")},
        {"user query answers -1", user_not_returned(sso_library, -1, "alice")},
        {"library without GetCurrUserInfo", user_not_returned(library_without_user, 0, "alice")},
        {"user ID of 260 bytes without NUL",
         user_not_returned(sso_library, 0, QByteArray(260, 'a'))},
        {"plain user ID", user_returned("bob", "bob")},
        {"empty user ID", user_returned("", "")},
        {"user ID of 259 bytes", user_returned(QByteArray(259, 'b'), QByteArray(259, 'b'))},
        {"non-ASCII user ID", user_returned("김철수", "김철수")},
        {"user ID holding %2 and %3", user_returned("x%2y%3", "x%252y%253")},
        {"user ID holding & and =", user_returned("a&currentTime=b", "a%26currentTime%3Db")},
        {"user ID holding + and #", user_returned("a+b#c", "a%2Bb%23c")},
    };
    for (const auto& c : cases) {
        QTest::addRow("%s, no request path", c.first) << c.second << QString() << QString();
        QTest::addRow("%s, request path", c.first)
            << c.second << QStringLiteral("/x y") << QStringLiteral("/x%20y");
    }
}

void tst_flow::identity_outcomes()
{
    QFETCH(identity_case, expected);
    QFETCH(QString, path);
    QFETCH(QString, failure_suffix);

    expected.sso.apply();
    const fake_sso_trace trace(m_dir.filePath(QStringLiteral("trace")));
    fake_desktop desktop;
    if (expected.account == given_principal) {
        desktop.account = [&expected](QString& principal) {
            principal = expected.principal;
            return true;
        };
    } else if (expected.account != no_principal) {
        // The real account lookup, over a credential cache file of the test's own.
        const bool in_folder = expected.account == kerberos_cache_folder ||
                               expected.account == group_writable_kerberos_cache_folder;
        const QString file =
            m_dir.filePath(in_folder ? QStringLiteral("ccdir") : QStringLiteral("cc"));
        const QString cache = (in_folder ? QStringLiteral("DIR:") : QStringLiteral("FILE:")) + file;
        const QString linked = file + QStringLiteral(".linked");
        QFile::remove(file);
        QFile::remove(linked);
        QDir(file).removeRecursively();
        if (expected.account == other_users_kerberos_cache && geteuid() != 0)
            QSKIP("handing a file to another user needs root");
        if (!expected.principal.isEmpty())
            QCOMPARE(tnw_write_demo_ccache(cache.toUtf8().constData(),
                                           expected.principal.toUtf8().constData()),
                     0);
        if (expected.account == empty_kerberos_cache_file)
            QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        if (expected.account == other_users_kerberos_cache)
            QCOMPARE(chown(QFile::encodeName(file).constData(), 65534, 65534), 0);
        if (expected.account == group_writable_kerberos_cache)
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ReadGroup | QFile::WriteGroup));
        if (expected.account == linked_kerberos_cache)
            QVERIFY(QFile::link(file, linked));
        if (expected.account == group_writable_kerberos_cache_folder)
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadGroup |
                                                    QFile::WriteGroup | QFile::ExeGroup));
        qputenv(
            "KRB5CCNAME",
            (expected.account == linked_kerberos_cache ? QStringLiteral("FILE:") + linked : cache)
                .toUtf8());
        desktop.account = tnw_account_principal_name;
    }

    const int exit_code = sign_on(path, desktop, expected.library);

    QCOMPARE(exit_code, expected.exit_code);
    QCOMPARE(trace.calls(), expected.trace);
    QCOMPARE(desktop.account_calls, expected.account_calls);
    if (!expected.library.isEmpty())
        QVERIFY2(!library_loaded(expected.library), "the SSO library is still loaded");
    QCOMPARE(m_server.take_probes(), 1);
    const QString address = desktop.started_address(m_sandbox.recorder_path());
    if (QTest::currentTestFailed())
        return;
    const QStringList lines = settings_lines(m_server.port()) + expected.identity_lines;

    if (expected.exit_code != 1) {
        QCOMPARE(desktop.boxes, QStringList{information_box("auth", expected.box_text)});
        QCOMPARE(address, m_server.base_address() + failure_suffix);
        QCOMPARE(captured_lines(), lines);
        return;
    }
    QCOMPARE(desktop.boxes, QStringList());
    sign_on_reading reading;
    check_signed_on(address, expected.user_id, expected.user_field, path, path.toUtf8(), reading);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(captured_lines(), lines + address_lines(reading, address));
}

void tst_flow::failure_ending_addresses_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("no request path gives the base address") << QString() << QString();
    QTest::newRow("a path is percent-encoded behind the base address")
        << QStringLiteral("/x y") << QStringLiteral("/x%20y");
    QTest::newRow("query and fragment characters stay inside the path")
        << QStringLiteral("/a?b#c") << QStringLiteral("/a%3Fb%23c");
    QTest::newRow("a percent sign is encoded, not taken as an escape")
        << QStringLiteral("/100%25") << QStringLiteral("/100%2525");
    QTest::newRow("non-ASCII path in UTF-8")
        << QStringLiteral("/문서") << QStringLiteral("/%EB%AC%B8%EC%84%9C");
    QTest::newRow("two leading slashes stay a path on the server")
        << QStringLiteral("//evil.example/x") << QStringLiteral("//evil.example/x");
    QTest::newRow("control characters are encoded")
        << QStringLiteral("/a\r\nb") << QStringLiteral("/a%0D%0Ab");
    QTest::newRow("a whole address gives the base address alone")
        << QStringLiteral("https://evil/x") << QString();
    QTest::newRow("an option-like path gives the base address alone")
        << QStringLiteral("-S/bin/sh") << QString();
    QTest::newRow("a network share gives the base address alone")
        << QStringLiteral("\\\\host\\share") << QString();
    QTest::newRow("a relative path gives the base address alone")
        << QStringLiteral("etc/passwd") << QString();
}

void tst_flow::failure_ending_addresses()
{
    QFETCH(QString, path);
    QFETCH(QString, suffix);
    fake_desktop desktop;

    QCOMPARE(sign_on(path, desktop, missing_library()), -1);

    QCOMPARE(desktop.boxes,
             QStringList{information_box("auth", QStringLiteral("The SSO auth failed."))});
    const QString address = desktop.started_address(m_sandbox.recorder_path());
    QCOMPARE(address, m_server.base_address() + suffix);
    // Whatever the path, the browser is sent to the server and nowhere else.
    const QUrl url(address, QUrl::StrictMode);
    QVERIFY(url.isValid());
    QCOMPARE(url.scheme(), QStringLiteral("https"));
    QCOMPARE(url.host(), QStringLiteral("127.0.0.1"));
    QCOMPARE(url.port(), int(m_server.port()));
    if (!suffix.isEmpty())
        QCOMPARE(url.path(QUrl::FullyDecoded), path);
}

void tst_flow::hostile_request_paths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("field");
    QTest::newRow("a path that adds a user field")
        << QStringLiteral("&userId=admin") << QByteArray("%26userId%3Dadmin");
    QTest::newRow("the decoded form of an escaped field")
        << QStringLiteral("/x&userId=admin") << QByteArray("/x%26userId%3Dadmin");
    QTest::newRow("escapes kept as text")
        << QStringLiteral("/x%26userId%3Dadmin") << QByteArray("/x%2526userId%253Dadmin");
    QTest::newRow("a NUL inside") << QStringLiteral("/a%1b").arg(QChar(0)) << QByteArray("/a%00b");
    QTest::newRow("CR and LF") << QStringLiteral("/a\r\nSet-Cookie: x")
                               << QByteArray("/a%0D%0ASet-Cookie: x");
    QTest::newRow("tab and DEL") << QStringLiteral("/a\tb\x7f") << QByteArray("/a%09b%7F");
    QTest::newRow("plus and hash") << QStringLiteral("/a+b#c") << QByteArray("/a%2Bb%23c");
    QTest::newRow("a lone percent at the end") << QStringLiteral("/a%") << QByteArray("/a%25");
    QTest::newRow("markers of the parameter template")
        << QStringLiteral("/%1%2%3") << QByteArray("/%251%252%253");
    QTest::newRow("quotes and backslashes stay")
        << QStringLiteral("/a\"b\\c") << QByteArray("/a\"b\\c");
    QTest::newRow("non-ASCII stays") << QStringLiteral("/문서") << QByteArray("/문서");
    const QString longest = QStringLiteral("/") + QString(19999, QLatin1Char('x'));
    QTest::newRow("20000 characters") << longest << longest.toUtf8();
    const QString long_escaped = QString(7000, QLatin1Char('&'));
    QTest::newRow("7000 ampersands") << long_escaped << long_escaped.toUtf8().replace("&", "%26");
}

void tst_flow::hostile_request_paths()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, field);
    fake_desktop desktop;
    desktop.account = [](QString& principal) {
        principal = QStringLiteral("alice@EXAMPLE.COM");
        return true;
    };

    QCOMPARE(sign_on(path, desktop, missing_library()), 1);

    QCOMPARE(desktop.boxes, QStringList());
    sign_on_reading reading;
    check_signed_on(desktop.started_address(m_sandbox.recorder_path()), QStringLiteral("alice"),
                    "alice", path, field, reading);
}

void tst_flow::encryption_failure_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("suffix");
    const char* steps[] = {"no cipher context", "no cipher", "initialisation fails", "update fails",
                           "final step fails"};
    for (int step = 0; step < 5; ++step) {
        QTest::addRow("%s, no request path", steps[step]) << step << QString() << QString();
        QTest::addRow("%s, request path", steps[step])
            << step << QStringLiteral("/x y") << QStringLiteral("/x%20y");
    }
}

void tst_flow::encryption_failure()
{
    QFETCH(int, step);
    QFETCH(QString, path);
    QFETCH(QString, suffix);
    using cipher_step = tnw_param_cipher::step;
    const cipher_step steps[] = {cipher_step::context, cipher_step::cipher, cipher_step::init,
                                 cipher_step::update, cipher_step::final};
    static cipher_step failing;
    failing = steps[step];
    tnw_param_cipher::set_step_filter(
        [](cipher_step at, int result) { return at == failing ? 0 : result; });
    fake_desktop desktop;
    desktop.account = [](QString& principal) {
        principal = QStringLiteral("alice@EXAMPLE.COM");
        return true;
    };

    const int exit_code = sign_on(path, desktop, missing_library());
    tnw_param_cipher::set_step_filter(nullptr);

    QCOMPARE(exit_code, -1);
    QCOMPARE(desktop.boxes,
             QStringList{information_box("auth", QStringLiteral("The SSO auth failed."))});
    QCOMPARE(desktop.started_address(m_sandbox.recorder_path()), m_server.base_address() + suffix);
    const QStringList lines = captured_lines();
    const QStringList identity{not_found_line(), QStringLiteral("info: \"alice@EXAMPLE.COM\"")};
    QCOMPARE(lines.mid(0, 5), settings_lines(m_server.port()) + identity);
    QCOMPARE(lines.size(), 7);
    // The parameter line comes before the encryption; nothing of an address follows it.
    const QString parameter = QStringLiteral("debug: \"userId=alice&currentTime=");
    QVERIFY2(lines.at(5).startsWith(parameter), qPrintable(lines.at(5)));
    QVERIFY2(lines.at(5).endsWith(path.isEmpty() ? QStringLiteral("\"") : "&reqURI=" + path + "\""),
             qPrintable(lines.at(5)));
    QCOMPARE(lines.at(6), QStringLiteral("warning: Parameter encryption failed"));
}

void tst_flow::browser_failures_keep_the_exit_code_data()
{
    QTest::addColumn<bool>("identified");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("start_succeeds");
    QTest::addColumn<QStringList>("browser_boxes");
    QTest::addColumn<int>("starts");
    const QStringList connect_box{
        warning_box("Connect failed", QStringLiteral("This is an unopend service."))};
    const QStringList run_box{
        information_box("Run Browser", QStringLiteral("Do not run Browser failed."))};
    const QString closed = QString::number(m_closed.port());
    QTest::newRow("no listener, user identified") << true << closed << true << connect_box << 0;
    QTest::newRow("no listener, user not identified")
        << false << closed << true << connect_box << 0;
    QTest::newRow("port that is no number, user identified")
        << true << QStringLiteral("abc") << true << connect_box << 0;
    // Its low 32 bits are the listener's port.
    QTest::newRow("port number beyond 32 bits, user identified")
        << true << QString::number(m_server.port() + (Q_UINT64_C(1) << 32)) << true << connect_box
        << 0;
    QTest::newRow("browser not started, user identified")
        << true << QString() << false << run_box << 1;
    QTest::newRow("browser not started, user not identified")
        << false << QString() << false << run_box << 1;
}

void tst_flow::browser_failures_keep_the_exit_code()
{
    QFETCH(bool, identified);
    QFETCH(QString, port);
    QFETCH(bool, start_succeeds);
    QFETCH(QStringList, browser_boxes);
    QFETCH(int, starts);
    if (!port.isEmpty())
        QVERIFY(loopback_server::write_settings(port));
    fake_desktop desktop;
    desktop.start_succeeds = start_succeeds;
    if (identified) {
        desktop.account = [](QString& principal) {
            principal = QStringLiteral("alice@EXAMPLE.COM");
            return true;
        };
    }

    QCOMPARE(sign_on(QStringLiteral("/x"), desktop, missing_library()), identified ? 1 : -1);

    const QStringList auth_box =
        identified ? QStringList()
                   : QStringList{information_box("auth", QStringLiteral("The SSO auth failed."))};
    QCOMPARE(desktop.boxes, auth_box + browser_boxes);
    QCOMPARE(desktop.starts.size(), starts);
    QCOMPARE(m_server.take_probes(), port.isEmpty() ? 1 : 0);
}

QTEST_MAIN(tst_flow)
#include "tst_flow.moc"
