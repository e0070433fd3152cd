#include "log_files.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// The log library going away, seen from a host process: the process ends or unloads the
// library while messages keep coming.
class tst_quillmarkv2_teardown : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void host_process_ends_data();
    void host_process_ends();
    void second_run_the_same_day_appends();
    void a_thread_logs_while_the_process_ends();
    void threads_log_while_the_process_ends_data();
    void threads_log_while_the_process_ends();

private:
    struct run_result
    {
        bool finished = false;
        QProcess::ExitStatus status = QProcess::CrashExit;
        int code = -1;
        QByteArray out;
        QByteArray err;
    };

    static QString helper_logs();
    static run_result run_helper(const QString& mode, const QString& shim = TEARDOWN_SHIM,
                                 bool detect_leaks = true);
    // The messages of all day files the helper left, in file order; empty on a torn line.
    static QStringList logged_messages(bool* all_whole);
    // Milliseconds between the time stamps of the last two lines.
    static qint64 last_step();
};

QString tst_quillmarkv2_teardown::helper_logs()
{
    return QFileInfo(QStringLiteral(TEARDOWN_HELPER)).absolutePath() + QStringLiteral("/logs");
}

tst_quillmarkv2_teardown::run_result
tst_quillmarkv2_teardown::run_helper(const QString& mode, const QString& shim, bool detect_leaks)
{
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Memory given back is overwritten at once, so that a late use of it crashes rather than
    // finding what was there.
    env.insert(QStringLiteral("MALLOC_PERTURB_"), QStringLiteral("165"));
    if (!detect_leaks) {
        // The leak checker stops the world at exit and trips over a thread that is still busy.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    }
    helper.setProcessEnvironment(env);
    helper.start(QStringLiteral(TEARDOWN_HELPER), {mode, shim});
    run_result result;
    result.finished = helper.waitForFinished(30000);
    if (!result.finished) {
        helper.kill();
        helper.waitForFinished();
    }
    result.status = helper.exitStatus();
    result.code = helper.exitCode();
    result.out = helper.readAllStandardOutput();
    result.err = helper.readAllStandardError();
    return result;
}

QStringList tst_quillmarkv2_teardown::logged_messages(bool* all_whole)
{
    // The handler's info and warning lines, and the exports' info lines.
    static const QRegularExpression line(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}"
                       "(?:\\t\\d+\\t(?:\\[INFO\\]|\\[WARNING\\]\\t[^\\t]*\\t\\[\\d+\\])\\t|    "
                       "\\d+ \\[INFO\\] )(.*)$"));
    *all_whole = true;
    QStringList messages;
    const QDir dir(helper_logs());
    for (const QString& name : dir.entryList({QStringLiteral("*_tarnwell.log")}, QDir::Files)) {
        const QString path = dir.filePath(name);
        *all_whole = *all_whole && tnw_test::file_bytes(path).endsWith('\n');
        for (const QString& text : tnw_test::file_lines(path)) {
            const QRegularExpressionMatch m = line.match(text);
            *all_whole = *all_whole && m.hasMatch();
            messages << m.captured(1);
        }
    }
    return messages;
}

qint64 tst_quillmarkv2_teardown::last_step()
{
    const QDir dir(helper_logs());
    QStringList lines;
    for (const QString& name : dir.entryList({QStringLiteral("*_tarnwell.log")}, QDir::Files))
        lines += tnw_test::file_lines(dir.filePath(name));
    if (lines.size() < 2)
        return -1;
    const auto stamp = [](const QString& line) {
        return QDateTime::fromString(line.left(23), QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz"));
    };
    return stamp(lines.at(lines.size() - 2)).msecsTo(stamp(lines.last()));
}

void tst_quillmarkv2_teardown::init()
{
    QDir(helper_logs()).removeRecursively();
}

void tst_quillmarkv2_teardown::host_process_ends_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArrayList>("err");
    QTest::addColumn<QStringList>("logged");

    QTest::newRow("a message of a later destructor is written")
        << "exit" << QByteArray() << QByteArrayList{}
        << QStringList{"logged by the helper", "from a static destructor"};
    QTest::newRow("messages after the clean-up, through Qt and the exports, are written")
        << "log-at-exit" << QByteArray() << QByteArrayList{}
        << QStringList{"logged by the helper",
                       "logged through INFO",
                       "from an earlier at-exit function",
                       "from an earlier at-exit function through INFO",
                       "from a static destructor",
                       "from a static destructor through INFO"};
    QTest::newRow("a host's own handler stays when the library goes")
        << "foreign-handler" << QByteArray()
        << QByteArrayList{"host handler: from a static destructor"}
        << QStringList{"logged by the helper"};
    QTest::newRow("a library let go of stays loaded and keeps logging")
        << "unload" << QByteArray("still loaded\n") << QByteArrayList{}
        << QStringList{"logged by the helper", "after unload", "from a static destructor"};
}

void tst_quillmarkv2_teardown::host_process_ends()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArrayList, err);
    QFETCH(QStringList, logged);

    const run_result run = run_helper(mode);
    QVERIFY2(run.finished, "the helper hangs");
    QCOMPARE(run.status, QProcess::NormalExit);
    QVERIFY2(run.code == 0, run.err.constData());
    QCOMPARE(run.out, out);
    for (const QByteArray& text : err)
        QVERIFY2(run.err.contains(text), run.err.constData());
    bool whole = false;
    QCOMPARE(logged_messages(&whole), logged);
    QVERIFY(whole);
}

void tst_quillmarkv2_teardown::second_run_the_same_day_appends()
{
    QCOMPARE(run_helper(QStringLiteral("exit")).code, 0);
    QCOMPARE(run_helper(QStringLiteral("exit")).code, 0);
    bool whole = false;
    QCOMPARE(logged_messages(&whole),
             QStringList({"logged by the helper", "from a static destructor",
                          "logged by the helper", "from a static destructor"}));
    QVERIFY(whole);
}

void tst_quillmarkv2_teardown::a_thread_logs_while_the_process_ends()
{
    // A thread calls the library's handler in a loop while main returns: the library must wait
    // for the line being written, then neither write nor build a new logger.
    const run_result run =
        run_helper(QStringLiteral("exit-while-logging"), QStringLiteral(TEARDOWN_SHIM_SEAM), false);
    QVERIFY2(run.finished, "the helper hangs");
    QCOMPARE(run.status, QProcess::NormalExit);
    QVERIFY2(run.code == 0, run.err.right(3000).constData());
    const QRegularExpressionMatch reported =
        QRegularExpression(QStringLiteral("^worker lines before teardown: (\\d+)\n$"))
            .match(QString::fromLatin1(run.out));
    QVERIFY2(reported.hasMatch(), run.out.constData());
    const int before_teardown = reported.captured(1).toInt();

    bool whole = false;
    const QStringList logged = logged_messages(&whole);
    QVERIFY(whole);
    QVERIFY(logged.size() > 2000);
    QCOMPARE(logged.first(), QStringLiteral("logged by the helper"));
    for (int i = 1; i < logged.size(); ++i)
        QCOMPARE(logged.at(i), QStringLiteral("worker line %1").arg(i - 1));
    // The line the worker was writing when teardown began, a second ahead, is in the file.
    QVERIFY2(last_step() >= 1000, qPrintable(QString::number(last_step())));
    // The line the worker was writing when teardown began may not be counted yet.
    QVERIFY2(
        logged.size() - 1 <= before_teardown + 1,
        qPrintable(QStringLiteral("%1 lines logged, %2 before teardown")
                       .arg(QString::number(logged.size() - 1), QString::number(before_teardown))));
}

void tst_quillmarkv2_teardown::threads_log_while_the_process_ends_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("eight threads log through Qt's messages") << "exit-while-threads-log-qt";
    QTest::newRow("eight threads log through the exports") << "exit-while-threads-log-exports";
}

void tst_quillmarkv2_teardown::threads_log_while_the_process_ends()
{
    // Nothing may be freed or given back to Qt under the writers, nor may a writer still be
    // inside Qt's lock when Qt frees what a contended lock uses. Such a crash shows in a few runs
    // out of a hundred on two cores (more on more), so each row runs many times.
    QFETCH(QString, mode);
    for (int run_number = 0; run_number < 40; ++run_number) {
        QDir(helper_logs()).removeRecursively();
        const run_result run = run_helper(mode, QStringLiteral(TEARDOWN_SHIM), false);
        QVERIFY2(run.finished, "the helper hangs");
        QCOMPARE(run.status, QProcess::NormalExit);
        QVERIFY2(run.code == 0, run.err.right(3000).constData());
        const QDir dir(helper_logs());
        for (const QString& name : dir.entryList({QStringLiteral("*_tarnwell.log")}, QDir::Files))
            QVERIFY2(tnw_test::file_bytes(dir.filePath(name)).endsWith('\n'), "a torn last line");
    }
}

QTEST_GUILESS_MAIN(tst_quillmarkv2_teardown)
#include "tst_quillmarkv2_teardown.moc"
