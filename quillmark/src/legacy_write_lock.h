#pragma once

#include <QReadWriteLock>

#if defined(__SANITIZE_THREAD__)
#define QUILLMARK_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUILLMARK_THREAD_SANITIZER 1
#endif
#endif

#ifdef QUILLMARK_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace quillmark_detail {

// Holds a QReadWriteLock for writing. Qt's lock lives in an uninstrumented library, so under
// ThreadSanitizer the hand-over is announced explicitly; otherwise this is a QWriteLocker.
class legacy_write_lock
{
public:
    explicit legacy_write_lock(QReadWriteLock* lock_ptr) : m_lock_ptr(lock_ptr)
    {
        m_lock_ptr->lockForWrite();
#ifdef QUILLMARK_THREAD_SANITIZER
        __tsan_acquire(m_lock_ptr);
#endif
    }

    ~legacy_write_lock()
    {
#ifdef QUILLMARK_THREAD_SANITIZER
        __tsan_release(m_lock_ptr);
#endif
        m_lock_ptr->unlock();
    }

    legacy_write_lock(const legacy_write_lock&) = delete;
    legacy_write_lock& operator=(const legacy_write_lock&) = delete;

private:
    QReadWriteLock* m_lock_ptr;
};

} // namespace quillmark_detail
