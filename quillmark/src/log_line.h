#pragma once

#include <QDate>
#include <QString>

#include <cstdarg>
#include <limits>

class QMessageLogContext;
class QTextCodec;

namespace quillmark_detail {

constexpr int utf8_mib = 106; // UTF-8's number

using clock_function = qint64 (*)();

// Every stamp's and date's time: the system clock, or a test's (nullptr restores the system's).
qint64 now_ms();
void set_clock(clock_function fn);

// Qt makes its calendar on first use, and threads that come first together may get none, writing
// a date as "": called before any date is written or read, the first caller makes it.
void make_calendar_once();

// The local stamp "yyyy-MM-dd hh:mm:ss:zzz" and date of an instant, worked out once a second (glibc
// stats /etc/localtime each time with TZ unset). Trivially destructible: cheap as a thread-local.
class stamp_cache
{
public:
    static constexpr std::size_t max_size = 24; // the room write() needs

    // Moves to the instant ms since the epoch; true when that is another second than before.
    bool set_time(qint64 ms);
    // Of the instant last set; write() puts the stamp at out and returns its end.
    QDate date() const { return m_date; }
    std::size_t size() const { return m_prefix_size + 3; }
    char* write(char* out) const;

private:
    qint64 m_second = std::numeric_limits<qint64>::min(); // no instant's second
    int m_millis = 0;
    char m_prefix[max_size - 3] = {}; // "yyyy-MM-dd hh:mm:ss:"
    std::size_t m_prefix_size = 0;
    QDate m_date;
};

// Bytes in the caller's storage (on its stack, say); nothing is allocated.
class fixed_buffer
{
public:
    fixed_buffer(char* storage, std::size_t capacity) : m_data(storage), m_capacity(capacity) {}
    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    // False, appending nothing, when the bytes do not fit.
    bool append(const char* bytes, std::size_t n);
    // Room for n more bytes after the end, or null; write them, then commit their end.
    char* room(std::size_t n) { return m_capacity - m_size >= n ? m_data + m_size : nullptr; }
    void commit(const char* end) { m_size = static_cast<std::size_t>(end - m_data); }

private:
    char* m_data;
    std::size_t m_capacity;
    std::size_t m_size = 0;
};

// The file line of a Qt message in codec's bytes (Latin-1 when null, as the function name is
// read): in out when ASCII in UTF-8 and fits, else in spill; false for a type never logged.
bool make_line(fixed_buffer& out, QByteArray& spill, const stamp_cache& stamp, qint32 thread,
               QtMsgType type, const QMessageLogContext& context, const QString& message,
               QTextCodec* codec);

// Which texts the local encoding keeps byte for byte: valid UTF-8, ASCII, or none.
enum class passthrough
{
    none,
    ascii,
    utf8
};
passthrough passthrough_for(QTextCodec* codec);

// Appends what log_message() gives, in the local encoding with line feeds as line ends, when the
// format holds only "%%", "%s", "%d", "%i" (with "l", "ll"), "%u", "%x", "%X" (with "l", "ll",
// "z"), no text is null or fails rule, and it fits; false otherwise, out partly filled.
bool append_simple_message(fixed_buffer& out, const char* format, va_list args, passthrough rule);

// The general way: the format read in the local encoding, then expanded reading it and "%s"
// texts as UTF-8; with a "%n", as it stands: a log call never writes through its arguments.
QString log_message(const char* format, va_list args);

} // namespace quillmark_detail
