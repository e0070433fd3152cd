#include "captured_messages.h"
#include "fake_sso_control.h"
#include "tnw_test_sso_paths.h"

#include "identity/account_name.h"
#include "identity/sso_helper.h"
#include "identity/sso_helper_answer.h"
#include "identity/sso_user_area.h"
#include "identity/tnw_selvane_sso.h"
#include "sso32_protocol.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#ifdef Q_OS_WIN
#include <windows.h>

#include <tlhelp32.h>
#else
#include <dlfcn.h>
#endif

// Lookups that fell through to the process's own symbols would find these, not a library's.
extern "C" Q_DECL_EXPORT int IsSafePCRunning()
{
    return 99;
}
extern "C" Q_DECL_EXPORT int GetCurrUserInfo(int, char*, char*)
{
    return 98;
}

namespace {

// A reference of the test's own to a library, independent of the client's.
#ifdef Q_OS_WIN
using library_reference = HMODULE;

library_reference hold_library(const char* path)
{
    return LoadLibraryW(reinterpret_cast<const wchar_t*>(QString::fromUtf8(path).utf16()));
}

bool drop_library(library_reference library)
{
    return FreeLibrary(library) != FALSE;
}

bool library_loaded(const char* path)
{
    HMODULE module = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<const wchar_t*>(QString::fromUtf8(path).utf16()),
                              &module) != FALSE;
}
#else
using library_reference = void*;

library_reference hold_library(const char* path)
{
    return dlopen(path, RTLD_NOW);
}

bool drop_library(library_reference library)
{
    return dlclose(library) == 0;
}

bool library_loaded(const char* path)
{
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}
#endif

QByteArray area_bytes(const char* area)
{
    return QByteArray(area, tnw_sso_area_size);
}

} // namespace

class tst_identity : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void running_data();
    void running();
    void user_info_data();
    void user_info();
    void missing_export_data();
    void missing_export();
    void not_loadable_data();
    void not_loadable();
    void queries_without_library();
    void release_data();
    void release();
    void read_user_id_data();
    void read_user_id();
    void helper_answer_data();
    void helper_answer();
#ifdef Q_OS_WIN
    void local_account_has_no_principal_name();
    void helper_process_data();
    void helper_process();
#endif

private:
    QTemporaryDir m_dir;
};

void tst_identity::init()
{
    fake_sso_answers::clear();
    captured_messages::start();
}

void tst_identity::cleanup()
{
    captured_messages::stop();
    fake_sso_answers::clear();
}

void tst_identity::running_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("3, the agent runs") << 3;
    QTest::newRow("0 passes through unchanged") << 0;
    QTest::newRow("1 passes through unchanged") << 1;
    QTest::newRow("2 passes through unchanged") << 2;
    QTest::newRow("a negative answer passes through unchanged") << -7;
}

void tst_identity::running()
{
    QFETCH(int, answer);
    fake_sso_answers answers;
    answers.running = answer;
    answers.apply();
    fake_sso_trace trace(m_dir.filePath("trace"));

    tnw_selvane_sso sso(nullptr, TNW_TEST_SSO_LIBRARY);
    QVERIFY(sso.load_library());
    QCOMPARE(sso.is_safe_pc_running(), answer);
    QCOMPARE(sso.is_safe_pc_running(), answer);
    QVERIFY(sso.free_library());
    QCOMPARE(trace.calls(), QStringList({"IsSafePCRunning", "IsSafePCRunning"}));
    QVERIFY(captured_messages::messages().isEmpty());
}

void tst_identity::user_info_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<bool>("returned");
    QTest::addColumn<QString>("user_id");

    QTest::newRow("a user ID is returned") << 0 << QByteArray("alice") << true << "alice";
    QTest::newRow("an empty user ID is still a returned user") << 0 << QByteArray() << true << "";
    QTest::newRow("a non-ASCII user ID is read as UTF-8")
        << 0 << QByteArray("\xea\xb9\x80\xeb\xaf\xbc\xec\xa4\x80.d\xc3\xbcrr") << true
        << QString::fromUtf8("\xea\xb9\x80\xeb\xaf\xbc\xec\xa4\x80.d\xc3\xbcrr");
    QTest::newRow("259 bytes fit with their NUL")
        << 0 << QByteArray(259, 'u') << true << QString(259, 'u');
    QTest::newRow("260 bytes without a NUL count as not returned")
        << 0 << QByteArray(260, 'v') << false << "";
    QTest::newRow("a failure result passes through unchanged")
        << 5 << QByteArray("bob") << true << "bob";
    QTest::newRow("result -1 passes through unchanged") << -1 << QByteArray() << true << "";
}

void tst_identity::user_info()
{
    QFETCH(int, result);
    QFETCH(QByteArray, user);
    fake_sso_answers answers;
    answers.result = result;
    answers.user = user;
    answers.apply();
    fake_sso_trace trace(m_dir.filePath("trace"));

    tnw_selvane_sso sso(nullptr, TNW_TEST_SSO_LIBRARY);
    QVERIFY(sso.load_library());
    tnw_sso_areas areas;
    QCOMPARE(sso.get_curr_user_info(areas.second, areas.user_id), result);
    QVERIFY(sso.free_library());

    // The first argument is 1, the user-ID area second, the other area last.
    QCOMPARE(QByteArray(areas.second), QByteArray("kind=1"));
    QCOMPARE(trace.calls(), QStringList{"GetCurrUserInfo 1"});
    QByteArray read;
    QTEST(tnw_sso_read_user_id(areas.user_id, read), "returned");
    QTEST(QString::fromUtf8(read), "user_id");
    QVERIFY(captured_messages::messages().isEmpty());
}

void tst_identity::missing_export_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<int>("running");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("without IsSafePCRunning the running check answers -1")
        << TNW_TEST_SSO_LIBRARY_WITHOUT_RUNNING << -1 << 0 << QStringList();
    QTest::newRow("without GetCurrUserInfo the user query answers -1 and says so")
        << TNW_TEST_SSO_LIBRARY_WITHOUT_USER_INFO << 3 << -1
        << QStringList{"Get Current User Info Get Proc Address Failed"};
}

void tst_identity::missing_export()
{
    QFETCH(QString, library);
    fake_sso_answers answers;
    answers.user = "carol";
    answers.apply();

    tnw_selvane_sso sso(nullptr, library);
    QVERIFY(sso.load_library());
    QTEST(sso.is_safe_pc_running(), "running");
    tnw_sso_areas areas;
    QFETCH(int, result);
    QCOMPARE(sso.get_curr_user_info(areas.second, areas.user_id), result);
    QCOMPARE(area_bytes(areas.user_id),
             result == 0 ? QByteArray("carol").leftJustified(tnw_sso_area_size, '\0')
                         : QByteArray(tnw_sso_area_size, '\0'));
    QVERIFY(sso.free_library());

    QTEST(captured_messages::texts(QtInfoMsg), "lines");
    for (const captured_message& m : captured_messages::messages())
        QVERIFY2(m.file.isEmpty() && m.line == 0, qPrintable(m.text));
}

void tst_identity::not_loadable_data()
{
    QTest::addColumn<QString>("library");
    // A second line, for a library that is there but does not load; none for a missing one.
    QTest::addColumn<QString>("reason");

    QFile text(m_dir.filePath("libsuser.so"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a shared object\n");

    QTest::newRow("a missing file") << "/nonexistent/oriel/libsuser.so" << QString();
#ifdef Q_OS_WIN
    QTest::newRow("a file that is no library")
        << text.fileName()
        << QStringLiteral("Loading %1 failed with error 193: not a 64-bit library")
               .arg(text.fileName());
#else
    QTest::newRow("a file that is no library") << text.fileName() << QString();
#endif
    QTest::newRow("a path with blanks and non-ASCII")
        << QString::fromUtf8("/nonexistent/Program Files/\xec\x98\xa4/suser.so") << QString();
#ifdef Q_OS_WIN
    // A machine without the SSO agent: nothing at the fixed place of its client library.
    QTest::newRow("no DLL at the agent's place")
        << QStringLiteral("C:\\Windows\\Oriel\\suser.dll") << QString();
    QTest::newRow("a Windows path with backslashes and blanks")
        << QStringLiteral("C:\\Program Files\\Oriel Agent\\suser.dll") << QString();
#endif
}

void tst_identity::not_loadable()
{
    QFETCH(QString, library);
    QFETCH(QString, reason);
    tnw_selvane_sso sso(nullptr, library);
    QVERIFY(!sso.load_library());
    // The path as it stands, then the literal with its own leading blank.
    QStringList lines{library + "  not found"};
    if (!reason.isEmpty())
        lines << reason;
    QCOMPARE(captured_messages::texts(QtInfoMsg), lines);
    QCOMPARE(captured_messages::messages().size(), lines.size());
    QVERIFY(captured_messages::messages().first().file.isEmpty());
    QVERIFY(!sso.free_library());
}

void tst_identity::queries_without_library()
{
    tnw_selvane_sso never_loaded(nullptr, TNW_TEST_SSO_LIBRARY);
    tnw_selvane_sso failed(nullptr, "/nonexistent/oriel/libsuser.so");
    QVERIFY(!failed.load_library());
    tnw_selvane_sso released(nullptr, TNW_TEST_SSO_LIBRARY);
    QVERIFY(released.load_library());
    QVERIFY(released.free_library());
    captured_messages::start();

    for (tnw_selvane_sso* sso : {&never_loaded, &failed, &released}) {
        QCOMPARE(sso->is_safe_pc_running(), -1);
        tnw_sso_areas areas;
        QCOMPARE(sso->get_curr_user_info(areas.second, areas.user_id), -1);
        QCOMPARE(area_bytes(areas.user_id), QByteArray(tnw_sso_area_size, '\0'));
        QVERIFY(!sso->free_library());
    }
    const QString line = QStringLiteral("Get Current User Info Get Proc Address Failed");
    QCOMPARE(captured_messages::texts(QtInfoMsg), QStringList({line, line, line}));
}

void tst_identity::release_data()
{
    QTest::addColumn<bool>("free_first");
    QTest::newRow("free_library then destruction releases exactly once") << true;
    QTest::newRow("destruction alone releases nothing") << false;
}

void tst_identity::release()
{
    QFETCH(bool, free_first);
    // A reference of the test's own: a second release by the client would drop it to zero
    // early, and a missing one would keep the library after it is gone.
    const library_reference own = hold_library(TNW_TEST_SSO_LIBRARY);
    QVERIFY(own);
    {
        tnw_selvane_sso sso(nullptr, TNW_TEST_SSO_LIBRARY);
        QVERIFY(sso.load_library());
        if (free_first) {
            QVERIFY(sso.free_library());
            QVERIFY(!sso.free_library());
        }
    }
    QVERIFY(library_loaded(TNW_TEST_SSO_LIBRARY));
    QVERIFY(drop_library(own));
    QCOMPARE(library_loaded(TNW_TEST_SSO_LIBRARY), !free_first);

    if (!free_first) {
        const library_reference leaked = hold_library(TNW_TEST_SSO_LIBRARY);
        QVERIFY(drop_library(leaked));
        QVERIFY(drop_library(leaked));
        QVERIFY(!library_loaded(TNW_TEST_SSO_LIBRARY));
    }
}

void tst_identity::read_user_id_data()
{
    QTest::addColumn<QByteArray>("area");
    QTest::addColumn<bool>("returned");
    QTest::addColumn<QByteArray>("user_id");

    QByteArray after_nul("dave");
    after_nul.append('\0').append("stale text of an earlier user");
    QTest::newRow("the text stops at the first NUL")
        << after_nul.leftJustified(tnw_sso_area_size, 'x') << true << QByteArray("dave");
    QTest::newRow("a NUL in the first byte gives an empty ID")
        << QByteArray(1, '\0').leftJustified(tnw_sso_area_size, 'x') << true << QByteArray();
    QTest::newRow("a NUL in the last byte leaves 259 bytes")
        << QByteArray(259, 'e').append('\0') << true << QByteArray(259, 'e');
    QTest::newRow("no NUL in the area: not returned")
        << QByteArray(tnw_sso_area_size, 'f') << false << QByteArray();
}

void tst_identity::read_user_id()
{
    QFETCH(QByteArray, area);
    QCOMPARE(area.size(), tnw_sso_area_size);
    // Exactly the area on the heap, so a read past its end is an error under ASan.
    std::unique_ptr<char[]> exact(new char[tnw_sso_area_size]);
    std::memcpy(exact.get(), area.constData(), tnw_sso_area_size);

    QByteArray read;
    QTEST(tnw_sso_read_user_id(exact.get(), read), "returned");
    QTEST(read, "user_id");
}

// An answer of the 32-bit helper: request byte, status, 32-bit little-endian number, then for
// the user request the two areas.
static QByteArray helper_bytes(char request, char status, QByteArray number,
                               const QByteArray& areas = {})
{
    return QByteArray(1, request) + QByteArray(1, status) + number + areas;
}

void tst_identity::helper_answer_data()
{
    QTest::addColumn<char>("request");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("user_id");

    const QByteArray three("\x03\x00\x00\x00", 4);
    const QByteArray minus_one("\xff\xff\xff\xff", 4);
    QByteArray user = QByteArray("carol").leftJustified(TNW_SSO32_AREA_SIZE, '\0');
    const QByteArray areas = user + QByteArray("kind=1").leftJustified(TNW_SSO32_AREA_SIZE, '\0');
    const QByteArray no_nul(TNW_SSO32_AREA_SIZE, 'x');

    QTest::newRow("running: 3") << 'R' << helper_bytes('R', 0, three) << true << 0 << 3
                                << QByteArray();
    QTest::newRow("running: -1, signed")
        << 'R' << helper_bytes('R', 0, minus_one) << true << 0 << -1 << QByteArray();
    QTest::newRow("running: no export")
        << 'R' << helper_bytes('R', 2, QByteArray(4, '\0')) << true << 2 << 0 << QByteArray();
    QTest::newRow("user: the areas whole")
        << 'U' << helper_bytes('U', 0, QByteArray(4, '\0'), areas) << true << 0 << 0 << user;
    QTest::newRow("user: an area without NUL comes as it is")
        << 'U' << helper_bytes('U', 0, QByteArray(4, '\0'), no_nul + no_nul) << true << 0 << 0
        << no_nul;
    QTest::newRow("load: not loaded, error 126")
        << 'L' << helper_bytes('L', 1, QByteArray("\x7e\0\0\0", 4)) << true << 1 << 126
        << QByteArray();
    QTest::newRow("release: done") << 'F' << helper_bytes('F', 0, QByteArray("\x01\0\0\0", 4))
                                   << true << 0 << 1 << QByteArray();
    // Refused: the helper ran a library that nobody here controls.
    QTest::newRow("empty") << 'R' << QByteArray() << false << -1 << 0 << QByteArray();
    QTest::newRow("short by one") << 'R' << helper_bytes('R', 0, three).chopped(1) << false << -1
                                  << 0 << QByteArray();
    QTest::newRow("long by one") << 'R' << helper_bytes('R', 0, three) + 'x' << false << -1 << 0
                                 << QByteArray();
    QTest::newRow("user: the areas cut short")
        << 'U' << helper_bytes('U', 0, QByteArray(4, '\0'), areas.chopped(1)) << false << -1 << 0
        << QByteArray();
    QTest::newRow("user: a running answer's size")
        << 'U' << helper_bytes('U', 0, three) << false << -1 << 0 << QByteArray();
    QTest::newRow("another request's answer")
        << 'R' << helper_bytes('L', 0, three) << false << -1 << 0 << QByteArray();
    QTest::newRow("an unknown status")
        << 'R' << helper_bytes('R', 7, three) << false << -1 << 0 << QByteArray();
    QTest::newRow("running: a load's status")
        << 'R' << helper_bytes('R', 1, three) << false << -1 << 0 << QByteArray();
    QTest::newRow("load: no export is no load status")
        << 'L' << helper_bytes('L', 2, three) << false << -1 << 0 << QByteArray();
    QTest::newRow("no such request")
        << 'Z' << helper_bytes('Z', 0, three) << false << -1 << 0 << QByteArray();
}

void tst_identity::helper_answer()
{
    QFETCH(char, request);
    QFETCH(QByteArray, bytes);
    tnw_sso_helper_answer answer;
    QTEST(tnw_sso_read_answer(request, bytes, answer), "taken");
    QTEST(answer.status, "status");
    QTEST(int(answer.number), "number");
    QTEST(answer.user_id, "user_id");
    if (!answer.user_id.isEmpty())
        QCOMPARE(answer.second.size(), TNW_SSO32_AREA_SIZE);
}

#ifdef Q_OS_WIN
void tst_identity::local_account_has_no_principal_name()
{
    // A local account (the test machine's, wine's own) has no user principal name: the call
    // fails and the name stays as it was, which sends the flow to its "AD Server not found"
    // path.
    QString principal = QStringLiteral("unchanged");
    QVERIFY(!tnw_account_principal_name(principal));
    QCOMPARE(GetLastError(), DWORD(ERROR_NONE_MAPPED));
    QCOMPARE(principal, QStringLiteral("unchanged"));
}
#endif

#ifdef Q_OS_WIN
namespace {

// How many processes of the helper's name run, whoever started them.
int helper_processes()
{
    int count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        count += _wcsicmp(entry.szExeFile, L"" TNW_SSO32_PROGRAM_NAME) == 0;
    CloseHandle(snapshot);
    return count;
}

} // namespace

Q_DECLARE_METATYPE(tnw_sso_helper::outcome)

void tst_identity::helper_process_data()
{
    using outcome = tnw_sso_helper::outcome;
    QTest::addColumn<QString>("library");
    QTest::addColumn<QByteArray>("fault"); // TNW_FAKE_SSO_CRASH or _HANG, "=", the step
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<outcome>("running");
    QTest::addColumn<outcome>("user_info");
    QTest::addColumn<QByteArray>("user_id"); // the area's bytes up to the NUL, or all 260
    QTest::addColumn<QString>("line");       // a part of the one info line, or none

    const QString library = QStringLiteral(TNW_TEST_SSO_LIBRARY);
    const QByteArray full(TNW_SSO32_AREA_SIZE, 'x');
    QTest::newRow("a user") << library << QByteArray() << QByteArray("carol") << 0 << true
                            << outcome::answered << outcome::answered << QByteArray("carol")
                            << QString();
    QTest::newRow("a result other than 0")
        << library << QByteArray() << QByteArray("carol") << 5 << true << outcome::answered
        << outcome::answered << QByteArray("carol") << QString();
    QTest::newRow("an area without NUL comes whole")
        << library << QByteArray() << full << 0 << true << outcome::answered << outcome::answered
        << full << QString();
    QTest::newRow("no running export")
        << QStringLiteral(TNW_TEST_SSO_LIBRARY_WITHOUT_RUNNING) << QByteArray() << QByteArray("dan")
        << 0 << true << outcome::no_export << outcome::answered << QByteArray("dan") << QString();
    QTest::newRow("no user export")
        << QStringLiteral(TNW_TEST_SSO_LIBRARY_WITHOUT_USER_INFO) << QByteArray() << QByteArray()
        << 0 << true << outcome::answered << outcome::no_export << QByteArray() << QString();
    QTest::newRow("a crash in the user query")
        << library << QByteArray("TNW_FAKE_SSO_CRASH=user") << QByteArray("eve") << 0 << true
        << outcome::answered << outcome::failed << QByteArray()
        << QStringLiteral("SSO query failed: the 32-bit SSO helper ended with exit code");
    QTest::newRow("a hang in the running check")
        << library << QByteArray("TNW_FAKE_SSO_HANG=running") << QByteArray("eve") << 0 << true
        << outcome::failed << outcome::failed << QByteArray()
        << QStringLiteral("SSO query failed: the 32-bit SSO helper did not answer within 5 s");
    QTest::newRow("a crash at load")
        << library << QByteArray("TNW_FAKE_SSO_CRASH=load") << QByteArray() << 0 << false
        << outcome::failed << outcome::failed << QByteArray() << QString();
    QTest::newRow("no library") << m_dir.filePath("suser.dll") << QByteArray() << QByteArray() << 0
                                << false << outcome::failed << outcome::failed << QByteArray()
                                << QString();
}

// The helper program itself, built for x86-64 beside this test, driven without the client
// class: every answer it gives, and every fault of a library it contains.
void tst_identity::helper_process()
{
    QFETCH(QString, library);
    QFETCH(QByteArray, fault);
    QFETCH(QByteArray, user);
    QFETCH(int, result);
    QFETCH(QByteArray, user_id);
    QFETCH(QString, line);
    fake_sso_answers answers;
    answers.user = user;
    answers.result = result;
    answers.apply();
    const int fault_at = fault.indexOf('=');
    if (fault_at > 0)
        qputenv(fault.left(fault_at).constData(), fault.mid(fault_at + 1));
    const auto unset_fault = qScopeGuard([&] {
        qunsetenv(TNW_FAKE_SSO_CRASH);
        qunsetenv(TNW_FAKE_SSO_HANG);
    });

    QString failure;
    std::unique_ptr<tnw_sso_helper> helper = tnw_sso_helper::start(library, failure);
    QTEST(helper != nullptr, "loaded");
    if (!helper) {
        QCOMPARE(helper_processes(), 0);
        return;
    }
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QTEST(helper->is_safe_pc_running().what, "running");
    tnw_sso_areas areas;
    std::memset(areas.user_id, 'z', sizeof areas.user_id);
    const tnw_sso_helper::reply reply = helper->get_curr_user_info(areas.user_id, areas.second);
    QTEST(reply.what, "user_info");
    if (reply.what == tnw_sso_helper::outcome::answered) {
        QCOMPARE(reply.result, result);
        const int length = int(qstrnlen(areas.user_id, sizeof areas.user_id));
        QCOMPARE(QByteArray(areas.user_id, length), user_id);
        // The export's own view of the call: the user-ID area first, the second area last.
        QCOMPARE(QByteArray(areas.second), QByteArray("kind=1"));
    }
    const bool released = helper->release();
    QCOMPARE(released, line.isEmpty());
    QCOMPARE(helper_processes(), 0);
    const QStringList lines = captured_messages::texts(QtInfoMsg);
    if (line.isEmpty()) {
        QCOMPARE(lines, QStringList());
    } else {
        QVERIFY2(!lines.isEmpty() && lines.first().startsWith(line), qPrintable(lines.join('|')));
    }
}
#endif

QTEST_GUILESS_MAIN(tst_identity)
#include "tst_identity.moc"
