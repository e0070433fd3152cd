#include "captured_messages.h"
#include "fake_sso_control.h"
#include "tnw_test_sso_paths.h"

#include "identity/account_name.h"
#include "identity/sso_user_area.h"
#include "identity/tnw_selvane_sso.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#ifdef Q_OS_WIN
#include <windows.h>
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
#ifdef Q_OS_WIN
    void local_account_has_no_principal_name();
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

QTEST_GUILESS_MAIN(tst_identity)
#include "tst_identity.moc"
