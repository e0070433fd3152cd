#pragma once

#include <QIODevice>
#include <QtGlobal>

#include <cstddef>

class QFile;

namespace quillmark_detail {

// The emitting thread as a log line shows it: the kernel thread id on Linux, the thread
// identifier on Windows.
qint32 current_thread_id();

// Opens file (its name set) for writing at its end, in mode (which holds QIODevice::Append).
// Every write lands at the end of the file as it is then, also when another handle (the other
// logger's, another process's) has written there in between.
bool open_for_append(QFile& file, QIODevice::OpenMode mode);

// Writes the line at the end of the open file in one call and returns once it has reached the file.
// Write errors are ignored: a line that cannot be written is lost.
void write_line(QFile& file, const char* line, std::size_t size);

} // namespace quillmark_detail
