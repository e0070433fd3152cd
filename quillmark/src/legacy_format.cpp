#include "legacy_format.h"

#include <QDateTime>
#include <QLocale>
#include <QThread>

#include <cstring>
#include <mutex>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#elif defined(Q_OS_LINUX)
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace quillmark_detail {

namespace {

// Trivially destructible on purpose: a host may still log from its own exit code, after the
// objects with destructors are gone.
struct second_text
{
    bool valid = false;
    qint64 second = 0;
    qint64 julian_day = 0;
    int length = 0;
    char text[32] = {};
};

// One conversion per second for the whole process, made under a lock: the local-time functions
// read and replace the zone data that other conversions use. Each thread keeps a copy of the
// latest second so that most lines take no lock at all.
std::mutex g_second_mutex;
second_text g_second;
thread_local second_text t_second;

qint64 floor_div(qint64 value, qint64 divisor)
{
    const qint64 quotient = value / divisor;
    return (value % divisor < 0) ? quotient - 1 : quotient;
}

second_text converted(qint64 second)
{
    second_text result;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
    const QByteArray text =
        QLocale::c().toString(local, QStringLiteral("yyyy-MM-dd hh:mm:ss")).toLatin1();
    result.length = qMin(text.size(), int(sizeof result.text));
    std::memcpy(result.text, text.constData(), size_t(result.length));
    result.julian_day = local.date().toJulianDay();
    result.second = second;
    result.valid = true;
    return result;
}

const second_text& cached_second(qint64 ms)
{
    const qint64 second = floor_div(ms, 1000);
    if (t_second.valid && t_second.second == second)
        return t_second;
    std::lock_guard<std::mutex> guard(g_second_mutex);
    if (!g_second.valid || g_second.second != second)
        g_second = converted(second);
    t_second = g_second;
    return t_second;
}

} // namespace

std::size_t legacy_timestamp_text(qint64 ms, char* out)
{
    static_assert(legacy_timestamp_room >= sizeof(second_text::text) + 4, "room for the stamp");
    const second_text& cache = cached_second(ms);
    const int millis = int(ms - cache.second * 1000);
    std::memcpy(out, cache.text, size_t(cache.length));
    out[cache.length] = ':';
    out[cache.length + 1] = char('0' + millis / 100);
    out[cache.length + 2] = char('0' + millis / 10 % 10);
    out[cache.length + 3] = char('0' + millis % 10);
    return size_t(cache.length) + 4;
}

QString legacy_timestamp(qint64 ms)
{
    char text[legacy_timestamp_room];
    return QString::fromLatin1(text, int(legacy_timestamp_text(ms, text)));
}

QDate legacy_local_date(qint64 ms)
{
    return QDate::fromJulianDay(cached_second(ms).julian_day);
}

quint64 legacy_thread_number()
{
#ifdef Q_OS_WIN
    return quint64(GetCurrentThreadId());
#elif defined(Q_OS_LINUX)
    thread_local const quint64 number = quint64(syscall(SYS_gettid));
    return number;
#else
    return quint64(reinterpret_cast<quintptr>(QThread::currentThreadId()));
#endif
}

QString legacy_message(const char* format, va_list args)
{
    return QString::vasprintf(QString::fromLocal8Bit(format).toUtf8().constData(), args);
}

QString legacy_line(const QString& timestamp, quint64 thread, QLatin1String level,
                    const QString& message)
{
    return QStringLiteral("%1    %2 [%3] %4")
        .arg(timestamp, QString::number(thread), QString(level), message);
}

} // namespace quillmark_detail
