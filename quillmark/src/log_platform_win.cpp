#include "log_platform.h"

#include <QFile>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace quillmark_detail {

bool open_for_append(QFile& file, QIODevice::OpenMode mode)
{
    // QFile's append mode moves to the end once, at opening: two handles on one file then
    // write over each other's lines. A handle with append access alone has the system put
    // every write at the end, as O_APPEND does elsewhere.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(file.fileName().utf16()),
                                      FILE_APPEND_DATA | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    // Binary: the line ends are already what they should be (QIODevice's text mode or the
    // writer's own CR LF), the C runtime must not add a second CR.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        _close(fd);
        return false;
    }
    return true;
}

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
