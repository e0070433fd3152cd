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

// The local stamp "yyyy-MM-dd hh:mm:ss:zzz" and date of an instant, worked out once a second (glibc
// reads the zone's file each time with TZ unset), by the C library alone: lines logged at exit
// come after Qt's calendars and locales are gone. Trivially destructible: cheap as a thread-local.
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

// "yyyy-MM-dd" of a valid date at out, ASCII whatever the locale; returns the end.
char* write_date(char* out, const QDate& day);
constexpr std::size_t date_max_size = 12;

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

// A line put together before the logger's lock, with room in front for the stamp, which is taken
// under the lock, so that lines reach the file in the order of their stamps and each lands in
// the file of the day its stamp names. Most lines stay in its own storage on the caller's stack.
class stamped_line
{
public:
    stamped_line() : m_text(m_storage + room, sizeof m_storage - room) {}
    stamped_line(const stamped_line&) = delete;
    // What follows the stamp; when it does not fit, spill() takes it instead.
    fixed_buffer& text() { return m_text; }
    // Empty again, for a line made anew.
    void clear()
    {
        m_text = fixed_buffer(m_storage + room, sizeof m_storage - room);
        m_spill.clear();
    }
    QByteArray& spill() { return m_spill; }
    // The stamp put in front; [data(), data() + size()) is then the whole line. In codec's bytes
    // when one is given: for a locale encoding that does not keep ASCII as it is.
    void put_stamp(const stamp_cache& stamp, QTextCodec* codec = nullptr);
    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    static constexpr std::size_t room = stamp_cache::max_size;
    char m_storage[2048];
    fixed_buffer m_text;
    QByteArray m_spill;
    char* m_data = nullptr;
    std::size_t m_size = 0;
};

// Whether codec's bytes for ASCII text are that text, so that an ASCII stamp can be put in front
// of a line encoded without it (null, Latin-1, keeps it). Worked out once per codec and thread.
bool keeps_ascii(QTextCodec* codec);

// What follows the stamp in the file line of a Qt message, in codec's bytes (Latin-1 when null,
// as the function name is read; by hand in UTF-8 when utf8 and null: at exit, when the codecs
// are gone): in out.text() when ASCII in UTF-8 and it fits, else in its spill; false for a type
// never logged.
bool make_line(stamped_line& out, qint32 thread, QtMsgType type, const QMessageLogContext& context,
               const QString& message, QTextCodec* codec, bool utf8 = false);

// Which texts the local encoding keeps byte for byte: valid UTF-8, ASCII, or none.
enum class passthrough
{
    none,
    ascii,
    utf8
};
passthrough passthrough_for(QTextCodec* codec);
// The same, remembered per thread for the codec last asked about.
passthrough cached_passthrough(QTextCodec* codec);

// Appends what log_message() gives, in the local encoding with line feeds as line ends, when the
// format holds only "%%", "%s", "%d", "%i" (with "l", "ll"), "%u", "%x", "%X" (with "l", "ll",
// "z"), no text is null or fails rule, and it fits; false otherwise, out partly filled.
bool append_simple_message(fixed_buffer& out, const char* format, va_list args, passthrough rule);

// The general way: the format read in the local encoding, then expanded reading it and "%s"
// texts as UTF-8; with a "%n", as it stands: a log call never writes through its arguments.
QString log_message(const char* format, va_list args);

} // namespace quillmark_detail
