#include "log_platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark_detail {

// gettid() is a system call; a thread's id changes only in the child of a fork.
static thread_local qint32 t_thread_id = 0;
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

void write_line(QFile& file, const char* line, std::size_t size)
{
    // A host holding the lock may have written through the object without flushing.
    if (file.bytesToWrite() > 0)
        file.flush();
    const int fd = file.handle();
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

QString user_log_directory(bool make)
{
    // A relative XDG_STATE_HOME counts as unset.
    QByteArray path = qgetenv("XDG_STATE_HOME");
    if (!path.startsWith('/')) {
        path = qgetenv("HOME");
        if (!path.startsWith('/'))
            return QString();
        path += "/.local/state";
    }
    path += "/tarnwell/logs";
    for (int end = path.indexOf('/', 1); make; end = path.indexOf('/', end + 1)) {
        ::mkdir(path.left(end < 0 ? path.size() : end).constData(), 0700);
        make = end >= 0;
    }
    return QFile::decodeName(path);
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
