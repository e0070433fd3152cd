#include <quillmark/quillmark_log.h>

#include "log_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// All lines of the run's files that carry tag, read after the writers have finished.
QStringList tagged_lines(const QString& tag)
{
    QStringList lines;
    const QDir logs(QCoreApplication::applicationDirPath() + QStringLiteral("/logs"));
    for (const QString& name : logs.entryList({QStringLiteral("*_tarnwell.log")}, QDir::Files)) {
        for (const QString& line : tnw_test::file_lines(logs.filePath(name))) {
            if (line.contains(tag))
                lines << line;
        }
    }
    return lines;
}

} // namespace

// Several threads call INFO at once; the first row also races for the logger's creation.
class tst_quillmark_log_threads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void concurrent_lines_data();
    void concurrent_lines();
};

void tst_quillmark_log_threads::initTestCase()
{
    // Lines of an earlier run would count twice; the logger does not exist yet.
    QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/logs")).removeRecursively();
}

void tst_quillmark_log_threads::concurrent_lines_data()
{
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("lines_per_thread");
    QTest::addColumn<QString>("filler");

    QTest::newRow("eight threads create the logger together and write short lines")
        << 8 << 500 << QString();
    QTest::newRow("two threads write long lines") << 2 << 300 << QString(3000, QLatin1Char('x'));
    QTest::newRow("sixteen threads write a few lines each") << 16 << 40 << QStringLiteral("abc");
}

void tst_quillmark_log_threads::concurrent_lines()
{
    QFETCH(int, threads);
    QFETCH(int, lines_per_thread);
    QFETCH(QString, filler);

    const QString tag = QStringLiteral("run-%1").arg(QTest::currentDataTag()).replace(' ', '-');
    const QByteArray tag_bytes = tag.toUtf8();
    const QByteArray filler_bytes = filler.toUtf8();
    std::vector<quint64> thread_ids(size_t(threads), 0);
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < threads; ++w) {
        workers.emplace_back([&, w] {
            thread_ids[size_t(w)] = tnw_test::system_thread_id();
            ready.fetch_add(1);
            while (ready.load() < threads)
                std::this_thread::yield();
            for (int i = 0; i < lines_per_thread; ++i)
                INFO("%s worker %d line %d %s end", tag_bytes.constData(), w, i,
                     filler_bytes.constData());
        });
    }
    for (std::thread& worker : workers)
        worker.join();

    const QRegularExpression whole_line(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3}    (\\d+) \\[INFO\\] %1 "
                       "worker (\\d+) line (\\d+) %2 end$")
            .arg(QRegularExpression::escape(tag), QRegularExpression::escape(filler)));
    QVector<QVector<int>> seen(threads, QVector<int>(lines_per_thread, 0));
    const QStringList lines = tagged_lines(tag);
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = whole_line.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line.left(200)));
        const int w = match.captured(2).toInt();
        const int i = match.captured(3).toInt();
        QVERIFY(w >= 0 && w < threads && i >= 0 && i < lines_per_thread);
        QCOMPARE(match.captured(1).toULongLong(), thread_ids[size_t(w)]);
        ++seen[w][i];
    }
    QCOMPARE(lines.size(), threads * lines_per_thread);
    for (const QVector<int>& worker_lines : seen)
        QVERIFY(
            std::all_of(worker_lines.begin(), worker_lines.end(), [](int n) { return n == 1; }));
}

QTEST_GUILESS_MAIN(tst_quillmark_log_threads)
#include "tst_quillmark_log_threads.moc"
