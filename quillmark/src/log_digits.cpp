#include "log_digits.h"

#include <cstddef>

namespace quillmark_detail {

char* write_number(char* out, unsigned long long magnitude, bool negative, unsigned base,
                   bool capitals)
{
    // Not std::to_chars: its digit tables are unique symbols, which keep a library that uses
    // them from ever being unloaded.
    const char* digits = capitals ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[64];
    std::size_t n = 0;
    do {
        reversed[n++] = digits[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    if (negative)
        *out++ = '-';
    while (n > 0)
        *out++ = reversed[--n];
    return out;
}

} // namespace quillmark_detail
