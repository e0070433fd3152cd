#include <quillmark/quillmark_log.h>
#include <quillmark/quillmarkv2.h>

#include "log_line.h"
#include "log_test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace log_test;

namespace {

std::atomic<bool> g_noisy{false};

// A clock that, while g_noisy is set, emits a Qt message itself, as a file layer warning from
// inside the handler would.
qint64 noisy_clock()
{
    if (g_noisy.load())
        qWarning("emitted while the line is written");
    return g_now.load();
}

std::atomic<int> g_foreign_calls{0};

void foreign_handler(QtMsgType, const QMessageLogContext&, const QString&)
{
    g_foreign_calls.fetch_add(1);
}

// "2031-05-06 23:59:59.900" -> "2031-05-06 23:59:59:900\t<thread>\t[INFO]\t<message>\n"
QByteArray info_line(const QString& local_time, const QByteArray& message)
{
    QByteArray stamp = local_time.toLatin1();
    stamp[19] = ':';
    return stamp + '\t' + thread_text() + "\t[INFO]\t" + message + '\n';
}

// Where a link in the log folder may point.
QString elsewhere()
{
    return QDir::tempPath() + QStringLiteral("/quillmarkv2_link_target");
}

} // namespace

class tst_quillmarkv2 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void line_layout_data();
    void line_layout();
    void roll_over_data();
    void roll_over();
    void second_start_the_same_day_appends();
    void no_file_data();
    void no_file();
    void locale_codec_other_than_utf8();
    void message_from_inside_the_handler_is_dropped();
    void destroy_then_same_day_and_next_day();
    void singleton_life();
    void host_bytes_written_through_the_file_object_come_first_data();
    void host_bytes_written_through_the_file_object_come_first();
    void thread_value_in_a_forked_child_data();
    void thread_value_in_a_forked_child();

private:
    QTemporaryDir m_state;
    QtMessageHandler m_handler = nullptr;
    quillmarkv2* log() { return quillmarkv2::get_instance(); }
};

void tst_quillmarkv2::initTestCase()
{
    // The user's own log folder inside the test's folder, not in the home of whoever runs it.
    QVERIFY(m_state.isValid());
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path()));
    quillmark_detail::set_clock(&fixed_clock);
    set_now(QStringLiteral("2031-05-06 07:08:09.045"));
    remove_log_dir();
    log()->initialize(true);
    m_handler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(m_handler);
    QVERIFY(m_handler != nullptr);
}

void tst_quillmarkv2::init()
{
    quillmark_detail::set_clock(&fixed_clock);
    set_now(QStringLiteral("2031-05-06 07:08:09.045"));
    log()->destroy();
    remove_log_dir();
    QDir(tnw_test::user_log_dir()).removeRecursively();
    qInstallMessageHandler(m_handler);
}

void tst_quillmarkv2::cleanup()
{
    quillmark_detail::set_clock(&fixed_clock);
    remove_log_dir();
}

void tst_quillmarkv2::line_layout_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("function");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("debug");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray fn("bool tnw::check(int)");
    const QByteArray head("2031-05-06 07:08:09:045\t<T>\t");

    QTest::newRow("a debug line is written when debug lines are on")
        << int(QtDebugMsg) << fn << 12 << "starting" << true << head + "[DEBUG]\tstarting\n";
    QTest::newRow("a debug line leaves no trace when debug lines are off")
        << int(QtDebugMsg) << fn << 12 << "starting" << false << QByteArray();
    QTest::newRow("an info line carries neither function nor line")
        << int(QtInfoMsg) << fn << 12 << "banner" << true << head + "[INFO]\tbanner\n";
    QTest::newRow("an info line stays with debug lines off")
        << int(QtInfoMsg) << fn << 12 << "banner" << false << head + "[INFO]\tbanner\n";
    QTest::newRow("a warning names its function and line")
        << int(QtWarningMsg) << fn << 42 << "disk full" << true
        << head + "[WARNING]\tbool tnw::check(int)\t[42]\tdisk full\n";
    QTest::newRow("a warning without context has an empty function and line 0")
        << int(QtWarningMsg) << QByteArray() << 0 << "no context" << false
        << head + "[WARNING]\t\t[0]\tno context\n";
    QTest::newRow("a line number below zero keeps its sign")
        << int(QtWarningMsg) << fn << -2147483647 - 1 << "odd context" << true
        << head + "[WARNING]\tbool tnw::check(int)\t[-2147483648]\todd context\n";
    QTest::newRow("a critical line names its function and line")
        << int(QtCriticalMsg) << fn << 7 << "broken" << false
        << head + "[CRITICAL]\tbool tnw::check(int)\t[7]\tbroken\n";
    QTest::newRow("a fatal line is in the file when the handler returns")
        << int(QtFatalMsg) << fn << 99 << "giving up" << false
        << head + "[FATAL]\tbool tnw::check(int)\t[99]\tgiving up\n";
    QTest::newRow("a type the logger does not know writes nothing")
        << 17 << fn << 3 << "unknown" << true << QByteArray();
    QTest::newRow("line breaks inside a message are written as they are")
        << int(QtInfoMsg) << fn << 1 << "first\nsecond\r\nthird" << true
        << head + "[INFO]\tfirst\nsecond\r\nthird\n";
    QTest::newRow("an empty message still makes a line")
        << int(QtInfoMsg) << fn << 1 << "" << true << head + "[INFO]\t\n";
    QTest::newRow("non-ASCII text is written in the locale's encoding")
        << int(QtWarningMsg) << fn << 5
        << QString::fromUtf8("Gr\xc3\xbc\xc3\x9f\x65 \xec\x95\x88\xeb\x85\x95") << true
        << head + "[WARNING]\tbool tnw::check(int)\t[5]\tGr\xc3\xbc\xc3\x9f\x65 "
                  "\xec\x95\x88\xeb\x85\x95\n";
    // The ASCII check goes eight units at a time, then one by one.
    QTest::newRow("one non-ASCII letter in the second eight")
        << int(QtInfoMsg) << fn << 1 << QString::fromUtf8("123456789\xc3\xa9zzzzzz") << true
        << head + "[INFO]\t123456789\xc3\xa9zzzzzz\n";
    QTest::newRow("one non-ASCII letter after the last eight")
        << int(QtInfoMsg) << fn << 1 << QString::fromUtf8("12345678\xc3\xa9") << true
        << head + "[INFO]\t12345678\xc3\xa9\n";
    QTest::newRow("a function name is read as Latin-1")
        << int(QtWarningMsg) << QByteArray("\xe9t\xe9") << 5 << "x" << true
        << head + "[WARNING]\t\xc3\xa9t\xc3\xa9\t[5]\tx\n";
    QTest::newRow("a message far longer than the line buffer is written whole")
        << int(QtWarningMsg) << fn << 8 << QString(100000, QLatin1Char('x')) << true
        << head + "[WARNING]\tbool tnw::check(int)\t[8]\t" + QByteArray(100000, 'x') + '\n';
    QTest::newRow("a long non-ASCII message is written whole")
        << int(QtInfoMsg) << fn << 1 << QString(30000, QChar(0xE9)) << true
        << head + "[INFO]\t" + QString(30000, QChar(0xE9)).toUtf8() + '\n';
    QTest::newRow("a short line after long ones")
        << int(QtInfoMsg) << fn << 1 << "short" << true << head + "[INFO]\tshort\n";
    QTest::newRow("an unpaired surrogate is written as a question mark")
        << int(QtInfoMsg) << fn << 1 << (QStringLiteral("a") + QChar(0xD800)) << true
        << head + "[INFO]\ta?\n";
}

void tst_quillmarkv2::line_layout()
{
    QFETCH(int, type);
    QFETCH(QByteArray, function);
    QFETCH(int, line);
    QFETCH(QString, message);
    QFETCH(bool, debug);
    QFETCH(QByteArray, expected);

    log()->initialize(debug);
    const QString path = day_file(QStringLiteral("2031-05-06"));
    const QByteArray before = file_bytes(path);
    const QMessageLogContext context("source.cpp", line,
                                     function.isNull() ? nullptr : function.constData(), "default");
    m_handler(static_cast<QtMsgType>(type), context, message);

    const QByteArray after = file_bytes(path);
    QVERIFY(after.startsWith(before));
    QCOMPARE(after.mid(before.size()), expected.replace("<T>", thread_text()));
}

void tst_quillmarkv2::roll_over_data()
{
    // Each step is "<local time>|<message>"; each file is "<day>|<messages, comma separated>".
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("the first message after midnight opens the next day's file")
        << QStringList{"2031-05-06 23:59:59.900|last", "2031-05-07 00:00:00.000|first",
                       "2031-05-07 00:00:01.500|second"}
        << QStringList{"2031-05-06|last", "2031-05-07|first,second"} << QStringList();
    QTest::newRow("a clock set back goes back to the earlier day's file")
        << QStringList{"2031-05-06 23:59:59.000|a", "2031-05-07 00:00:00.200|b",
                       "2031-05-06 23:59:59.500|c"}
        << QStringList{"2031-05-06|a,c", "2031-05-07|b"} << QStringList();
    QTest::newRow("a day without messages leaves no file")
        << QStringList{"2031-05-06 12:00:00.000|a", "2031-05-08 00:00:00.001|b"}
        << QStringList{"2031-05-06|a", "2031-05-08|b"} << QStringList{"2031-05-07"};
    QTest::newRow("a year's end is a day's end")
        << QStringList{"2031-12-31 23:59:59.999|old", "2032-01-01 00:00:00.000|new"}
        << QStringList{"2031-12-31|old", "2032-01-01|new"} << QStringList();
    QTest::newRow("many lines within one second keep their own milliseconds")
        << QStringList{"2031-05-06 10:00:00.000|a", "2031-05-06 10:00:00.001|b",
                       "2031-05-06 10:00:00.999|c", "2031-05-06 10:00:01.000|d"}
        << QStringList{"2031-05-06|a,b,c,d"} << QStringList();
}

void tst_quillmarkv2::roll_over()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, files);
    QFETCH(QStringList, absent);

    QHash<QString, QByteArray> expected;
    for (int i = 0; i < steps.size(); ++i) {
        const QStringList step = steps.at(i).split(QLatin1Char('|'));
        set_now(step.at(0));
        if (i == 0)
            log()->initialize(true);
        qInfo().noquote() << step.at(1);
        expected[step.at(0).left(10)] += info_line(step.at(0), step.at(1).toLatin1());
    }
    for (const QString& file : files) {
        const QString day = file.section(QLatin1Char('|'), 0, 0);
        QCOMPARE(file_bytes(day_file(day)), expected.value(day));
    }
    for (const QString& day : absent)
        QVERIFY2(!QFile::exists(day_file(day)), qPrintable(day));
    QVERIFY(log()->check_compare_date());
}

void tst_quillmarkv2::second_start_the_same_day_appends()
{
    QDir().mkpath(log_dir());
    const QString path = day_file(QStringLiteral("2031-05-06"));
    {
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("a line of the first run\n");
    }
    // A fresh instance, as in a second run of the program.
    log()->destroy();
    quillmarkv2::exit_instance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    log()->initialize(true);
    qInfo("second run");
    QCOMPARE(file_bytes(path),
             QByteArray("a line of the first run\n") +
                 info_line(QStringLiteral("2031-05-06 07:08:09.045"), "second run"));
}

void tst_quillmarkv2::no_file_data()
{
    // Where the program's day file cannot take this user's lines, they go to the same name in
    // the user's own folder; rows whose day name is a directory there as well keep none.
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("user_folder");

    QTest::newRow("logs is a plain file") << "plain file" << false << false;
    QTest::newRow("the day's file is a directory") << "directory" << false << false;
    QTest::newRow("logs may not be written to") << "read-only" << false << false;
    QTest::newRow("the day's file is a link, even to a full disk") << "full disk" << false << false;
    QTest::newRow("the day's file is a link to a file elsewhere") << "link" << false << false;
    QTest::newRow("the day's file is a link to a file not there yet")
        << "dangling link" << false << false;
    QTest::newRow("the day's file is a FIFO nobody reads") << "fifo" << false << false;
    QTest::newRow("the day's file belongs to another user") << "foreign owner" << false << false;
    QTest::newRow("logs may be a link to a folder; the file is made private")
        << "linked folder" << true << false;
    QTest::newRow("the day's name taken by a directory: the user's folder")
        << "directory" << false << true;
    QTest::newRow("another user's day file: the user's folder") << "foreign owner" << false << true;
    QTest::newRow("the day's file a second name of another file of the user: the user's folder")
        << "hard link" << false << true;
}

void tst_quillmarkv2::no_file()
{
    QFETCH(QString, obstacle);
    QFETCH(bool, opens);
    QFETCH(bool, user_folder);

    const QString path = day_file(QStringLiteral("2031-05-06"));
    const QString user_path = tnw_test::user_log_dir() + QStringLiteral("/2031-05-06_tarnwell.log");
    if (!user_folder)
        QVERIFY(QDir().mkpath(user_path));
    if (obstacle == QLatin1String("plain file")) {
        QFile plain(log_dir());
        QVERIFY(plain.open(QIODevice::WriteOnly));
    } else if (obstacle == QLatin1String("directory")) {
        QVERIFY(QDir().mkpath(path));
    } else if (obstacle == QLatin1String("read-only")) {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only directories");
        QVERIFY(QDir().mkpath(log_dir()));
        QVERIFY(QFile::setPermissions(log_dir(), QFile::ReadOwner | QFile::ExeOwner));
    } else if (obstacle == QLatin1String("full disk")) {
        QVERIFY(QDir().mkpath(log_dir()));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
    } else if (obstacle == QLatin1String("link") || obstacle == QLatin1String("dangling link")) {
        QVERIFY(QDir().mkpath(log_dir()));
        QFile::remove(elsewhere());
        if (obstacle == QLatin1String("link"))
            QVERIFY(QFile(elsewhere()).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(elsewhere(), path));
    } else if (obstacle == QLatin1String("fifo")) {
        QVERIFY(QDir().mkpath(log_dir()));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0622), 0);
    } else if (obstacle == QLatin1String("hard link")) {
        QVERIFY(QDir().mkpath(log_dir()));
        QFile target(elsewhere());
        QVERIFY(target.open(QIODevice::WriteOnly));
        QCOMPARE(target.write("settings\n"), qint64(9));
        target.close();
        QCOMPARE(
            ::link(QFile::encodeName(elsewhere()).constData(), QFile::encodeName(path).constData()),
            0);
    } else if (obstacle == QLatin1String("foreign owner")) {
        if (::geteuid() != 0)
            QSKIP("only root can give a file away");
        QVERIFY(QDir().mkpath(log_dir()));
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    } else {
        QVERIFY(QDir().mkpath(log_dir() + QStringLiteral("_elsewhere")));
        QVERIFY(QFile::link(log_dir() + QStringLiteral("_elsewhere"), log_dir()));
    }

    const qint64 size_before = QFileInfo(path).size();

    log()->initialize(true);
    QCOMPARE(log()->get_file_object() != nullptr, opens || user_folder);
    qInfo("info");
    qWarning("warning");
    qDebug("debug");
    QVERIFY(log()->check_compare_date());
    QCOMPARE(file_bytes(user_path).count('\n'), user_folder ? 3 : 0);
    if (user_folder) {
        QVERIFY(file_bytes(user_path).startsWith(
            info_line(QStringLiteral("2031-05-06 07:08:09.045"), "info")));
        QCOMPARE(QFileInfo(path).size(), size_before);
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(user_path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
    }
    if (obstacle == QLatin1String("link"))
        QCOMPARE(file_bytes(elsewhere()), QByteArray());
    if (obstacle == QLatin1String("hard link"))
        QCOMPARE(file_bytes(elsewhere()), QByteArray("settings\n"));
    if (obstacle == QLatin1String("dangling link"))
        QVERIFY(!QFile::exists(elsewhere()));
    QFile::remove(elsewhere());
    if (opens) {
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
        QDir(log_dir() + QStringLiteral("_elsewhere")).removeRecursively();
    }

    // The obstacle goes; the same day still writes nothing there, the next day's first line
    // does.
    remove_log_dir();
    set_now(QStringLiteral("2031-05-06 23:59:59.999"));
    qInfo("still the same day");
    QVERIFY(!QFile::exists(path) || file_bytes(path).isEmpty());
    set_now(QStringLiteral("2031-05-07 00:00:00.001"));
    qInfo("next day");
    QVERIFY(log()->get_file_object() != nullptr);
    QCOMPARE(file_bytes(day_file(QStringLiteral("2031-05-07"))),
             info_line(QStringLiteral("2031-05-07 00:00:00.001"), "next day"));
    QVERIFY(!QFile::exists(tnw_test::user_log_dir() + QStringLiteral("/2031-05-07_tarnwell.log")));
}

void tst_quillmarkv2::locale_codec_other_than_utf8()
{
    // The handler looks the codec up again with each new second, so the change shows from the
    // next second on.
    QTextCodec* const utf8 = QTextCodec::codecForLocale();
    log()->initialize(true);
    qInfo("before");
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    set_now(QStringLiteral("2031-05-06 07:08:10.000"));
    qInfo().noquote() << QString::fromUtf8("Gr\xc3\xbc\xc3\x9f\x65 \xe2\x82\xac");
    QTextCodec::setCodecForLocale(utf8);
    set_now(QStringLiteral("2031-05-06 07:08:11.000"));
    qInfo().noquote() << QString::fromUtf8("\xc3\xbc");
    QCOMPARE(file_bytes(day_file(QStringLiteral("2031-05-06"))),
             info_line(QStringLiteral("2031-05-06 07:08:09.045"), "before") +
                 info_line(QStringLiteral("2031-05-06 07:08:10.000"), "Gr\xfc\xdf\x65 ?") +
                 info_line(QStringLiteral("2031-05-06 07:08:11.000"), "\xc3\xbc"));
}

void tst_quillmarkv2::message_from_inside_the_handler_is_dropped()
{
    log()->initialize(true);
    quillmark_detail::set_clock(&noisy_clock);
    g_noisy.store(true);
    qInfo("outer"); // without the re-entry guard this waits for its own lock for ever
    g_noisy.store(false);
    QCOMPARE(file_bytes(day_file(QStringLiteral("2031-05-06"))),
             info_line(QStringLiteral("2031-05-06 07:08:09.045"), "outer"));
}

void tst_quillmarkv2::destroy_then_same_day_and_next_day()
{
    log()->initialize(true);
    qInfo("before");
    log()->destroy();
    QVERIFY(log()->get_file_object() == nullptr);
    log()->destroy(); // nothing to release: no effect
    set_now(QStringLiteral("2031-05-06 23:00:00.000"));
    qInfo("after destroy");
    qWarning("after destroy");
    QVERIFY(log()->get_file_object() == nullptr);
    QCOMPARE(file_bytes(day_file(QStringLiteral("2031-05-06"))),
             info_line(QStringLiteral("2031-05-06 07:08:09.045"), "before"));

    set_now(QStringLiteral("2031-05-07 08:00:00.000"));
    qInfo("next day");
    QCOMPARE(file_bytes(day_file(QStringLiteral("2031-05-07"))),
             info_line(QStringLiteral("2031-05-07 08:00:00.000"), "next day"));
}

void tst_quillmarkv2::singleton_life()
{
    quillmarkv2* first = quillmarkv2::get_instance();
    QCOMPARE(quillmarkv2::get_instance(), first);
    first->destroy();
    quillmarkv2::exit_instance();
    quillmarkv2* fresh = quillmarkv2::get_instance();
    QVERIFY(fresh != first);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(!fresh->is_debug());
    QVERIFY(!fresh->check_compare_date());
    QVERIFY(fresh->get_file_object() == nullptr);

    // The handler stays installed; the fresh logger's null date opens today's file.
    qDebug("not written: debug lines are off until initialize");
    qInfo("to the fresh logger");
    QVERIFY(fresh->check_compare_date());
    QCOMPARE(file_bytes(day_file(QStringLiteral("2031-05-06"))),
             info_line(QStringLiteral("2031-05-06 07:08:09.045"), "to the fresh logger"));

    set_now(QStringLiteral("2031-05-07 00:00:00.000"));
    QVERIFY(!fresh->check_compare_date());
    fresh->set_file_object();
    QVERIFY(fresh->check_compare_date());
    QVERIFY(QFile::exists(day_file(QStringLiteral("2031-05-07"))));

    // initialize drops the handler that was there, it does not chain to it.
    qInstallMessageHandler(&foreign_handler);
    fresh->initialize(true);
    qInfo("not for the foreign handler");
    QCOMPARE(g_foreign_calls.load(), 0);
    QVERIFY(fresh->is_debug());
}

void tst_quillmarkv2::host_bytes_written_through_the_file_object_come_first_data()
{
    // Under the lock the host may also check the date, switch the file and let go of it.
    QTest::addColumn<QString>("host_time");
    QTest::addColumn<bool>("switch_day");
    QTest::addColumn<bool>("destroy");
    QTest::addColumn<QString>("next_time");

    QTest::newRow("bytes left in the object")
        << "2031-05-06 07:08:09.045" << false << false << "2031-05-06 07:08:09.045";
    QTest::newRow("the host switches to the new day under the lock")
        << "2031-05-07 00:00:00.010" << true << false << "2031-05-07 00:00:00.020";
    QTest::newRow("the host switches and lets go of the file under the lock")
        << "2031-05-07 00:00:00.010" << true << true << "2031-05-08 00:00:00.020";
}

void tst_quillmarkv2::host_bytes_written_through_the_file_object_come_first()
{
    // A host may take the lock and write to the file object itself; what it left in the
    // object's buffer belongs before the next line.
    QFETCH(QString, host_time);
    QFETCH(bool, switch_day);
    QFETCH(bool, destroy);
    QFETCH(QString, next_time);

    log()->initialize(true);
    set_now(host_time);
    std::atomic<bool> done{false};
    std::atomic<bool> switched{false};
    std::thread host([&] {
        QWriteLocker locker(log()->get_lock());
        if (!log()->check_compare_date()) {
            log()->set_file_object();
            switched.store(true);
        }
        if (QFile* file = log()->get_file_object()) {
            file->write("host bytes\n");
            if (destroy)
                file->flush();
        }
        if (destroy)
            log()->destroy();
        done.store(true);
    });
    QDeadlineTimer patience(20000);
    while (!done.load() && !patience.hasExpired())
        QThread::msleep(5);
    if (!done.load()) {
        // The host's thread holds the lock for good: nothing after this could finish.
        std::fprintf(stderr, "FAIL: the host's calls under the lock do not return\n");
        std::_Exit(1);
    }
    host.join();
    QVERIFY(log()->check_compare_date()); // after destroy() too: the date stays
    set_now(next_time);
    qInfo("after the host");
    QCOMPARE(file_bytes(day_file(host_time.left(10))),
             QByteArray("host bytes\n") +
                 (destroy ? QByteArray() : info_line(next_time, "after the host")));
    if (destroy)
        QCOMPARE(file_bytes(day_file(next_time.left(10))), info_line(next_time, "after the host"));
    QCOMPARE(switched.load(), switch_day);
}

void tst_quillmarkv2::thread_value_in_a_forked_child_data()
{
    QTest::addColumn<bool>("exports");
    QTest::newRow("the handler writes the child's own thread") << false;
    QTest::newRow("the exports write the child's own thread") << true;
}

void tst_quillmarkv2::thread_value_in_a_forked_child()
{
    QFETCH(bool, exports);
    const auto log_line = [exports](const char* text) {
        if (exports)
            INFO("%s", text);
        else
            qInfo("%s", text);
    };
    log()->initialize(true);
    log_line("parent");
    const pid_t child = ::fork();
    if (child == 0) {
        log_line("child");
        ::_exit(0);
    }
    QVERIFY(child > 0);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const QList<QByteArray> lines = file_bytes(day_file(QStringLiteral("2031-05-06"))).split('\n');
    QCOMPARE(lines.size(), 3);
    // "<stamp>\t<thread>\t[INFO]..." or "<stamp>    <thread> [INFO] ..."
    const auto thread_of = [exports](const QByteArray& line) {
        return exports ? line.mid(27).split(' ').at(0) : line.split('\t').at(1);
    };
    QCOMPARE(thread_of(lines.at(0)), thread_text());
    QCOMPARE(thread_of(lines.at(1)), QByteArray::number(child));
}

QTEST_GUILESS_MAIN(tst_quillmarkv2)
#include "tst_quillmarkv2.moc"
