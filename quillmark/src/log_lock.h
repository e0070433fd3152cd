#pragma once

#include "day_file.h"
#include "log_platform.h"

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

// The handler's inner lock. It is taken under Qt's lock, so another thread seldom holds it (a
// host's switch of the day file); taking it is one atomic exchange and letting go one store, no
// call into the thread library for every line.
class spin_mutex
{
public:
    bool try_lock()
    {
        return !m_held.load(std::memory_order_relaxed) &&
               !m_held.exchange(true, std::memory_order_acquire);
    }
    void lock()
    {
        while (!try_lock())
            std::this_thread::yield();
    }
    void unlock() { m_held.store(false, std::memory_order_release); }

private:
    std::atomic<bool> m_held{false};
};

// While this thread holds a logger's lock a message it emits is dropped: it would wait for itself.
QUILLMARK_FAST_TLS inline thread_local bool t_lock_held = false;

// Set at process end: both loggers stop writing but stay, as other threads may be inside them.
inline std::atomic<bool> g_torn_down{false};

// The thread that ran the clean-up at exit: what it logs later (a host's static destructors, its
// at-exit functions registered before ours) still reaches the file, past the loggers.
QUILLMARK_FAST_TLS inline thread_local bool t_exiting = false;

// Qt frees what writers use (lock wait records, codecs) right after our clean-up: a writer counts
// itself before it reads the flag, the clean-up sets it before it reads the count.
inline std::atomic<int> g_writers{0};

// A writer, counted while it lives; open() unless at exit or inside a logger's lock.
class writer_gate
{
public:
    writer_gate() { g_writers.fetch_add(1); }
    ~writer_gate() { g_writers.fetch_sub(1); }
    writer_gate(const writer_gate&) = delete;
    bool open() const { return !m_nested && !g_torn_down.load(); }
    // After the clean-up, on the thread that ran it: the line is written on its own.
    bool late() const { return !m_nested && g_torn_down.load() && t_exiting; }

private:
    const bool m_nested = t_lock_held;
};

// A line holds the lock for about one write(2): spinning briefly costs less than sleeping and
// waking for every line when threads log at once. A negative timeout waits for good.
inline bool take(QReadWriteLock& lock, int timeout_ms)
{
    for (int i = 0; timeout_ms < 0 && i < 256; ++i) {
        if (lock.tryLockForWrite())
            return true;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
        __builtin_ia32_pause(); // spares the core's other thread
#endif
    }
    return lock.tryLockForWrite(timeout_ms);
}
// A timed wait by tries, not std::timed_mutex's: the race detector does not see the clock wait
// that try_lock_for() makes.
template <typename Mutex> bool take(Mutex& lock, int timeout_ms)
{
    if (timeout_ms < 0) {
        lock.lock();
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!lock.try_lock()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// A logger's lock, held for writing, with the thread marked meanwhile; a timed wait gives up at
// once inside a logger's lock. Qt is built without the race detector, which is told by hand.
template <typename Lock> class held_lock
{
public:
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

// Both loggers stop writing; what this thread logs from now on is written on its own.
inline void begin_exit()
{
    if (!t_exiting)
        note_for_exit();
    t_exiting = true;
    g_torn_down.store(true);
}

// At exit: the file let go under the lock, then the writers inside waited for, long enough for a
// write, not long where the system has stopped the other threads already (Windows does).
template <typename Lock, typename Release> void stop_at_exit(Lock& lock, Release release)
{
    begin_exit();
    constexpr int patience_ms = 500;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patience_ms);
    {
        const held_lock<Lock> held(lock, patience_ms);
        if (held.held())
            release();
    }
    while (g_writers.load() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
}

} // namespace quillmark_detail
