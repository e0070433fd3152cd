#include "platform/start_detached.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#ifndef Q_OS_WIN
#include <csignal>

#include <pthread.h>
#include <unistd.h>
#endif

namespace {

const QString child = QStringLiteral(TNW_START_DETACHED_CHILD);

} // namespace

class tst_start_detached : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void arguments_arrive_one_each_unchanged_data();
    void arguments_arrive_one_each_unchanged();
#ifndef Q_OS_WIN
    void started_program_leaves_the_session_and_gets_default_signals();
#endif
    void program_without_separator_is_found_in_path();
    void unstartable_program_gives_false_data();
    void unstartable_program_gives_false();

private:
    // The started child's record: how it was started, then its arguments; empty when it never
    // wrote one.
    QList<QByteArray> record_of(const QString& path);
    QString record_path() const
    {
        return m_dir->filePath(QStringLiteral("record"));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_start_detached::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QList<QByteArray> tst_start_detached::record_of(const QString& path)
{
    // The child runs detached, so the only sign of its end is the record appearing.
    for (int waited = 0; waited < 10000 && !QFileInfo::exists(path); waited += 10)
        QTest::qWait(10);
    // Windows may refuse to share the file for a moment right after the child renamed it.
    QFile file(path);
    for (int waited = 0; !file.open(QIODevice::ReadOnly) && waited < 2000; waited += 10)
        QTest::qWait(10);
    if (!file.isOpen())
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeLast(); // after the last line break
    for (int i = 3; i < lines.size(); ++i)
        lines[i] = QByteArray::fromPercentEncoding(lines.at(i));
    return lines;
}

void tst_start_detached::arguments_arrive_one_each_unchanged_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("a sign-on address")
        << QStringList{QStringLiteral("https://127.0.0.1:8443/signin/sso?param=Zm9v-_w==")};
    QTest::newRow("blanks, quotes and shell characters stay inside their argument")
        << QStringList{QStringLiteral("a b \"c\" 'd' $(id) `id`; e | f & g > h \\")};
    QTest::newRow("a leading dash and percent codes")
        << QStringList{QStringLiteral("--flag"), QStringLiteral("%1 %u %% %")};
    QTest::newRow("an empty argument is kept") << QStringList{QString(), QStringLiteral("after")};
    QTest::newRow("a line break inside an argument")
        << QStringList{QStringLiteral("first\nsecond")};
    QTest::newRow("non-ASCII text") << QStringList{QStringLiteral("문서/über")};
    QTest::newRow("no argument at all") << QStringList{};
    // Windows hands a program one command line, which the started program splits again: the
    // start must quote so that the split gives back exactly what was given.
    QTest::newRow("an address with blanks, quotes, %, a leading dash and backslashes")
        << QStringList{QStringLiteral("-https://h/p a\\b\\\"c\" %41%%20 \\\\srv\\x\\")};
    QTest::newRow("backslashes before a closing quote and at the end") << QStringList{
        QStringLiteral("a\\\\\""), QStringLiteral("C:\\Program Files\\"), QStringLiteral("\\")};
    QTest::newRow("a tab and a caret") << QStringList{QStringLiteral("a\tb ^c")};
}

void tst_start_detached::arguments_arrive_one_each_unchanged()
{
    QFETCH(QStringList, arguments);
    QVERIFY(tnw_start_detached(child, QStringList{record_path()} + arguments));
    const QList<QByteArray> record = record_of(record_path());
    QCOMPARE(record.size(), 3 + arguments.size());
    QStringList received;
    for (int i = 3; i < record.size(); ++i)
        received << QString::fromUtf8(record.at(i));
    QCOMPARE(received, arguments);
}

#ifndef Q_OS_WIN
void tst_start_detached::started_program_leaves_the_session_and_gets_default_signals()
{
    // What a starter may have changed must not pass on to the browser.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigset_t old_mask;
    QCOMPARE(pthread_sigmask(SIG_BLOCK, &usr1, &old_mask), 0);
    const auto old_sigpipe = std::signal(SIGPIPE, SIG_IGN);

    const bool started = tnw_start_detached(child, {record_path()});

    std::signal(SIGPIPE, old_sigpipe);
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    QVERIFY(started);
    const QList<QByteArray> record = record_of(record_path());
    QCOMPARE(record.size(), 3);
    QVERIFY(record.at(0).startsWith("session "));
    QVERIFY(record.at(0) != "session " + QByteArray::number(getsid(0)));
    QCOMPARE(record.at(1), QByteArray("SIGPIPE default"));
    QCOMPARE(record.at(2), QByteArray("no signal blocked"));
}
#endif

void tst_start_detached::program_without_separator_is_found_in_path()
{
    const QByteArray old_path = qgetenv("PATH");
    QByteArray path = QFile::encodeName(QDir::toNativeSeparators(QFileInfo(child).absolutePath()));
#ifdef Q_OS_WIN
    // The child finds its DLLs through PATH as well.
    path += ';' + old_path;
#endif
    qputenv("PATH", path);
    const bool started = tnw_start_detached(QFileInfo(child).fileName(), {record_path(), "x"});
    qputenv("PATH", old_path);
    QVERIFY(started);
    QCOMPARE(record_of(record_path()).value(3), QByteArray("x"));
}

void tst_start_detached::unstartable_program_gives_false_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("an empty program name") << QString();
    QTest::newRow("a path that does not exist")
        << QStringLiteral("/nonexistent/tarnwell-test/browser");
    QTest::newRow("a name found nowhere in PATH")
        << QStringLiteral("tarnwell-test-no-such-browser");
    QTest::newRow("a directory") << QStringLiteral("DIR");
    QTest::newRow("a file without execute permission") << QStringLiteral("DIR/plain-file");
}

void tst_start_detached::unstartable_program_gives_false()
{
    QFETCH(QString, program);
    QFile plain(m_dir->filePath(QStringLiteral("plain-file")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.write("#!/bin/sh\n");
    plain.close();
    program.replace(QStringLiteral("DIR"), m_dir->path());
    QVERIFY(!tnw_start_detached(program, {record_path()}));
}

QTEST_GUILESS_MAIN(tst_start_detached)
#include "tst_start_detached.moc"
