#include "log_clock.h"

#include <QDateTime>

#include <atomic>

namespace quillmark_detail {

namespace {
std::atomic<clock_function> g_clock{nullptr};
}

qint64 now_ms()
{
    const clock_function fn = g_clock.load(std::memory_order_acquire);
    return fn ? fn() : QDateTime::currentMSecsSinceEpoch();
}

void set_clock(clock_function fn)
{
    g_clock.store(fn, std::memory_order_release);
}

} // namespace quillmark_detail
