#include "log_platform.h"

#include <QFile>

#include <windows.h>

namespace quillmark_detail {

qint32 current_thread_id()
{
    return static_cast<qint32>(::GetCurrentThreadId());
}

void write_line(QFile& file, const char* line, std::size_t size)
{
    // The file is open in text mode: QIODevice writes each "\n" as CR LF.
    file.write(line, static_cast<qint64>(size));
    file.flush();
}

} // namespace quillmark_detail
