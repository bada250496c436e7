// A PC/SC call waited for at most a given time, without PC/SC: calls that
// block on a latch the test opens.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "cryptoprovider/pcsc/bounded_call.h"

namespace
{

using namespace std::chrono_literals;

TEST(CallWithin, HandsBackTheResultOrTheFailureOfACallInTime)
{
    EXPECT_EQ(pcsc::callWithin(5s, [] { return LONG{SCARD_W_REMOVED_CARD}; }), LONG{SCARD_W_REMOVED_CARD});
    EXPECT_THROW(pcsc::callWithin(5s, []() -> LONG { throw std::runtime_error("connect failed"); }),
                 std::runtime_error);
}

TEST(CallWithin, AnOverrunningCallKeepsWhatItHoldsUntilItReturns)
{
    std::promise<void> latch;
    std::shared_future<void> opened = latch.get_future().share();
    auto handle = std::make_shared<int>(7);
    const std::weak_ptr<int> watch = handle;
    const auto start = std::chrono::steady_clock::now();
    const std::optional<LONG> rv = pcsc::callWithin(50ms, [handle = std::move(handle), opened] {
        opened.wait();
        return LONG{*handle};
    });
    EXPECT_FALSE(rv);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(watch.expired()); // still in the call's hands

    // Once the call returns, its thread lets go of it.
    latch.set_value();
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!watch.expired() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(watch.expired());
}

} // namespace
