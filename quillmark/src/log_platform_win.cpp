#include "log_platform.h"

#include <QFile>

#include <windows.h>

namespace quillmark_detail {

qint32 current_thread_id()
{
    return static_cast<qint32>(::GetCurrentThreadId());
}

void write_line(QFile& file, const std::string& line)
{
    // The file is open in text mode: QIODevice writes each "\n" as CR LF.
    file.write(line.data(), static_cast<qint64>(line.size()));
    file.flush();
}

} // namespace quillmark_detail
