#pragma once

#include <QFile>
#include <QTimer>

#include "day_file.h"
#include "log_line.h"

#include <atomic>
#include <mutex>

// The logger behind quillmark_log.h, which also removes old daily files hourly.
class quillmark : public QObject
{
    Q_OBJECT

public:
    static constexpr int retention_interval_ms = 3600000;
    static constexpr int retention_days = 30;
    // Unbuffered, line ends written by hand rather than text mode: each line is one write at the
    // end of the file, and a line the disk refuses is dropped rather than retried by every flush.
    static constexpr QIODevice::OpenMode open_mode =
        QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;

    quillmark();
    ~quillmark() override;

    // A line and its line end, or its bytes with their line end, to the day's file or nowhere.
    void write_log(QString line);
    void write_log_bytes(const char* bytes, std::size_t size);
    // A line made before the lock, its stamp taken under it (in stamp_codec's bytes when given).
    void write_stamped(quillmark_detail::stamped_line& line, QTextCodec* stamp_codec);

    bool debug_mode() const { return m_debug.load(std::memory_order_relaxed); }
    void set_debug_mode(bool on) { m_debug.store(on, std::memory_order_relaxed); }

    // At process end: no more lines, the file closed; the object stays for threads inside it.
    void stop_writing();

private slots:
    void st_delete_file();

private:
    friend class tst_quillmark_log;

    // Under the lock, with the day's file followed to the current stamp; nothing once torn down.
    template <typename Write> void write_under_lock(Write write);

    // Not Qt's: its wait records are in Qt's global data, gone before the process stops writing.
    std::mutex m_lock;
    std::atomic<bool> m_debug{false};
    QTimer m_timer;
    QFile* m_file = nullptr;
    QDate m_file_date;
    QString m_log_dir = quillmark_detail::log_directory();
    quillmark_detail::stamp_cache m_today;
    quillmark_detail::day_file m_day{m_file_date, m_file, open_mode};
};
