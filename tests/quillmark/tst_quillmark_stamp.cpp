#include "log_line.h"

#include <QDateTime>
#include <QtTest>

#include <ctime>

// The per-second time stamp cache against local times worked out by hand, in time zones with
// odd offsets and daylight-saving changes. Each row feeds its instants to one cache in turn, so
// a stale second, date or millisecond part shows. The program runs in a locale with digits of
// its own (see CMakeLists.txt): the stamps keep ASCII digits.
class tst_quillmark_stamp : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void local_stamps_data();
    void local_stamps();

private:
    void use_zone(const QByteArray& zone);
};

void tst_quillmark_stamp::use_zone(const QByteArray& zone)
{
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    ::tzset();
}

void tst_quillmark_stamp::cleanup()
{
    use_zone(QByteArray());
}

void tst_quillmark_stamp::local_stamps_data()
{
    // instants: UTC "yyyy-MM-ddThh:mm:ss.zzz"; stamps: the local text expected for each.
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QStringList>("instants");
    QTest::addColumn<QStringList>("stamps");

    QTest::newRow("the last millisecond of a second, then the next second")
        << QByteArray("UTC") << QStringList{"2025-03-07T09:15:02.999", "2025-03-07T09:15:03.000"}
        << QStringList{"2025-03-07 09:15:02:999", "2025-03-07 09:15:03:000"};
    QTest::newRow("one second twice, then the second before")
        << QByteArray("Europe/Berlin")
        << QStringList{"2025-03-07T08:15:02.417", "2025-03-07T08:15:02.005",
                       "2025-03-07T08:15:01.999"}
        << QStringList{"2025-03-07 09:15:02:417", "2025-03-07 09:15:02:005",
                       "2025-03-07 09:15:01:999"};
    QTest::newRow("a half-hour offset crosses into a leap day")
        << QByteArray("Asia/Kolkata")
        << QStringList{"2024-02-28T18:29:59.999", "2024-02-28T18:30:00.000"}
        << QStringList{"2024-02-28 23:59:59:999", "2024-02-29 00:00:00:000"};
    QTest::newRow("a clock set back across midnight")
        << QByteArray("Asia/Kolkata")
        << QStringList{"2024-02-28T18:30:00.500", "2024-02-28T18:29:59.500"}
        << QStringList{"2024-02-29 00:00:00:500", "2024-02-28 23:59:59:500"};
    QTest::newRow("instants before the epoch keep milliseconds 0 to 999")
        << QByteArray("UTC") << QStringList{"1969-12-31T23:59:59.250", "1970-01-01T00:00:00.000"}
        << QStringList{"1969-12-31 23:59:59:250", "1970-01-01 00:00:00:000"};
    QTest::newRow("clocks go forward an hour")
        << QByteArray("Europe/Berlin")
        << QStringList{"2025-03-30T00:59:59.999", "2025-03-30T01:00:00.000"}
        << QStringList{"2025-03-30 01:59:59:999", "2025-03-30 03:00:00:000"};
    QTest::newRow("clocks go back an hour")
        << QByteArray("Europe/Berlin")
        << QStringList{"2025-10-26T00:59:59.500", "2025-10-26T01:00:00.250"}
        << QStringList{"2025-10-26 02:59:59:500", "2025-10-26 02:00:00:250"};
    QTest::newRow("a midnight that never happens")
        << QByteArray("America/Sao_Paulo")
        << QStringList{"2018-11-04T02:59:59.900", "2018-11-04T03:00:00.100"}
        << QStringList{"2018-11-03 23:59:59:900", "2018-11-04 01:00:00:100"};
    QTest::newRow("a year's last second west of Greenwich")
        << QByteArray("America/St_Johns")
        << QStringList{"2031-01-01T03:29:59.001", "2031-01-01T03:30:00.009"}
        << QStringList{"2030-12-31 23:59:59:001", "2031-01-01 00:00:00:009"};
}

void tst_quillmark_stamp::local_stamps()
{
    QFETCH(QByteArray, zone);
    QFETCH(QStringList, instants);
    QFETCH(QStringList, stamps);

    use_zone(zone);
    quillmark_detail::stamp_cache cache;
    for (int i = 0; i < instants.size(); ++i) {
        QDateTime utc = QDateTime::fromString(instants.at(i), Qt::ISODateWithMs);
        utc.setTimeSpec(Qt::UTC);
        cache.set_time(utc.toMSecsSinceEpoch());
        char text[quillmark_detail::stamp_cache::max_size];
        const char* end = cache.write(text);
        QCOMPARE(static_cast<std::size_t>(end - text), cache.size());
        QCOMPARE(QString::fromLatin1(text, static_cast<int>(end - text)), stamps.at(i));
        QCOMPARE(cache.date(), QDate::fromString(stamps.at(i).left(10), Qt::ISODate));
    }
}

QTEST_GUILESS_MAIN(tst_quillmark_stamp)
#include "tst_quillmark_stamp.moc"
