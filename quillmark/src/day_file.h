#pragma once

#include <QDate>
#include <QIODevice>

#include <atomic>

class QFile;

namespace quillmark_detail {

// "<program dir>/logs" for both loggers; a C host has no application object to ask.
QString log_directory();
// "<yyyy-MM-dd>_tarnwell.log", in either folder.
QString log_file_name(const QDate& day);

// Notes, while Qt is still whole, whether the locale's encoding is UTF-8, for lines logged after
// the clean-up at exit (its codec is gone by then).
void note_for_exit();
bool utf8_at_exit();
// After the clean-up at exit: the day's file, in the folder of the last one opened, opened in
// mode for the one line, written and closed.
void write_at_exit(QIODevice::OpenMode mode, const QDate& day, const char* line, std::size_t size);

// One logger's day file, in its fields: the program's, else the same name in the user's folder.
class day_file
{
public:
    day_file(QDate& date, QFile*& file, QIODevice::OpenMode mode)
        : m_date(date), m_file(file), m_mode(mode)
    {}
    // The file is null until the next date when neither place will do.
    void open(const QDate& day);
    // Opens the file of day unless it is the date open, or tried, already.
    void follow(const QDate& day)
    {
        if (day != m_date)
            open(day);
    }
    void release();
    void write(const char* line, std::size_t size);
    // The object has been handed out: others may write through it, or close or reopen it, until it
    // is released.
    void share() { m_shared.store(true, std::memory_order_relaxed); }

private:
    QDate& m_date;
    QFile*& m_file;
    QIODevice::OpenMode m_mode;
    // Lines go straight to it while the object is the logger's alone: no call into the object.
    int m_direct = -1;
    // Read under the logger's lock, which a host takes after it has the object.
    std::atomic<bool> m_shared{false};
};

} // namespace quillmark_detail
