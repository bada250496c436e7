// A condition variable whose timed waits measure time on the monotonic clock
// through pthread_cond_timedwait. std::condition_variable's steady-clock waits
// call pthread_cond_clockwait where the C library has it (glibc 2.30 and
// later), which a library that must load on glibc 2.28 cannot bind.
#pragma once

#include <chrono>
#include <mutex>
#include <pthread.h>

class MonotonicCondition
{
  public:
    MonotonicCondition();
    ~MonotonicCondition();
    MonotonicCondition(const MonotonicCondition&) = delete;
    MonotonicCondition& operator=(const MonotonicCondition&) = delete;

    void notify_one() noexcept;
    void notify_all() noexcept;

    // Waits until `ready()` holds; `lock` holds its mutex on entry and on return.
    template <class Predicate> void wait(std::unique_lock<std::mutex>& lock, Predicate ready)
    {
        while (!ready()) {
            pthread_cond_wait(&m_cond, lock.mutex()->native_handle());
        }
    }

    // Waits at most `timeout` for `ready()`; returns what it holds at the end.
    template <class Predicate>
    bool wait_for(std::unique_lock<std::mutex>& lock, std::chrono::nanoseconds timeout, Predicate ready)
    {
        const timespec deadline = deadlineAfter(timeout);
        while (!ready()) {
            if (!waitUntil(lock, deadline)) {
                return ready();
            }
        }
        return true;
    }

  private:
    static timespec deadlineAfter(std::chrono::nanoseconds timeout) noexcept;
    // false once the deadline has passed.
    bool waitUntil(std::unique_lock<std::mutex>& lock, const timespec& deadline) noexcept;

    pthread_cond_t m_cond;
};
