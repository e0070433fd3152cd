#include "log_platform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <aclapi.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>
#include <memory>

namespace quillmark_detail {

namespace {

// Owners of what the system hands out, released on every path.
template <typename T, auto release> struct releaser
{
    void operator()(T* p) const { release(p); }
};
using owned_handle = std::unique_ptr<void, releaser<void, ::CloseHandle>>;
using local_memory = std::unique_ptr<void, releaser<void, ::LocalFree>>;
using task_memory = std::unique_ptr<wchar_t, releaser<void, ::CoTaskMemFree>>;

QByteArray sid_bytes(PSID sid)
{
    return sid ? QByteArray(static_cast<const char*>(sid), int(::GetLengthSid(sid))) : QByteArray();
}

QByteArray system_owner(void* handle)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result = ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                           &owner, nullptr, nullptr, nullptr, &descriptor);
    const local_memory held(descriptor);
    return result == ERROR_SUCCESS ? sid_bytes(owner) : QByteArray();
}

// The user the process runs as, not whom a thread may be standing in for.
QByteArray process_user()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return QByteArray();
    const owned_handle held(token);
    alignas(TOKEN_USER) char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool read = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    return read ? sid_bytes(reinterpret_cast<const TOKEN_USER*>(buffer)->User.Sid) : QByteArray();
}

std::atomic<owner_lookup> g_owner_lookup{&system_owner};

} // namespace

void set_owner_lookup(owner_lookup fn)
{
    g_owner_lookup.store(fn ? fn : &system_owner);
}

qint32 current_thread_id()
{
    return static_cast<qint32>(::GetCurrentThreadId());
}

bool open_day_file(QFile& file, QIODevice::OpenMode mode)
{
    // A reparse point (a link or junction) as the day's file is opened as itself, then refused,
    // as is anything that is not a plain file on a disk.
    const std::wstring name = QDir::toNativeSeparators(file.fileName()).toStdWString();
    const HANDLE opened =
        ::CreateFileW(name.c_str(), FILE_APPEND_DATA | READ_CONTROL,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    owned_handle handle(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
    BY_HANDLE_FILE_INFORMATION info;
    const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    if (!handle || ::GetFileType(opened) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(opened, &info) || (info.dwFileAttributes & refused) != 0 ||
        info.nNumberOfLinks != 1)
        return false;
    // Whoever made the file chose who may read it: only a file of this user keeps its lines.
    const QByteArray owner = g_owner_lookup.load()(opened);
    if (owner.isEmpty() || owner != process_user())
        return false;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(opened), _O_APPEND | _O_BINARY);
    if (fd < 0)
        return false;
    handle.release(); // the descriptor owns it now
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle))
        return true;
    ::_close(fd);
    return false;
}

int direct_descriptor(QFile&)
{
    // Every line goes through the object, whose text mode makes the line ends.
    return -1;
}

void write_line(QFile& file, int, const char* line, std::size_t size)
{
    // The file's text mode writes each "\n" as CR LF.
    file.write(line, static_cast<qint64>(size));
    file.flush();
}

namespace {

// The owners that may hold a folder on the way: the user, or the system and its administrators
// (an elevated process makes its folders the administrators').
bool trusted_owner(const QByteArray& owner)
{
    if (owner.isEmpty())
        return false;
    if (owner == process_user())
        return true;
    const PSID sid = const_cast<char*>(owner.constData());
    return ::IsValidSid(sid) && (::IsWellKnownSid(sid, WinLocalSystemSid) ||
                                 ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid));
}

// A folder opened as itself, not through a reparse point (a link or junction), whose owner is
// trusted; with make, made first when missing (its rights are those its parent passes on).
bool trusted_folder(const QString& path, bool make)
{
    const std::wstring name = path.toStdWString();
    if (make)
        ::CreateDirectoryW(name.c_str(), nullptr);
    const HANDLE opened = ::CreateFileW(
        name.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const owned_handle handle(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
    BY_HANDLE_FILE_INFORMATION info;
    return handle && ::GetFileInformationByHandle(opened, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           trusted_owner(g_owner_lookup.load()(opened));
}

} // namespace

QString user_log_directory(bool make)
{
    wchar_t* found = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &found);
    const task_memory held(found);
    if (FAILED(result) || !found)
        return QString();
    // From the user's own folder down: a part that another user made, or that leads elsewhere,
    // is not used. (Above it, the profile's rights keep other users out.)
    QString path = QString::fromWCharArray(found);
    if (!trusted_folder(path, false))
        return QString();
    for (const char* part : {"\\Tarnwell", "\\logs"}) {
        path += QLatin1String(part);
        if (!trusted_folder(path, make))
            return QString();
    }
    return path;
}

void make_program_log_directory(const QString& path)
{
    // The rights are those the install folder passes on, or those the packages give logs\.
    QDir().mkdir(path);
}

QString executable_directory()
{
    std::wstring buffer(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    const QString path = QString::fromWCharArray(buffer.data(), int(length));
    return QFileInfo(QDir::fromNativeSeparators(path)).absolutePath();
}

void keep_library_loaded()
{
    // Pinned: the module stays until the process ends, with nothing to release.
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(&keep_library_loaded), &module);
}

qint64 system_time_ms()
{
    return QDateTime::currentMSecsSinceEpoch();
}

bool local_time(qint64 seconds, std::tm* out)
{
    const __time64_t t = seconds;
    return ::_localtime64_s(out, &t) == 0;
}

long standard_offset_west()
{
    ::_tzset();
    return _timezone; // the C runtime's; _get_timezone() is not in every one
}

} // namespace quillmark_detail
