#pragma once

#include <QDate>
#include <QIODevice>

#include <cstddef>

class QFile;

namespace quillmark_detail {

// One logger's day file: the date it is for and the file open for that date, if any, kept in
// the logger's own fields. The program's file of the day comes first; where this user cannot use
// it (no right to make or open it, another user's file, not a plain file of its own) the same
// lines go to the file of the same name in the user's own log folder. Callers serialise the calls.
class day_file
{
public:
    day_file(QDate& date, QFile*& file, QIODevice::OpenMode mode)
        : m_date(date), m_file(file), m_mode(mode)
    {}
    // Opens the file of day, closing the one open before; the file is null when neither place
    // can be used, until the next date.
    void open(const QDate& day);
    // Opens the file of day unless day is the date open, or tried, already.
    void follow(const QDate& day)
    {
        if (day != m_date)
            open(day);
    }
    void release();
    // Appends one whole line to the open file; nothing when there is none.
    void write(const char* line, std::size_t size);

private:
    bool open_in(const QString& directory, const QString& name);

    QDate& m_date;
    QFile*& m_file;
    QIODevice::OpenMode m_mode;
};

} // namespace quillmark_detail
