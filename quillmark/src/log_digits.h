#pragma once

namespace quillmark_detail {

// Writes magnitude in base 10 or 16 at out, led by '-' when negative, and returns the end; out
// needs room for 24 bytes.
char* write_number(char* out, unsigned long long magnitude, bool negative, unsigned base,
                   bool capitals);

} // namespace quillmark_detail
