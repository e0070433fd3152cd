#pragma once

#include "log_lock.h"

#include <QReadWriteLock>

namespace quillmark_detail {

// Holds a QReadWriteLock for writing, waiting for it as the handler does. Qt's lock lives in an
// uninstrumented library, so under ThreadSanitizer the hand-over is announced explicitly.
class legacy_write_lock
{
public:
    explicit legacy_write_lock(QReadWriteLock* lock_ptr) : m_lock_ptr(lock_ptr)
    {
        lock_for_write(*m_lock_ptr);
#ifdef QUILLMARK_TSAN
        __tsan_acquire(m_lock_ptr);
#endif
    }

    ~legacy_write_lock()
    {
#ifdef QUILLMARK_TSAN
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
