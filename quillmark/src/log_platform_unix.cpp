#include "log_platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace quillmark_detail {

// gettid() is a system call; a thread's id changes only in the child of a fork.
QUILLMARK_FAST_TLS static thread_local qint32 t_thread_id = 0;
[[maybe_unused]] static const int g_fork_hook =
    pthread_atfork(nullptr, nullptr, [] { t_thread_id = 0; });

qint32 current_thread_id()
{
    if (t_thread_id == 0)
        t_thread_id = static_cast<qint32>(::gettid());
    return t_thread_id;
}

bool open_day_file(QFile& file, QIODevice::OpenMode mode)
{
    // The folder may be shared with other users, who can plant any name in it: the last part is
    // never followed as a link, and a FIFO must not block the open.
    const int fd =
        ::open(QFile::encodeName(file.fileName()).constData(),
               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
        info.st_nlink == 1 && file.open(fd, mode, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}

int direct_descriptor(QFile& file)
{
    return file.handle();
}

void write_line(QFile& file, int direct, const char* line, std::size_t size)
{
    int fd = direct;
    if (fd < 0) {
        // A host holding the lock may have written through the object without flushing.
        if (file.bytesToWrite() > 0)
            file.flush();
        fd = file.handle();
    }
    while (size > 0) {
        const ssize_t written = ::write(fd, line, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        line += written;
        size -= static_cast<std::size_t>(written);
    }
}

namespace {

// A descriptor closed on every path.
class owned_fd
{
public:
    explicit owned_fd(int fd = -1) : m_fd(fd) {}
    owned_fd(const owned_fd&) = delete;
    owned_fd& operator=(const owned_fd&) = delete;
    ~owned_fd() { reset(-1); }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
// As many links as the kernel follows in one path: a loop of links ends.
constexpr int max_links = 40;

// Nobody but root and the user can have put this folder there or change what it holds: owned
// by one of them, and writable by nobody else unless it is root's and sticky, as /tmp is.
bool trusted_folder(const struct stat& info, uid_t user)
{
    if (!S_ISDIR(info.st_mode) || (info.st_uid != 0 && info.st_uid != user))
        return false;
    return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 ||
           (info.st_uid == 0 && (info.st_mode & S_ISVTX) != 0);
}

// Opens name in folder as a folder, not through a link; with make, a missing one is made
// first. made tells whether this call made it.
int open_part(int folder, const char* name, bool make, bool& made)
{
    made = false;
    int fd = ::openat(folder, name, folder_flags);
    if (fd < 0 && errno == ENOENT && make) {
        made = ::mkdirat(folder, name, 0700) == 0;
        fd = ::openat(folder, name, folder_flags);
    }
    return fd;
}

// A folder the library made, or one of its own: the user's alone, whatever the umask was.
bool make_private(int fd, const struct stat& info, uid_t user)
{
    return S_ISDIR(info.st_mode) && info.st_uid == user &&
           ((info.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
}

// Walks parts down from folder, one folder at a time, each opened as itself and checked on its
// handle, so that what is checked is what is used. A link is followed only when root or the
// user made it in a trusted folder. With make, missing folders are made, private to the user.
bool walk_parts(owned_fd& folder, QByteArrayList parts, bool make, uid_t user)
{
    struct stat info;
    int links = 0;
    while (!parts.isEmpty()) {
        const QByteArray part = parts.takeFirst();
        if (part.isEmpty())
            continue;
        bool made = false;
        const int fd = open_part(folder.get(), part.constData(), make, made);
        if (fd < 0 && (errno == ELOOP || errno == ENOTDIR) && ++links <= max_links &&
            ::fstatat(folder.get(), part.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(info.st_mode) && (info.st_uid == 0 || info.st_uid == user)) {
            QByteArray target(PATH_MAX, '\0');
            const ssize_t size = ::readlinkat(folder.get(), part.constData(), target.data(),
                                              std::size_t(target.size()));
            if (size <= 0 || size >= target.size())
                return false;
            target.truncate(int(size));
            parts = target.split('/') + parts;
            if (target.startsWith('/')) {
                folder.reset(::open("/", folder_flags));
                if (folder.get() < 0)
                    return false;
            }
            continue;
        }
        if (fd < 0)
            return false;
        folder.reset(fd);
        if (::fstat(fd, &info) != 0 ||
            !(made ? make_private(fd, info, user) : trusted_folder(info, user)))
            return false;
    }
    return true;
}

// One place for the user's folder: a folder that must be there already, the folders below it
// that may be made, then the library's own "tarnwell/logs".
struct state_home
{
    QByteArray found;
    QByteArrayList made;
    QByteArray path() const
    {
        return found + '/' + made.join('/') + (made.isEmpty() ? "" : "/") + "tarnwell/logs";
    }
};

// The whole path from /, then the library's own folders: never links, the user's, private.
bool walk_trusted(const state_home& home, bool make)
{
    const uid_t user = ::geteuid();
    owned_fd folder(::open("/", folder_flags));
    struct stat info;
    if (folder.get() < 0 || ::fstat(folder.get(), &info) != 0 || !trusted_folder(info, user) ||
        !walk_parts(folder, home.found.split('/'), false, user) ||
        !walk_parts(folder, home.made, make, user))
        return false;
    for (const char* name : {"tarnwell", "logs"}) {
        bool made = false;
        const int fd = open_part(folder.get(), name, make, made);
        if (fd < 0)
            return false;
        folder.reset(fd);
        if (::fstat(fd, &info) != 0 || !make_private(fd, info, user))
            return false;
    }
    return true;
}

// Where the user's state lies, best first: XDG_STATE_HOME (which may be made, in a folder that
// is there), then ".local/state" below the home that HOME names, then below the home of the
// user's account entry (su keeps the caller's XDG_STATE_HOME, and HOME may be anyone's). A
// relative path counts as unset.
QList<state_home> state_homes()
{
    QList<state_home> homes;
    QByteArray state = qgetenv("XDG_STATE_HOME");
    if (state.startsWith('/')) {
        while (state.endsWith('/'))
            state.chop(1);
        const int last = state.lastIndexOf('/');
        homes.append({state.left(last), {state.mid(last + 1)}});
    }
    const QByteArrayList local_state{".local", "state"};
    const QByteArray home = qgetenv("HOME");
    if (home.startsWith('/'))
        homes.append({home, local_state});
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/' && home != found->pw_dir)
        homes.append({QByteArray(found->pw_dir), local_state});
    return homes;
}

} // namespace

QString user_log_directory(bool make)
{
    for (const state_home& home : state_homes()) {
        if (walk_trusted(home, make))
            return QFile::decodeName(home.path());
    }
    return QString();
}

void make_program_log_directory(const QString& path)
{
    // Whatever the umask: a folder others may write to without the sticky bit would let them
    // remove or replace everyone's files. Other users' lines go to their own folders.
    ::mkdir(QFile::encodeName(path).constData(), 0755);
}

QString executable_directory()
{
    const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return path.isEmpty() ? QDir::currentPath() : QFileInfo(path).absolutePath();
}

void keep_library_loaded()
{
    // Linked with -z nodelete: dlclose() leaves it mapped.
}

qint64 system_time_ms()
{
    // The same clock as Qt's, read here: the call into Qt's library cost a line measurably more.
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool local_time(qint64 seconds, std::tm* out)
{
    // localtime_r() need not look at TZ again; the zone may change while the program runs.
    ::tzset();
    const std::time_t t = static_cast<std::time_t>(seconds);
    return ::localtime_r(&t, out) != nullptr;
}

long standard_offset_west()
{
    ::tzset();
    return ::timezone;
}

} // namespace quillmark_detail
