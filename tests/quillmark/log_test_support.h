#pragma once

#include "log_files.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>

#include <atomic>
#include <unistd.h>

// Shared by the logger's tests: a settable clock for the logger's clock seam, local instants
// written the way people read them, and the day files beside the test program.
namespace log_test {

using tnw_test::file_bytes;

inline std::atomic<qint64> g_now{0};

inline qint64 fixed_clock()
{
    return g_now.load();
}

// "2031-05-06 23:59:59.900" in local time, as milliseconds since the epoch.
inline qint64 local_ms(const QString& text)
{
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"))
        .toMSecsSinceEpoch();
}

inline void set_now(const QString& local_text)
{
    g_now.store(local_ms(local_text));
}

inline QString log_dir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/logs");
}

// The day file as a reader finds it: "<program dir>/logs/2031-05-06_tarnwell.log".
inline QString day_file(const QString& yyyy_mm_dd)
{
    return log_dir() + QLatin1Char('/') + yyyy_mm_dd + QStringLiteral("_tarnwell.log");
}

inline void remove_log_dir()
{
    QFile::remove(log_dir()); // when a test left a plain file in its place
    QDir dir(log_dir());
    QFile::setPermissions(log_dir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    dir.removeRecursively();
}

inline QByteArray thread_text()
{
    return QByteArray::number(static_cast<int>(::gettid()));
}

} // namespace log_test
