#pragma once

#include <QReadWriteLock>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

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

// Set while this thread holds a logger's lock: a message it emits meanwhile (the file layer
// warns, a host's handler logs through the exports) is dropped, or it would wait for itself.
inline thread_local bool t_lock_held = false;

// Set when the process ends: from then on both loggers write nothing. Their objects stay, since
// other threads may still be inside them.
inline std::atomic<bool> g_torn_down{false};

// Waited for at exit, for a line being written: long enough for one write, short enough not to
// hold up an exit where the system has already stopped the other threads (Windows does).
constexpr int exit_patience_ms = 500;

// The threads between a logger's look at g_torn_down and the end of their line. Right after our
// clean-up at exit, Qt frees what they may be using (a contended lock's wait record, the codecs):
// a writer counts itself before it reads the flag, and the clean-up sets the flag before it reads
// the count (one total order for both), so either the clean-up waits for it or it sees the flag.
inline std::atomic<int> g_writers{0};

// A writer on its way to the file, counted while it lives. open(): it may write, not once the
// process ends nor on a thread inside a logger's lock; asked again with the lock held.
class writer_gate
{
public:
    writer_gate() { g_writers.fetch_add(1); }
    ~writer_gate() { g_writers.fetch_sub(1); }
    writer_gate(const writer_gate&) = delete;
    bool open() const { return !m_nested && !g_torn_down.load(); }

private:
    const bool m_nested = t_lock_held;
};

// A negative timeout waits as long as it takes. A line holds the lock for about one write(2): a
// writer that finds it taken tries again for some microseconds before it sleeps, which costs less
// than being put to sleep and woken for every line when threads log at once.
inline bool take(QReadWriteLock& lock, int timeout_ms)
{
    for (int i = 0; timeout_ms < 0 && i < 256; ++i) {
        if (lock.tryLockForWrite())
            return true;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
        __builtin_ia32_pause(); // a wait loop: spares the core's other thread
#endif
    }
    return lock.tryLockForWrite(timeout_ms);
}
inline bool take(std::timed_mutex& lock, int timeout_ms)
{
    if (timeout_ms >= 0)
        return lock.try_lock_for(std::chrono::milliseconds(timeout_ms));
    lock.lock();
    return true;
}

// Holds a logger's lock (for writing) and marks the thread while it does. Qt's locks live in a
// library built without the race detector, which is told of the hand-over explicitly.
template <typename Lock> class held_lock
{
public:
    // Waits at most timeout_ms (a negative one: for good); a timed wait gives up at once where
    // this thread holds a logger's lock already. held() says whether the lock was taken.
    explicit held_lock(Lock& lock, int timeout_ms = -1)
        : m_lock(lock), m_held((timeout_ms < 0 || !t_lock_held) && take(lock, timeout_ms))
    {
        if (!m_held)
            return;
#ifdef QUILLMARK_TSAN
        __tsan_acquire(&m_lock);
#endif
        t_lock_held = true;
    }
    ~held_lock()
    {
        if (!m_held)
            return;
        t_lock_held = false;
#ifdef QUILLMARK_TSAN
        __tsan_release(&m_lock);
#endif
        m_lock.unlock();
    }
    bool held() const
    {
        return m_held;
    }
    held_lock(const held_lock&) = delete;

private:
    Lock& m_lock;
    bool m_held;
};

// At exit: the flag set, the logger's file let go under its lock if the lock can be had in time,
// then the writers still inside waited for: the ones queued for the lock take it once more, find
// the flag and leave. Where the system has stopped them already (Windows does), the deadline ends
// the wait.
template <typename Lock, typename Release> void stop_at_exit(Lock& lock, Release release)
{
    g_torn_down.store(true);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(exit_patience_ms);
    {
        const held_lock<Lock> held(lock, exit_patience_ms);
        if (held.held())
            release();
    }
    while (g_writers.load() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
}

} // namespace quillmark_detail
