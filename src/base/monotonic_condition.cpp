#include "base/monotonic_condition.h"

#include <cerrno>
#include <ctime>
#include <limits>
#include <system_error>

MonotonicCondition::MonotonicCondition()
{
    pthread_condattr_t attributes;
    int rc = pthread_condattr_init(&attributes);
    if (rc == 0) {
        rc = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
        if (rc == 0) {
            rc = pthread_cond_init(&m_cond, &attributes);
        }
        pthread_condattr_destroy(&attributes);
    }
    if (rc != 0) {
        throw std::system_error(rc, std::generic_category(), "pthread_cond_init");
    }
}

MonotonicCondition::~MonotonicCondition()
{
    pthread_cond_destroy(&m_cond);
}

void MonotonicCondition::notify_one() noexcept
{
    pthread_cond_signal(&m_cond);
}

void MonotonicCondition::notify_all() noexcept
{
    pthread_cond_broadcast(&m_cond);
}

timespec MonotonicCondition::deadlineAfter(std::chrono::nanoseconds timeout) noexcept
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (timeout < std::chrono::nanoseconds::zero()) {
        return now;
    }
    constexpr long nanosPerSecond = 1'000'000'000;
    // A timeout of centuries ends where time_t ends instead of wrapping.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    const long nanos = static_cast<long>((timeout - seconds).count()) + now.tv_nsec;
    timespec deadline{};
    if (__builtin_add_overflow(now.tv_sec, seconds.count(), &deadline.tv_sec) ||
        (nanos >= nanosPerSecond && __builtin_add_overflow(deadline.tv_sec, 1, &deadline.tv_sec))) {
        deadline.tv_sec = std::numeric_limits<time_t>::max();
        deadline.tv_nsec = nanosPerSecond - 1;
        return deadline;
    }
    deadline.tv_nsec = nanos >= nanosPerSecond ? nanos - nanosPerSecond : nanos;
    return deadline;
}

bool MonotonicCondition::waitUntil(std::unique_lock<std::mutex>& lock, const timespec& deadline) noexcept
{
    return pthread_cond_timedwait(&m_cond, lock.mutex()->native_handle(), &deadline) != ETIMEDOUT;
}
