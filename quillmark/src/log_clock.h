#pragma once

#include <QtGlobal>

namespace quillmark_detail {

using clock_function = qint64 (*)();

// Milliseconds since the epoch: the system clock, unless a test has put in its own to cross
// midnight without waiting. Every time stamp and date of both loggers comes from here.
qint64 now_ms();

// nullptr restores the system clock.
void set_clock(clock_function fn);

} // namespace quillmark_detail
