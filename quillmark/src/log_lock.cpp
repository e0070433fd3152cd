#include "log_lock.h"

#include <thread>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_IX86)
#include <emmintrin.h>
#define QUILLMARK_CPU_RELAX() _mm_pause()
#elif defined(__aarch64__) || defined(__arm__)
#define QUILLMARK_CPU_RELAX() __asm__ __volatile__("yield")
#else
#define QUILLMARK_CPU_RELAX()
#endif

namespace quillmark_detail {

namespace {

// Some ten microseconds on current processors, where a pause lasts some 30 to 50 ns; on one
// core the holder cannot run meanwhile, so there is no point in waiting that way.
constexpr int spin_tries = 64;
constexpr int pauses_per_try = 4;
const bool g_may_spin = std::thread::hardware_concurrency() > 1;

} // namespace

void lock_for_write(QReadWriteLock& lock)
{
    if (g_may_spin) {
        for (int i = 0; i < spin_tries; ++i) {
            if (lock.tryLockForWrite())
                return;
            for (int k = 0; k < pauses_per_try; ++k)
                QUILLMARK_CPU_RELAX();
        }
    }
    lock.lockForWrite();
}

} // namespace quillmark_detail
