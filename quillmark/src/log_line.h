#pragma once

#include <QtGlobal>

#include <cstddef>
#include <cstring>
#include <memory>

class QMessageLogContext;
class QString;
class QTextCodec;

namespace quillmark_detail {

class stamp_cache;

// Bytes of one line, reused from line to line: clearing keeps the room, and the writer fills
// reserved room directly instead of appending piece by piece.
class line_buffer
{
public:
    const char* data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_capacity; }
    void clear() { m_size = 0; }

    // Room for at least n more bytes after the current end; write them, then call commit.
    char* room(std::size_t n) { return m_capacity - m_size >= n ? m_data.get() + m_size : grow(n); }
    // Ends the content at end, a pointer into the room.
    void commit(const char* end) { m_size = static_cast<std::size_t>(end - m_data.get()); }
    void append(const char* bytes, std::size_t n)
    {
        std::memcpy(room(n), bytes, n);
        m_size += n;
    }
    // Gives back the room one very long line left behind.
    void shrink(std::size_t keep);

private:
    char* grow(std::size_t n);

    std::unique_ptr<char[]> m_data;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// Writes magnitude in base 10 or 16 at out, led by '-' when negative, and returns the end; out
// needs room for 24 bytes.
char* write_number(char* out, unsigned long long magnitude, bool negative, unsigned base,
                   bool capitals);

// A 32-bit number in decimal, sign included, as a text stream writes it.
struct decimal_text
{
    char digits[12];
    std::size_t size;
};
decimal_text to_decimal(qint32 value);

// Appends the file line of one Qt message: time stamp, TAB, thread, TAB, level tag, for warnings,
// critical and fatal messages the function, TAB, "[line]" and TAB, then the message and a line
// feed. The text is in the bytes codec gives for it (Latin-1 when codec is null); the function
// name is read as Latin-1. Returns false, appending nothing, for a type that is never logged.
bool append_line(line_buffer& out, const stamp_cache& stamp, const decimal_text& thread,
                 QtMsgType type, const QMessageLogContext& context, const QString& message,
                 QTextCodec* codec);

} // namespace quillmark_detail
