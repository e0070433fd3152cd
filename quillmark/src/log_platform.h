#pragma once

#include <QtGlobal>

#include <cstddef>

class QFile;

namespace quillmark_detail {

// The emitting thread as a log line shows it: the kernel thread id on Linux, the thread
// identifier on Windows.
qint32 current_thread_id();

// Writes the line at the end of the open file in one call and returns once it has reached the file.
// Write errors are ignored: a line that cannot be written is lost.
void write_line(QFile& file, const char* line, std::size_t size);

} // namespace quillmark_detail
