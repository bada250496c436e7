#include "cryptoprovider/pcsc/bounded_call.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace pcsc
{

std::optional<LONG> callWithin(std::chrono::milliseconds timeout, std::function<LONG()> call)
{
    // Shared by the caller and the thread: whichever leaves last frees it.
    struct Outcome {
        std::mutex mutex;
        std::condition_variable ready;
        std::optional<LONG> result;
    };
    auto outcome = std::make_shared<Outcome>();
    std::thread worker;
    try {
        worker = std::thread([outcome, call = std::move(call)]() mutable {
            const LONG rv = call();
            call = nullptr; // lets go of the handles now, also when nobody waits any more
            {
                const std::lock_guard lock(outcome->mutex);
                outcome->result = rv;
            }
            outcome->ready.notify_one();
        });
    } catch (const std::system_error&) {
        return SCARD_E_NO_MEMORY;
    }
    std::unique_lock lock(outcome->mutex);
    if (outcome->ready.wait_for(lock, timeout, [&] { return outcome->result.has_value(); })) {
        lock.unlock();
        worker.join(); // only its last few instructions are left
        return outcome->result;
    }
    worker.detach();
    return std::nullopt;
}

} // namespace pcsc
