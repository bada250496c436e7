#include "cryptoprovider/pcsc/bounded_call.h"

#include "base/monotonic_condition.h"

#include <exception>
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
        MonotonicCondition ready;
        bool finished = false;
        LONG result = SCARD_S_SUCCESS;
        std::exception_ptr error;
    };
    auto outcome = std::make_shared<Outcome>();
    std::thread worker;
    try {
        worker = std::thread([outcome, call = std::move(call)]() mutable {
            LONG rv = SCARD_S_SUCCESS;
            std::exception_ptr error;
            try {
                rv = call();
            } catch (...) {
                error = std::current_exception();
            }
            {
                const std::lock_guard lock(outcome->mutex);
                outcome->finished = true;
                outcome->result = rv;
                outcome->error = std::move(error);
            }
            outcome->ready.notify_one();
        });
    } catch (const std::system_error&) {
        return SCARD_E_NO_MEMORY;
    }
    std::unique_lock lock(outcome->mutex);
    if (!outcome->ready.wait_for(lock, timeout, [&] { return outcome->finished; })) {
        lock.unlock();
        worker.detach();
        return std::nullopt;
    }
    lock.unlock();
    worker.join(); // only its last few instructions are left
    if (outcome->error) {
        std::rethrow_exception(outcome->error);
    }
    return outcome->result;
}

} // namespace pcsc
