#include "time_stamp.h"

#include <QRegularExpression>
#include <QtTest>

void check_time_stamp(const QByteArray& time, const QDateTime& before, const QDateTime& after)
{
    static const QRegularExpression form(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$"));
    QVERIFY2(form.match(QString::fromLatin1(time)).hasMatch(), time.constData());
    const QDateTime stamp =
        QDateTime::fromString(QString::fromLatin1(time), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY2(stamp.isValid(), time.constData());
    QVERIFY2(before <= stamp && stamp <= after, time.constData());
}

QDateTime now_to_the_second()
{
    QDateTime now = QDateTime::currentDateTime();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    return now;
}
