#pragma once

#include <QDate>
#include <QIODevice>

#include <cstddef>

class QFile;

namespace quillmark_detail {

// "<program dir>/logs" for both loggers; a C host has no application object to ask.
QString log_directory();
// "<yyyy-MM-dd>_tarnwell.log", in the program's folder and in the user's alike.
QString log_file_name(const QDate& day);

// One logger's day file, in its own fields. Where this user cannot use the program's file (no
// right to it, not a plain file of its own) the user's own log folder takes the lines.
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
    // Appends one whole line to the open file, if any.
    void write(const char* line, std::size_t size);

private:
    QDate& m_date;
    QFile*& m_file;
    QIODevice::OpenMode m_mode;
};

} // namespace quillmark_detail
