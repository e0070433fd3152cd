#pragma once

#include <QtGlobal>

#include <cstddef>

class QByteArray;
class QMessageLogContext;
class QString;
class QTextCodec;

namespace quillmark_detail {

// The MIB number of UTF-8, whose bytes of ASCII and valid text are the text itself.
constexpr int utf8_mib = 106;

class stamp_cache;

// Bytes gathered in storage the caller provides (on its stack, say); nothing is allocated.
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

// Writes magnitude in base 10 or 16 at out, led by '-' when negative, and returns the end; out
// needs room for 24 bytes.
char* write_number(char* out, unsigned long long magnitude, bool negative, unsigned base,
                   bool capitals);

// The file line of one Qt message in the bytes codec gives (Latin-1 when null; the function name
// is read as Latin-1): in out when it is ASCII in a UTF-8 locale and fits, else in spill. False,
// making nothing, for a type that is never logged.
bool make_line(fixed_buffer& out, QByteArray& spill, const stamp_cache& stamp, qint32 thread,
               QtMsgType type, const QMessageLogContext& context, const QString& message,
               QTextCodec* codec);

} // namespace quillmark_detail
