#include "log_files.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using tnw_test::file_lines;

namespace {

const QRegularExpression export_line(QStringLiteral(
    "^(\\d{4}-\\d{2}-\\d{2}) \\d{2}:\\d{2}:\\d{2}:\\d{3}    (\\d+) (\\[[A-Z]+\\] .*)$"));

const QString handler_mark = QStringLiteral("handler: ");

} // namespace

// Runs the host programs, which see only the library's public headers, and reads what they
// left in the log directory beside them.
class tst_quillmark_log_hosts : public QObject
{
    Q_OBJECT

private slots:
    void host_lines_data();
    void host_lines();
};

void tst_quillmark_log_hosts::host_lines_data()
{
    QTest::addColumn<QString>("host");
    // Empty: run the host where it was built; otherwise from a copy in a folder of this name.
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("scenario");
    // "[LEVEL] message" for a line of the printf-style functions, "handler: message" for a line
    // of the Qt message handler.
    QTest::addColumn<QStringList>("expected");

    const QString c_host = QStringLiteral(QUILLMARK_LOG_C_HOST);
    const QString cpp_host = QStringLiteral(QUILLMARK_LOG_CPP_HOST);
    QTest::newRow("C: debug before any switch writes nothing but makes the day's file")
        << c_host << QString() << "debug-before-any-switch" << QStringList();
    QTest::newRow("C: info, err and suc write while debug stays off")
        << c_host << QString() << "levels"
        << QStringList{"[INFO] info 1", "[ERR] err two", "[SUC] suc 3.5"};
    QTest::newRow("C: debug writes only while debug mode is on")
        << c_host << QString() << "debug-switched"
        << QStringList{"[DEBUG] 3 items", "[INFO] after off"};
    QTest::newRow("C: placeholders inside string arguments stay as they are")
        << c_host << QString() << "placeholders"
        << QStringList{"[INFO] 50%1 done %2", "[INFO] %2 then %1"};
    QTest::newRow("C: a program folder with Korean letters and blanks holds the logs")
        << c_host << QStringLiteral("호스트 폴더 é") << "levels"
        << QStringList{"[INFO] info 1", "[ERR] err two", "[SUC] suc 3.5"};
    QTest::newRow("C++: lines of both loggers land in one file, in order")
        << cpp_host << QString() << "both-loggers"
        << QStringList{"handler: handler line", "[INFO] export line 1", "handler: handler again",
                       "[SUC] export again done"};
    QTest::newRow("C++: the logger outlives the application object and exits cleanly")
        << cpp_host << QString() << "outlives-application"
        << QStringList{"[INFO] with application", "[INFO] without application"};
}

void tst_quillmark_log_hosts::host_lines()
{
    QFETCH(QString, host);
    QFETCH(QString, folder);
    QFETCH(QString, scenario);
    QFETCH(QStringList, expected);

    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    QTemporaryDir copies;
    QVERIFY(copies.isValid());
    if (!folder.isEmpty()) {
        QVERIFY(QDir(copies.path()).mkdir(folder));
        const QString copy = copies.path() + '/' + folder + '/' + QFileInfo(host).fileName();
        QVERIFY(QFile::copy(host, copy));
        host = copy;
    }
    const QString logs = QFileInfo(host).absolutePath() + QStringLiteral("/logs");
    QDir(logs).removeRecursively();

    QProcess process;
    process.setWorkingDirectory(elsewhere.path());
    process.start(host, {scenario});
    QVERIFY(process.waitForStarted(30000));
#ifdef Q_OS_WIN
    QVERIFY(process.waitForFinished(30000));
    // The host tells the number of its main thread, which Windows does not share with the
    // process.
    const qint64 host_thread = process.readAllStandardOutput().trimmed().toLongLong();
    QVERIFY(host_thread > 0);
    QVERIFY(host_thread != process.processId());
#else
    // The host logs from its main thread, whose kernel thread id is the process id.
    const qint64 host_thread = process.processId();
    QVERIFY(process.waitForFinished(30000));
#endif
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()), QString());
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());

    const QStringList files = QDir(logs).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QString file_day = files.first().left(10);
    QCOMPARE(files.first(), file_day + QStringLiteral("_tarnwell.log"));

    const QStringList lines = file_lines(logs + '/' + files.first());
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = export_line.match(lines.at(i));
        if (expected.at(i).startsWith(handler_mark)) {
            QVERIFY2(!match.hasMatch(), qPrintable(lines.at(i)));
            QVERIFY2(lines.at(i).contains(QStringLiteral("[INFO]")), qPrintable(lines.at(i)));
            QVERIFY2(lines.at(i).endsWith(expected.at(i).mid(handler_mark.size())),
                     qPrintable(lines.at(i)));
            continue;
        }
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
        QCOMPARE(match.captured(1), file_day);
        QCOMPARE(match.captured(2).toLongLong(), host_thread);
        QCOMPARE(match.captured(3), expected.at(i));
    }
}

QTEST_GUILESS_MAIN(tst_quillmark_log_hosts)
#include "tst_quillmark_log_hosts.moc"
