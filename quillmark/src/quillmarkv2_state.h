#pragma once

#include <quillmark/quillmarkv2.h>

#include "log_buffer.h"
#include "log_stamp.h"

#include <cstddef>

class QTextCodec;

// Room kept in the line buffer: most lines fit without a reallocation.
constexpr std::size_t line_reserve = 512;

// What the handler reuses from line to line; touched only with the logger's lock held for writing.
struct quillmarkv2::line_state
{
    quillmark_detail::stamp_cache stamp;
    quillmark_detail::line_buffer line;
    // The locale's codec, looked up again with each new second rather than on every line.
    QTextCodec* codec = nullptr;
};
