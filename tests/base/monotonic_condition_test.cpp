#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "base/monotonic_condition.h"

namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Flag {
    std::mutex mutex;
    MonotonicCondition changed;
    bool set = false;

    void raiseAfter(std::chrono::milliseconds delay)
    {
        std::this_thread::sleep_for(delay);
        {
            const std::lock_guard guard(mutex);
            set = true;
        }
        changed.notify_all();
    }
};

TEST(MonotonicConditionTest, TimedWaitEndsAtTheTimeoutWhenNothingChanges)
{
    Flag flag;
    std::unique_lock lock(flag.mutex);
    const auto start = Clock::now();
    EXPECT_FALSE(flag.changed.wait_for(lock, 120ms, [&] { return flag.set; }));
    EXPECT_GE(Clock::now() - start, 120ms);
    EXPECT_TRUE(lock.owns_lock());
}

TEST(MonotonicConditionTest, WaitsEndWhenAnotherThreadChangesTheState)
{
    // The longest timeout must not wrap around into a deadline in the past.
    struct Case {
        const char* name;
        std::chrono::nanoseconds timeout;
        bool untimed;
    };
    const Case cases[] = {
        {"ten seconds", 10s, false},
        {"longest", std::chrono::nanoseconds::max(), false},
        {"untimed", 0s, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Flag flag;
        std::thread raiser([&] { flag.raiseAfter(50ms); });
        std::unique_lock lock(flag.mutex);
        const auto start = Clock::now();
        if (c.untimed) {
            flag.changed.wait(lock, [&] { return flag.set; });
        } else {
            EXPECT_TRUE(flag.changed.wait_for(lock, c.timeout, [&] { return flag.set; }));
        }
        const auto waited = Clock::now() - start;
        EXPECT_TRUE(flag.set);
        EXPECT_GE(waited, 40ms);
        EXPECT_LT(waited, 5s);
        lock.unlock();
        raiser.join();
    }
}

TEST(MonotonicConditionTest, ReadyOrExpiredStateAnswersWithoutWaiting)
{
    Flag flag;
    std::unique_lock lock(flag.mutex);
    EXPECT_FALSE(flag.changed.wait_for(lock, -5s, [&] { return flag.set; }));
    EXPECT_FALSE(flag.changed.wait_for(lock, 0s, [&] { return flag.set; }));
    flag.set = true;
    const auto start = Clock::now();
    EXPECT_TRUE(flag.changed.wait_for(lock, 10s, [&] { return flag.set; }));
    EXPECT_LT(Clock::now() - start, 1s);
}

} // namespace
