#include "log_platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <vector>

namespace quillmark_detail {

const QChar path_separator = QLatin1Char('\\');
const char line_end[] = "\r\n";
const std::size_t line_end_size = 2;

qint32 current_thread_id()
{
    return static_cast<qint32>(::GetCurrentThreadId());
}

bool open_day_file(QFile& file, QIODevice::OpenMode mode)
{
    // A reparse point (a link or junction) as the day's file is opened as itself, then refused,
    // as is anything that is not a plain file on a disk.
    const std::wstring name = QDir::toNativeSeparators(file.fileName()).toStdWString();
    const HANDLE handle = ::CreateFileW(
        name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & refused) != 0) {
        ::CloseHandle(handle);
        return false;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return false;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        return false;
    }
    return true;
}

void write_line(QFile& file, const char* line, std::size_t size)
{
    // Through the file object, after anything a host wrote through it; in text mode QIODevice
    // writes each "\n" as CR LF.
    file.write(line, static_cast<qint64>(size));
    file.flush();
}

QString executable_directory()
{
    std::vector<wchar_t> buffer(32768);
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    const QString path = QString::fromWCharArray(buffer.data(), int(length));
    return QFileInfo(QDir::fromNativeSeparators(path)).absolutePath();
}

void keep_library_loaded()
{
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(&keep_library_loaded), &module);
}

} // namespace quillmark_detail
