#pragma once

#include <QDate>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include "day_file.h"
#include "log_stamp.h"

#include <atomic>
#include <cstddef>
#include <mutex>

// The logger behind the printf-style exports of quillmark_log.h: owns the day's log file, writes
// finished lines into it, follows the date, and once an hour removes daily files that have not
// been written to for more than the retention window. Internal to the library.
class quillmark : public QObject
{
    Q_OBJECT

public:
    static constexpr int retention_interval_ms = 3600000;
    static constexpr int retention_days = 30;
    // Unbuffered, with the line end written by hand instead of text mode: every line is one
    // write to the end of the file, and a line the disk refuses is gone at once instead of
    // piling up in a buffer that every later flush would try again.
    static constexpr QIODevice::OpenMode open_mode =
        QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;

    // Creates the log directory, opens the day's file and, on the application's own thread,
    // starts the retention timer.
    quillmark();
    ~quillmark() override;

    // Appends line and a line end to the file of the current date; a line that cannot be
    // written is dropped.
    void write_log(QString line);
    // Appends bytes, a whole line in the local encoding with its line end, the same way.
    void write_log_bytes(const char* bytes, std::size_t size);

    bool debug_mode() const { return m_debug.load(std::memory_order_relaxed); }
    void set_debug_mode(bool on) { m_debug.store(on, std::memory_order_relaxed); }

    // At the end of the process: no more lines, the file closed; the object itself stays for
    // threads that are still inside it.
    void stop_writing();

private slots:
    void st_delete_file();

private:
    friend class tst_quillmark_log;

    bool init_log();
    bool start_retention_timer();

    // Only ever taken to write a line. Not one of Qt's: their wait records live in Qt's global
    // data, which is gone before the process has stopped writing.
    std::timed_mutex m_lock;
    std::atomic<bool> m_debug{false};
    QTimer m_timer;
    QFile* m_file = nullptr;
    QDate m_file_date;
    QString m_log_dir;
    // The date of now and the file of that date, under m_lock.
    quillmark_detail::stamp_cache m_today;
    quillmark_detail::day_file m_day{m_file_date, m_file, open_mode};
};
