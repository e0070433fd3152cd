#pragma once

#include "log_tls.h"

#include <QReadWriteLock>

#if defined(__SANITIZE_THREAD__)
#define QUILLMARK_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUILLMARK_TSAN 1
#endif
#endif

#ifdef QUILLMARK_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace quillmark_detail {

// Set while this thread holds the logger's lock. A Qt message emitted meanwhile on the same
// thread (the file layer warns, say) reaches the handler, which must drop it: waiting for the
// non-recursive lock this thread holds would hang it for good.
inline thread_local bool t_lock_held QUILLMARK_FAST_TLS = false;

// Takes the lock for writing. A line holds it for about one write(2), a few microseconds, so a
// writer that finds it taken tries again for a little while before it sleeps: that is cheaper
// than being put to sleep and woken for every line when threads log at once.
void lock_for_write(QReadWriteLock& lock);

// Holds a lock for writing, or for reading, and marks the thread while it does.
class held_lock
{
public:
    enum class mode
    {
        write,
        read
    };

    held_lock(QReadWriteLock& lock, mode how) : m_lock(lock)
    {
        if (how == mode::write)
            lock_for_write(m_lock);
        else
            m_lock.lockForRead();
#ifdef QUILLMARK_TSAN
        // Qt's lock is compiled without the race detector, which cannot see it order the
        // threads; these tell it so.
        __tsan_acquire(&m_lock);
#endif
        t_lock_held = true;
    }
    ~held_lock()
    {
        t_lock_held = false;
#ifdef QUILLMARK_TSAN
        __tsan_release(&m_lock);
#endif
        m_lock.unlock();
    }
    held_lock(const held_lock&) = delete;
    held_lock& operator=(const held_lock&) = delete;

private:
    QReadWriteLock& m_lock;
};

} // namespace quillmark_detail
