#include "log_buffer.h"

namespace quillmark_detail {

char* line_buffer::grow(std::size_t n)
{
    const std::size_t wanted = m_size + n;
    std::size_t grown = m_capacity ? m_capacity : 256;
    while (grown < wanted)
        grown *= 2;
    std::unique_ptr<char[]> bigger(new char[grown]);
    if (m_size)
        std::memcpy(bigger.get(), m_data.get(), m_size);
    m_data = std::move(bigger);
    m_capacity = grown;
    return m_data.get() + m_size;
}

void line_buffer::shrink(std::size_t keep)
{
    if (m_capacity <= keep)
        return;
    m_data.reset();
    m_size = 0;
    m_capacity = 0;
    room(keep);
}

} // namespace quillmark_detail
