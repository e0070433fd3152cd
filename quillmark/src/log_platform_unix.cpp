#include "log_platform.h"

#include "log_tls.h"

#include <QFile>
#include <QThread>

#include <cerrno>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quillmark_detail {

bool open_for_append(QFile& file, QIODevice::OpenMode mode)
{
    // O_APPEND: the kernel moves to the end for every write.
    return file.open(mode);
}

namespace {

// gettid() is a system call; a thread's id never changes, except in the child of a fork.
thread_local qint32 t_thread_id QUILLMARK_FAST_TLS = 0;

void forget_thread_id()
{
    t_thread_id = 0;
}

[[maybe_unused]] const int g_fork_hook = pthread_atfork(nullptr, nullptr, &forget_thread_id);

// The write system call without the C library's cancellation point: a thread cancelled there
// would never give the logger's lock back. (It is also a little shorter.)
ssize_t raw_write(int fd, const char* data, std::size_t size)
{
#ifdef Q_OS_LINUX
    return ::syscall(SYS_write, fd, data, size);
#else
    return ::write(fd, data, size);
#endif
}

} // namespace

qint32 current_thread_id()
{
    if (t_thread_id == 0) {
#ifdef Q_OS_LINUX
        t_thread_id = static_cast<qint32>(::gettid());
#else
        t_thread_id = static_cast<qint32>(reinterpret_cast<quintptr>(QThread::currentThreadId()));
#endif
    }
    return t_thread_id;
}

void write_line(QFile& file, const char* line, std::size_t size)
{
    const int fd = file.handle();
    if (fd < 0) {
        file.write(line, static_cast<qint64>(size));
        file.flush();
        return;
    }
    // The file is open for appending (O_APPEND), so the kernel puts every write at the end.
    const char* data = line;
    std::size_t left = size;
    while (left > 0) {
        const ssize_t written = raw_write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

} // namespace quillmark_detail
