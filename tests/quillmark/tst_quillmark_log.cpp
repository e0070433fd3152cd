#include "day_file.h"
#include "log_files.h"
#include "log_line.h"
#include "log_platform.h"
#include "quillmark.h"

#include <quillmark/quillmark_log.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <csignal>

#ifdef Q_OS_WIN
#include <windows.h>

#include <aclapi.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utime.h>
#endif

using log_call = std::function<void()>;
Q_DECLARE_METATYPE(log_call)

using tnw_test::file_bytes;
using tnw_test::file_lines;
using tnw_test::line_end;
using tnw_test::user_log_dir;

namespace {

std::atomic<qint64> g_fake_ms{0};

qint64 fake_clock()
{
    return g_fake_ms.load();
}

void set_time(const QDateTime& local)
{
    g_fake_ms.store(local.toMSecsSinceEpoch());
}

QDateTime at(const QString& iso)
{
    return QDateTime::fromString(iso, Qt::ISODateWithMs);
}

QString log_dir()
{
    return quillmark_detail::log_directory();
}

QString day_file(const QDate& day)
{
    return log_dir() + QDir::separator() + quillmark_detail::log_file_name(day);
}

bool set_mtime(const QString& path, const QDateTime& when)
{
#ifdef Q_OS_WIN
    // utime() opens files only; the backup flag opens a directory as well.
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    // FILETIME counts 100 ns steps from 1601-01-01.
    const quint64 ticks = quint64(when.toMSecsSinceEpoch() + 11644473600000LL) * 10000;
    FILETIME time;
    time.dwLowDateTime = DWORD(ticks);
    time.dwHighDateTime = DWORD(ticks >> 32);
    const bool set = SetFileTime(handle, nullptr, &time, &time) != FALSE;
    CloseHandle(handle);
    return set;
#else
    utimbuf times;
    times.actime = time_t(when.toSecsSinceEpoch());
    times.modtime = times.actime;
    return utime(QFile::encodeName(path).constData(), &times) == 0;
#endif
}

QString link_target()
{
    return QDir::tempPath() + QStringLiteral("/quillmark_log_link_target");
}

// The day's file in the user's own log folder.
QString user_day_file(const QDate& day)
{
    return user_log_dir() + QLatin1Char('/') + QFileInfo(day_file(day)).fileName();
}

#ifdef Q_OS_WIN
// The owner of the next file opened, as the test's owner lookup reports it: everyone's
// well-known SID, or none at all; then the system's again.
QByteArray g_next_owner;

QByteArray reported_owner(void*)
{
    quillmark_detail::set_owner_lookup(nullptr);
    return g_next_owner;
}

// Everyone's well-known SID for the user's folder Tarnwell, the system's owner for the rest.
QByteArray owner_by_folder(void* handle)
{
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetFinalPathNameByHandleW(handle, path, MAX_PATH, 0);
    if (length > 0 && length <= MAX_PATH &&
        QString::fromWCharArray(path, int(length)).endsWith(QStringLiteral("\\Tarnwell")))
        return QByteArray("\x01\x01\0\0\0\0\0\x01\0\0\0\0", 12);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return QByteArray();
    const QByteArray bytes(static_cast<const char*>(owner), int(GetLengthSid(owner)));
    LocalFree(descriptor);
    return bytes;
}
#endif

QStringList g_messages;

void collect_message(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_messages << text;
}

} // namespace

class tst_quillmark_log : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void timestamps_data();
    void timestamps();
    void day_switch_data();
    void day_switch();
    void retention_data();
    void retention();
#ifndef Q_OS_WIN
    // Windows keeps a directory that holds an open file: nobody can remove it under the logger.
    void retention_recreates_a_missing_directory();
#endif
    void retention_timer_data();
    void retention_timer();
    void failing_disk_data();
    void failing_disk();
    void user_folder_path_data();
    void user_folder_path();
#ifndef Q_OS_WIN
    // A file size limit of the process stands in for a full disk: POSIX only.
    void refused_lines_are_not_written_later();
#endif
#ifdef Q_OS_WIN
    void windows_file_path_and_line_ends();
#endif
    // Last: the exports' logger lives until the process ends and keeps its day's file open,
    // which Windows does not let the other tests remove with the log directory.
    void export_lines_data();
    void export_lines();

private:
    QTemporaryDir m_state;
    QByteArray m_home;
};

void tst_quillmark_log::initTestCase()
{
#ifndef Q_OS_WIN
    // The user's own log folder inside the test's folder, not in the home of whoever runs it.
    QVERIFY(m_state.isValid());
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path()));
    // Where the user's folder goes when that one is not safe.
    m_home = QFile::encodeName(m_state.path() + QStringLiteral("/home"));
    qputenv("HOME", m_home);
#endif
}

void tst_quillmark_log::init()
{
    QDir(log_dir()).removeRecursively();
    QFile::remove(log_dir());
    // Only the test's own days: the user's folder may be shared with other tests.
    QFile::remove(user_log_dir());
    const QDir user_dir(user_log_dir());
    for (const QString& name : user_dir.entryList({QStringLiteral("2025-*")}, QDir::AllEntries))
        QFile::remove(user_dir.filePath(name)) || QDir(user_dir.filePath(name)).removeRecursively();
    quillmark_detail::set_clock(fake_clock);
    set_time(at(QStringLiteral("2025-06-14T12:00:00.000")));
}

void tst_quillmark_log::cleanup()
{
    quillmark_detail::set_clock(nullptr);
#ifndef Q_OS_WIN
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path()));
    qputenv("HOME", m_home);
#endif
}

void tst_quillmark_log::timestamps_data()
{
    QTest::addColumn<QList<qint64>>("moments");
    const qint64 noon = at(QStringLiteral("2025-06-14T12:00:00.000")).toMSecsSinceEpoch();
    const qint64 midnight = at(QStringLiteral("2025-06-15T00:00:00.000")).toMSecsSinceEpoch();
    QTest::newRow("milliseconds within one second") << QList<qint64>{noon, noon + 7, noon + 999};
    QTest::newRow("into the next second") << QList<qint64>{noon + 999, noon + 1000, noon + 1001};
    QTest::newRow("back to an earlier second") << QList<qint64>{noon + 5042, noon + 1042};
    QTest::newRow("across midnight") << QList<qint64>{midnight - 1, midnight, midnight - 1};
    QTest::newRow("before 1970") << QList<qint64>{-1, -1000, -1001, 0};
}

void tst_quillmark_log::timestamps()
{
    QFETCH(QList<qint64>, moments);
    quillmark_detail::stamp_cache stamp;
    for (const qint64 ms : moments) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
        stamp.set_time(ms);
        char text[quillmark_detail::stamp_cache::max_size];
        QCOMPARE(QString::fromLatin1(text, int(stamp.write(text) - text)),
                 local.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz")));
        QCOMPARE(stamp.date(), local.date());
    }
}

void tst_quillmark_log::export_lines_data()
{
    QTest::addColumn<QDate>("day");
    QTest::addColumn<log_call>("call");
    // Lines starting with "[" follow the time stamp and thread of the call; others are taken
    // as they stand (the rest of a message with a line break).
    QTest::addColumn<QStringList>("expected");

    QDate day(2031, 1, 1);
    const auto row = [&day](const char* name, log_call call, QStringList expected) {
        QTest::newRow(name) << day << call << expected;
        day = day.addDays(1);
    };
    row("info expands an integer", [] { INFO("%d items", 3); }, {"[INFO] 3 items"});
    row("err expands a string", [] { ERR("cannot open %s", "server.ini"); },
        {"[ERR] cannot open server.ini"});
    row("suc expands a float with its precision", [] { SUC("took %.2f s", 1.5); },
        {"[SUC] took 1.50 s"});
    row("debug writes while debug mode is on",
        [] {
            SET_DEBUG_MODE(true);
            DEBUG("%d items", 3);
        },
        {"[DEBUG] 3 items"});
    row("debug writes nothing once debug mode is off again",
        [] {
            SET_DEBUG_MODE(true);
            SET_DEBUG_MODE(false);
            DEBUG("%d items", 3);
        },
        {});
    row("info writes with debug mode off",
        [] {
            SET_DEBUG_MODE(false);
            INFO("shown");
        },
        {"[INFO] shown"});
    row("a placeholder inside a string argument stays as it is", [] { INFO("%s", "50%1 of %2"); },
        {"[INFO] 50%1 of %2"});
    row("placeholders of several arguments stay in their places", [] { ERR("%s/%s", "%2", "%1"); },
        {"[ERR] %2/%1"});
    row("a doubled percent sign becomes one", [] { SUC("100%% done"); }, {"[SUC] 100% done"});
    row("UTF-8 text of a string argument is kept", [] { INFO("user %s", "김철수"); },
        {"[INFO] user 김철수"});
    row("text that is not UTF-8 is written with replacement characters",
        [] { INFO("bad %s", "\xFF!"); }, {"[INFO] bad \uFFFD!"});
    row("a count conversion is written as it stands and sets nothing",
        [] {
            int n = 7;
            INFO("n%n|", &n);
            QCOMPARE(n, 7);
        },
        {"[INFO] n%n|"});
    row("a count conversion with any length modifier writes nothing either",
        [] {
            signed char hh = 1;
            long l = 2;
            long long ll = 3;
            ssize_t z = 4;
            ERR("%s a%hhn b%ln c%llnd%zn", "x", &hh, &l, &ll, &z);
            QCOMPARE(int(hh) + l + ll + z, 10LL);
        },
        {"[ERR] %s a%hhn b%ln c%llnd%zn"});
    row("a line break in the message is written as it is", [] { INFO("first\nsecond"); },
        {"[INFO] first", "second"});
    row("calls keep their order",
        [] {
            INFO("one");
            ERR("two");
            SUC("three");
        },
        {"[INFO] one", "[ERR] two", "[SUC] three"});
}

void tst_quillmark_log::export_lines()
{
    QFETCH(QDate, day);
    QFETCH(log_call, call);
    QFETCH(QStringList, expected);

    const QDateTime moment(day, QTime(9, 15, 2, 417));
    set_time(moment);
    call();

    const QString prefix = QStringLiteral("%1-%2-%3 09:15:02:417    %4 ")
                               .arg(day.year())
                               .arg(day.month(), 2, 10, QLatin1Char('0'))
                               .arg(day.day(), 2, 10, QLatin1Char('0'))
                               .arg(tnw_test::system_thread_id());
    for (QString& line : expected) {
        if (line.startsWith('['))
            line.prepend(prefix);
        // What the local encoding cannot hold arrives replaced: nothing under UTF-8, most of
        // the rows' non-ASCII text under a Windows code page.
        line = QString::fromLocal8Bit(line.toLocal8Bit());
    }
    QCOMPARE(file_lines(day_file(day)), expected);
}

void tst_quillmark_log::day_switch_data()
{
    // Each write is "<local time> <line>"; each expected entry "<file date> <line>".
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("lines of one day stay in one file")
        << QStringList{"2025-06-14T00:00:00.000 a", "2025-06-14T23:59:59.999 b"}
        << QStringList{"2025-06-14 a", "2025-06-14 b"};
    QTest::newRow("the first line after midnight opens the next day's file")
        << QStringList{"2025-06-14T23:59:59.999 a", "2025-06-15T00:00:00.000 b",
                       "2025-06-15T00:00:00.001 c"}
        << QStringList{"2025-06-14 a", "2025-06-15 b", "2025-06-15 c"};
    QTest::newRow("a clock set back returns to the earlier day's file and appends")
        << QStringList{"2025-06-14T22:00:00.000 a", "2025-06-15T01:00:00.000 b",
                       "2025-06-14T23:00:00.000 c"}
        << QStringList{"2025-06-14 a", "2025-06-15 b", "2025-06-14 c"};
    QTest::newRow("a jump over several days opens only the day written to")
        << QStringList{"2025-06-14T12:00:00.000 a", "2025-06-20T12:00:00.000 b"}
        << QStringList{"2025-06-14 a", "2025-06-20 b"};
    QTest::newRow("the new year is a new day")
        << QStringList{"2025-12-31T23:59:59.999 a", "2026-01-01T00:00:00.000 b"}
        << QStringList{"2025-12-31 a", "2026-01-01 b"};
}

void tst_quillmark_log::day_switch()
{
    QFETCH(QStringList, writes);
    QFETCH(QStringList, expected);

    set_time(at(writes.first().section(' ', 0, 0)));
    quillmark log;
    for (const QString& write : writes) {
        set_time(at(write.section(' ', 0, 0)));
        log.write_log(write.section(' ', 1));
    }

    QMap<QString, QStringList> expected_files;
    for (const QString& entry : expected) {
        const QDate day = QDate::fromString(entry.section(' ', 0, 0), Qt::ISODate);
        expected_files[QFileInfo(day_file(day)).fileName()] << entry.section(' ', 1);
    }
    const QStringList files = QDir(log_dir()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files, expected_files.keys());
    for (const QString& name : files)
        QCOMPARE(file_lines(log_dir() + '/' + name), expected_files.value(name));
}

void tst_quillmark_log::retention_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QDateTime>("modified");
    QTest::addColumn<bool>("kept");

    // The pass runs at 2025-06-14 00:30; 30 days back is 2025-05-15.
    const auto log_name = [](const char* day) {
        return QString(day) + "_tarnwell.log";
    };
    QTest::newRow("a log file last written 31 days back is removed")
        << log_name("2025-05-14") << "file" << at("2025-05-14T12:00:00.000") << false;
    QTest::newRow("a log file written late on the 31st day back is removed: whole days")
        << log_name("2025-05-14") << "file" << at("2025-05-14T23:59:59.000") << false;
    QTest::newRow("a log file written at the start of the 30th day back is kept")
        << log_name("2025-05-15") << "file" << at("2025-05-15T00:00:00.000") << true;
    QTest::newRow("a log file written today is kept")
        << log_name("2025-06-14") << "file" << at("2025-06-14T00:10:00.000") << true;
    QTest::newRow("a log file dated 31 days ahead is kept")
        << log_name("2025-07-15") << "file" << at("2025-07-15T12:00:00.000") << true;
    QTest::newRow("a log file of two years back is removed")
        << log_name("2023-06-14") << "file" << at("2023-06-14T12:00:00.000") << false;
    QTest::newRow("the date is read from the file's time, not from its name")
        << log_name("2025-06-13") << "file" << at("2025-04-01T12:00:00.000") << false;
    QTest::newRow("an old foreign file is kept") << "notes.txt"
                                                 << "file" << at("2025-04-01T12:00:00.000") << true;
    QTest::newRow("an old log file with a further suffix is kept")
        << log_name("2025-04-01") + ".bak"
        << "file" << at("2025-04-01T12:00:00.000") << true;
    QTest::newRow("an old file named with an impossible date is kept")
        << log_name("2025-13-45") << "file" << at("2025-04-01T12:00:00.000") << true;
    QTest::newRow("an old file of another program is kept")
        << "2025-04-01_other.log"
        << "file" << at("2025-04-01T12:00:00.000") << true;
    QTest::newRow("a log file of the user's own folder last written 31 days back is removed")
        << log_name("2025-05-14") << "user's file" << at("2025-05-14T12:00:00.000") << false;
    QTest::newRow("a log file of the user's own folder written today is kept")
        << log_name("2025-06-14") << "user's file" << at("2025-06-14T00:10:00.000") << true;
    QTest::newRow("an old subdirectory named like a log file is kept")
        << log_name("2025-04-01") << "directory" << at("2025-04-01T12:00:00.000") << true;
#ifndef Q_OS_WIN
    // QFile::link makes a shell shortcut on Windows, not a link of the file system.
    QTest::newRow("an old link named like a log file is kept")
        << log_name("2025-04-01") << "link" << at("2025-04-01T12:00:00.000") << true;
    QTest::newRow("an old log file reached through a link at tarnwell of the user's folder is kept")
        << log_name("2025-05-14") << "linked user's file" << at("2025-05-14T12:00:00.000") << true;
#endif
}

void tst_quillmark_log::retention()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QDateTime, modified);
    QFETCH(bool, kept);

    set_time(at("2025-06-14T00:30:00.000"));
    quillmark log;
    log.write_log(QStringLiteral("today's line"));
    const QString own_file = day_file(QDate(2025, 6, 14));
    QVERIFY(QFile::exists(own_file));

    QString path = (kind == "user's file" ? user_log_dir() : log_dir()) + '/' + name;
    QVERIFY(QDir().mkpath(user_log_dir()));
    // The user's folder's own part a link to a folder elsewhere.
    const QString user_own = QFileInfo(user_log_dir()).absolutePath();
    const QString linked = m_state.path() + QStringLiteral("/linked");
    if (kind == "linked user's file") {
        QVERIFY(QDir(user_own).removeRecursively());
        QVERIFY(QDir().mkpath(linked + QStringLiteral("/logs")));
        QVERIFY(QFile::link(linked, user_own));
        path = linked + QStringLiteral("/logs/") + name;
    }
    if (kind == "directory") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == "link") {
        const QString target = QDir::tempPath() + "/quillmark_log_retention_target";
        QFile target_file(target);
        QVERIFY(target_file.open(QIODevice::WriteOnly));
        target_file.close();
        QVERIFY(set_mtime(target, modified));
        QFile::remove(path);
        QVERIFY(QFile::link(target, path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write("old\n");
        file.close();
    }
    QVERIFY(set_mtime(path, modified));
    QCOMPARE(QFileInfo(path).lastModified(), modified);

    QVERIFY(QMetaObject::invokeMethod(&log, "st_delete_file", Qt::DirectConnection));

    QCOMPARE(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), kept);
    QCOMPARE(file_lines(own_file).value(0), QStringLiteral("today's line"));
    if (kind == "linked user's file") {
        QVERIFY(QFile::remove(user_own));
        QVERIFY(QDir(linked).removeRecursively());
    }
}

#ifndef Q_OS_WIN
void tst_quillmark_log::retention_recreates_a_missing_directory()
{
    quillmark log;
    QVERIFY(QDir(log_dir()).removeRecursively());

    QVERIFY(QMetaObject::invokeMethod(&log, "st_delete_file", Qt::DirectConnection));

    QVERIFY(QFileInfo(log_dir()).isDir());
    QCOMPARE(QDir(log_dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}
#endif

void tst_quillmark_log::retention_timer_data()
{
    QTest::addColumn<bool>("on_application_thread");
    QTest::newRow("a logger made on the application's thread runs the hourly pass") << true;
    QTest::newRow("a logger made on a thread of its own runs no timer and warns of nothing")
        << false;
}

void tst_quillmark_log::retention_timer()
{
    QFETCH(bool, on_application_thread);

    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect_message);
    std::unique_ptr<quillmark> log;
    if (on_application_thread) {
        log.reset(new quillmark);
    } else {
        std::thread maker([&log] { log.reset(new quillmark); });
        maker.join();
    }
    QCOMPARE(log->m_timer.isActive(), on_application_thread);

    if (on_application_thread) {
        QCOMPARE(log->m_timer.interval(), 3600000);
        const QString old = day_file(QDate(2025, 1, 1));
        QFile file(old);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(set_mtime(old, at("2025-01-01T12:00:00.000")));
        QVERIFY(QMetaObject::invokeMethod(&log->m_timer, "timeout", Qt::DirectConnection));
        QVERIFY(!QFile::exists(old));
    }
    log.reset();
    qInstallMessageHandler(previous);
    QCOMPARE(g_messages, QStringList());
}

void tst_quillmark_log::failing_disk_data()
{
    // Where the program's day file cannot take this user's lines, they go to the same name in
    // the user's own folder; when that cannot take them either, nowhere.
    QTest::addColumn<QString>("breakage");
    QTest::addColumn<bool>("user_folder");
#ifndef Q_OS_WIN
    QTest::newRow("the day's file is a link to a full device") << "full device" << true;
#endif
    QTest::newRow("the log directory is a plain file") << "plain file" << true;
    QTest::newRow("the day's file is a directory") << "directory" << true;
    QTest::newRow("the day's file belongs to another user") << "foreign owner" << true;
#ifdef Q_OS_WIN
    QTest::newRow("the day's file has an owner nobody can read") << "unknown owner" << true;
#else
    QTest::newRow("the day's file is a FIFO nobody reads") << "fifo" << true;
    QTest::newRow("the day's file is a link to a file elsewhere") << "link" << true;
    QTest::newRow("the day's file is a second name of another file of the user")
        << "hard link" << true;
#endif
    QTest::newRow("the day's file is a directory in the user's folder as well")
        << "directory" << false;
}

void tst_quillmark_log::failing_disk()
{
    QFETCH(QString, breakage);
    QFETCH(bool, user_folder);

    const QString today_file = day_file(QDate(2025, 6, 14));
    if (breakage != "plain file")
        QVERIFY(QDir().mkpath(log_dir()));
    if (!user_folder)
        QVERIFY(QDir().mkpath(user_day_file(QDate(2025, 6, 14))));
    if (breakage == "full device") {
        QVERIFY(QFile::link("/dev/full", today_file));
    } else if (breakage == "plain file") {
        QFile blocker(log_dir());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    } else if (breakage == "foreign owner" || breakage == "unknown owner") {
        QVERIFY(QFile(today_file).open(QIODevice::WriteOnly));
#ifdef Q_OS_WIN
        // Wine keeps no owners: the lookup reports them instead.
        g_next_owner = breakage == "foreign owner"
                           ? QByteArray("\x01\x01\0\0\0\0\0\x01\0\0\0\0", 12)
                           : QByteArray();
        quillmark_detail::set_owner_lookup(reported_owner);
#else
        if (::geteuid() != 0)
            QSKIP("only root can give a file away");
        QCOMPARE(::chown(QFile::encodeName(today_file).constData(), 65534, 65534), 0);
    } else if (breakage == "fifo") {
        QCOMPARE(mkfifo(QFile::encodeName(today_file).constData(), 0622), 0);
    } else if (breakage == "hard link") {
        QFile target(link_target());
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write("# the user's own settings\n");
        target.close();
        QCOMPARE(::link(QFile::encodeName(link_target()).constData(),
                        QFile::encodeName(today_file).constData()),
                 0);
#endif
    } else if (breakage == "link") {
        QVERIFY(QFile(link_target()).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(link_target(), today_file));
    } else {
        QVERIFY(QDir().mkpath(today_file));
    }
    const QByteArray target_bytes = file_bytes(link_target());
    const qint64 size_before = QFileInfo(today_file).size();

    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect_message);
    {
        quillmark log;
        log.write_log(QStringLiteral("first line"));
        const int messages_after_first_line = g_messages.size();
        for (int i = 0; i < 2000; ++i)
            log.write_log(QStringLiteral("line %1").arg(i));
        QCOMPARE(g_messages.size(), messages_after_first_line);

        if (breakage == "plain file")
            QVERIFY(QFile::remove(log_dir()));
        set_time(at("2025-06-15T00:00:01.000"));
        log.write_log(QStringLiteral("good line"));
    }
    qInstallMessageHandler(previous);
#ifdef Q_OS_WIN
    quillmark_detail::set_owner_lookup(nullptr);
#endif

    // The same lines in the user's folder, nothing in the program's; back there the next day.
    const QStringList user_lines = file_lines(user_day_file(QDate(2025, 6, 14)));
    QCOMPARE(user_lines.size(), user_folder ? 2001 : 0);
    if (user_folder) {
        QCOMPARE(user_lines.first(), QStringLiteral("first line"));
        QCOMPARE(user_lines.last(), QStringLiteral("line 1999"));
    }
    QCOMPARE(QFileInfo(today_file).size(), size_before);
    QCOMPARE(file_bytes(link_target()), target_bytes);
    QFile::remove(link_target());
    QCOMPARE(file_bytes(day_file(QDate(2025, 6, 15))), QByteArray("good line") + line_end);
    QVERIFY(!QFile::exists(user_day_file(QDate(2025, 6, 15))));
}

void tst_quillmark_log::user_folder_path_data()
{
    // Where a line goes when the program's folder cannot take it: the user's folder below the
    // state folder, or below the home when that path is not safe, or nowhere. Nothing reaches
    // a folder that a link or another user chose.
    QTest::addColumn<QString>("planted");
    QTest::addColumn<QString>("lands");
#ifdef Q_OS_WIN
    QTest::newRow("Tarnwell belongs to another user: nowhere") << "foreign Tarnwell"
                                                               << "nowhere";
#else
    QTest::newRow("a link at tarnwell: the home's folder") << "linked tarnwell"
                                                           << "home";
    QTest::newRow("a link at tarnwell/logs: the home's folder") << "linked logs"
                                                                << "home";
    QTest::newRow("tarnwell is another user's folder: the home's folder") << "foreign tarnwell"
                                                                          << "home";
    QTest::newRow("the state folder in another user's folder, as for root through su: the home's")
        << "foreign state"
        << "home";
    QTest::newRow("the state folder open to all without the sticky bit: the home's folder")
        << "open state"
        << "home";
    QTest::newRow("the user's own tarnwell/logs open to others is narrowed") << "open logs"
                                                                             << "state";
    QTest::newRow("logs made beside the program under umask 000 is open to no one else")
        << "umask 000"
        << "program";
#endif
}

void tst_quillmark_log::user_folder_path()
{
    QFETCH(QString, planted);
    QFETCH(QString, lands);

    const QString name = quillmark_detail::log_file_name(QDate(2025, 6, 14));
    QString expected;
    if (lands == "program")
        expected = day_file(QDate(2025, 6, 14));
    else if (lands != "nowhere")
        expected = user_day_file(QDate(2025, 6, 14));
    if (planted != "umask 000") {
        QFile blocker(log_dir());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
#ifdef Q_OS_WIN
    // Wine keeps no owners: the lookup reports another one for the folder alone.
    quillmark_detail::set_owner_lookup(owner_by_folder);
    {
        quillmark log;
        log.write_log(QStringLiteral("the line"));
    }
    quillmark_detail::set_owner_lookup(nullptr);
    QVERIFY(!QFile::exists(user_day_file(QDate(2025, 6, 14))));
#else
    // A folder of its own: the planted parts are gone with it.
    QTemporaryDir row(m_state.path() + QStringLiteral("/row-XXXXXX"));
    QVERIFY(row.isValid());
    QString state = row.filePath(QStringLiteral("state"));
    const QString home = row.filePath(QStringLiteral("home"));
    const QString elsewhere = row.filePath(QStringLiteral("elsewhere"));
    const auto chown_away = [](const QString& path) {
        return ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
    };
    const auto set_mode = [](const QString& path, mode_t mode) {
        return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
    };
    if (planted.startsWith("foreign") && ::geteuid() != 0)
        QSKIP("only root can give a folder away");
    if (planted == "foreign state") {
        state = row.filePath(QStringLiteral("other/state"));
        QVERIFY(QDir().mkpath(state));
        QVERIFY(chown_away(row.filePath(QStringLiteral("other"))) && chown_away(state));
        QVERIFY(set_mode(row.filePath(QStringLiteral("other")), 0755) && set_mode(state, 0755));
    } else if (planted == "open state") {
        state = row.filePath(QStringLiteral("open"));
        QVERIFY(QDir().mkpath(state));
        QVERIFY(set_mode(state, 0777));
    }
    QVERIFY(QDir().mkpath(state) && QDir().mkpath(home) && QDir().mkpath(elsewhere));
    qputenv("XDG_STATE_HOME", QFile::encodeName(state));
    qputenv("HOME", QFile::encodeName(home));
    const QString own = state + QStringLiteral("/tarnwell");
    if (planted == "linked tarnwell") {
        QVERIFY(QFile::link(elsewhere, own));
    } else if (planted == "linked logs") {
        QVERIFY(QDir().mkpath(own));
        QVERIFY(QFile::link(elsewhere, own + QStringLiteral("/logs")));
    } else if (planted == "foreign tarnwell") {
        QVERIFY(QDir().mkpath(own + QStringLiteral("/logs")));
        QVERIFY(chown_away(own) && chown_away(own + QStringLiteral("/logs")));
    } else if (planted == "open logs") {
        QVERIFY(QDir().mkpath(own + QStringLiteral("/logs")));
        QVERIFY(set_mode(own, 0777) && set_mode(own + QStringLiteral("/logs"), 0777));
    }
    if (lands == "home")
        expected = home + QStringLiteral("/.local/state/tarnwell/logs/") + name;
    else if (lands == "state")
        expected = own + QStringLiteral("/logs/") + name;

    const mode_t umask_before = ::umask(planted == "umask 000" ? 0 : 0022);
    {
        quillmark log;
        log.write_log(QStringLiteral("the line"));
    }
    ::umask(umask_before);

    // The one file of the day, in the one place; the user's folders private.
    QStringList found;
    QDirIterator files(row.path(), {name}, QDir::Files | QDir::System | QDir::Hidden,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        found << files.next();
    if (QFileInfo(day_file(QDate(2025, 6, 14))).isFile())
        found << day_file(QDate(2025, 6, 14));
    QCOMPARE(found, QStringList{expected});
    struct stat info;
    if (lands == "program") {
        QCOMPARE(::stat(QFile::encodeName(log_dir()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0022, mode_t(0));
    } else {
        for (const QString& folder : {own, own + QStringLiteral("/logs")}) {
            if (lands != "state")
                break;
            QCOMPARE(::stat(QFile::encodeName(folder).constData(), &info), 0);
            QCOMPARE(info.st_mode & 07777, mode_t(0700));
        }
    }
#endif
    if (!expected.isEmpty())
        QCOMPARE(file_lines(expected), QStringList{QStringLiteral("the line")});
}

#ifndef Q_OS_WIN
void tst_quillmark_log::refused_lines_are_not_written_later()
{
    quillmark log;
    log.write_log(QStringLiteral("kept 1"));
    const QString path = day_file(QDate(2025, 6, 14));
    const qint64 size = QFileInfo(path).size();
    QCOMPARE(size, qint64(7));

    // The process may not grow any file past its present size: every write fails until the
    // limit is lifted again, as on a disk that is full for a while.
    rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous_signal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(size);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
    for (int i = 0; i < 100; ++i)
        log.write_log(QStringLiteral("refused %1").arg(i));
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, previous_signal);

    log.write_log(QStringLiteral("kept 2"));
    QCOMPARE(file_bytes(path), QByteArray("kept 1") + line_end + "kept 2" + line_end);
}
#endif

#ifdef Q_OS_WIN
void tst_quillmark_log::windows_file_path_and_line_ends()
{
    // The program's folder as Qt gives it (forward slashes), then backslashes: used unchanged.
    const QString app_dir = QCoreApplication::applicationDirPath();
    QVERIFY(app_dir.contains('/'));
    QCOMPARE(log_dir(), app_dir + QStringLiteral("\\logs"));
    QCOMPARE(day_file(QDate(2025, 6, 14)),
             app_dir + QStringLiteral("\\logs\\2025-06-14_tarnwell.log"));

    {
        quillmark log;
        log.write_log(QStringLiteral("first\nsecond"));
        log.write_log(QStringLiteral("third"));
    }
    // Text mode: every line end, inside a message too, is CR LF in the file.
    QCOMPARE(file_bytes(day_file(QDate(2025, 6, 14))), QByteArray("first\r\nsecond\r\nthird\r\n"));
}
#endif

QTEST_GUILESS_MAIN(tst_quillmark_log)
#include "tst_quillmark_log.moc"
