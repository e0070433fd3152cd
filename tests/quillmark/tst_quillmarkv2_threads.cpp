#include <quillmark/quillmarkv2.h>

#include "log_line.h"
#include "log_test_support.h"

#include <QRegularExpression>
#include <QtTest>

#include <thread>
#include <vector>

using namespace log_test;

namespace {

std::atomic<qint64> g_base{0};
std::atomic<qint64> g_ticks{0};

// Every reading of the clock is one millisecond later than the one before, so the lines of one
// run straddle midnight wherever the threads happen to be.
qint64 ticking_clock()
{
    return g_base.load() + g_ticks.fetch_add(1);
}

struct parsed_line
{
    QByteArray stamp;
    qint32 thread = 0;
    int writer = -1;
    int number = -1;
};

const QRegularExpression& line_pattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3})\\t(-?\\d+)\\t\\[INFO\\]\\t"
        "writer (\\d+) line (\\d+) of the threaded run, whole\\z"));
    return pattern;
}

bool parse(const QByteArray& text, parsed_line* out)
{
    const QRegularExpressionMatch m = line_pattern().match(QString::fromLatin1(text));
    if (!m.hasMatch())
        return false;
    out->stamp = m.captured(1).toLatin1();
    out->thread = m.captured(2).toInt();
    out->writer = m.captured(3).toInt();
    out->number = m.captured(4).toInt();
    return true;
}

} // namespace

class tst_quillmarkv2_threads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void lines_of_several_threads_across_midnight_data();
    void lines_of_several_threads_across_midnight();
};

void tst_quillmarkv2_threads::initTestCase()
{
    remove_log_dir();
}

void tst_quillmarkv2_threads::lines_of_several_threads_across_midnight_data()
{
    QTest::addColumn<int>("writers");
    QTest::addColumn<int>("lines_each");
    QTest::addColumn<bool>("meddler");

    QTest::newRow("four writers") << 4 << 5000 << false;
    QTest::newRow("three writers while a host reopens the file") << 3 << 4000 << true;
}

void tst_quillmarkv2_threads::lines_of_several_threads_across_midnight()
{
    QFETCH(int, writers);
    QFETCH(int, lines_each);
    QFETCH(bool, meddler);

    remove_log_dir();
    const int total = writers * lines_each;
    g_ticks.store(0);
    g_base.store(local_ms(QStringLiteral("2031-05-07 00:00:00.000")) - total / 2);
    quillmark_detail::set_clock(&ticking_clock);
    quillmarkv2* log = quillmarkv2::get_instance();
    log->initialize(true);

    std::vector<qint32> thread_ids(static_cast<std::size_t>(writers), 0);
    std::atomic<int> running{writers};
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([w, lines_each, &thread_ids, &running] {
            thread_ids[static_cast<std::size_t>(w)] = static_cast<qint32>(::gettid());
            for (int i = 0; i < lines_each; ++i)
                qInfo("writer %d line %d of the threaded run, whole", w, i);
            running.fetch_sub(1);
        });
    }
    if (meddler) {
        threads.emplace_back([log, &running] {
            while (running.load() > 0) {
                log->set_file_object();
                log->check_compare_date();
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    quillmark_detail::set_clock(nullptr);

    std::vector<std::vector<int>> seen(static_cast<std::size_t>(writers));
    // Across both files, since the clock only moves forward: each writer's numbers rise.
    std::vector<int> last_number(static_cast<std::size_t>(writers), -1);
    int count = 0;
    for (const QString& day : {QStringLiteral("2031-05-06"), QStringLiteral("2031-05-07")}) {
        const QByteArray content = file_bytes(day_file(day));
        QVERIFY2(content.endsWith('\n'), qPrintable(day));
        QList<QByteArray> lines = content.split('\n');
        lines.removeLast();
        QByteArray previous_stamp;
        for (const QByteArray& text : lines) {
            parsed_line line;
            QVERIFY2(parse(text, &line), text.constData());
            QVERIFY2(line.writer < writers, text.constData());
            const auto w = static_cast<std::size_t>(line.writer);
            QCOMPARE(line.stamp.left(10), day.toLatin1());
            QVERIFY2(line.stamp >= previous_stamp, text.constData());
            QCOMPARE(line.thread, thread_ids[w]);
            QVERIFY2(line.number > last_number[w], text.constData());
            previous_stamp = line.stamp;
            last_number[w] = line.number;
            seen[w].push_back(line.number);
            ++count;
        }
        QVERIFY2(!lines.isEmpty(), qPrintable(day));
    }
    QCOMPARE(count, total);
    for (const std::vector<int>& numbers : seen) {
        QCOMPARE(static_cast<int>(numbers.size()), lines_each);
        QCOMPARE(numbers.back(), lines_each - 1); // rising, so none lost and none twice
    }
}

QTEST_GUILESS_MAIN(tst_quillmarkv2_threads)
#include "tst_quillmarkv2_threads.moc"
