#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

namespace quillmark_detail {

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

} // namespace quillmark_detail
