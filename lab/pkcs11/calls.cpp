#include "calls.h"

#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>

#include "device/faults.h"
#include "device/latency.h"

namespace labtoken
{
namespace fs = std::filesystem;

namespace
{
CK_RV parseRv(const std::string& text)
{
    static const std::map<std::string, CK_RV> names = {
        {"CKR_OK", CKR_OK},
        {"CKR_CANCEL", CKR_CANCEL},
        {"CKR_HOST_MEMORY", CKR_HOST_MEMORY},
        {"CKR_SLOT_ID_INVALID", CKR_SLOT_ID_INVALID},
        {"CKR_GENERAL_ERROR", CKR_GENERAL_ERROR},
        {"CKR_FUNCTION_FAILED", CKR_FUNCTION_FAILED},
        {"CKR_ARGUMENTS_BAD", CKR_ARGUMENTS_BAD},
        {"CKR_ATTRIBUTE_TYPE_INVALID", CKR_ATTRIBUTE_TYPE_INVALID},
        {"CKR_DEVICE_ERROR", CKR_DEVICE_ERROR},
        {"CKR_DEVICE_MEMORY", CKR_DEVICE_MEMORY},
        {"CKR_DEVICE_REMOVED", CKR_DEVICE_REMOVED},
        {"CKR_FUNCTION_CANCELED", CKR_FUNCTION_CANCELED},
        {"CKR_FUNCTION_NOT_SUPPORTED", CKR_FUNCTION_NOT_SUPPORTED},
        {"CKR_KEY_HANDLE_INVALID", CKR_KEY_HANDLE_INVALID},
        {"CKR_MECHANISM_INVALID", CKR_MECHANISM_INVALID},
        {"CKR_OBJECT_HANDLE_INVALID", CKR_OBJECT_HANDLE_INVALID},
        {"CKR_PIN_INCORRECT", CKR_PIN_INCORRECT},
        {"CKR_PIN_LEN_RANGE", CKR_PIN_LEN_RANGE},
        {"CKR_PIN_LOCKED", CKR_PIN_LOCKED},
        {"CKR_SESSION_HANDLE_INVALID", CKR_SESSION_HANDLE_INVALID},
        {"CKR_SIGNATURE_INVALID", CKR_SIGNATURE_INVALID},
        {"CKR_TEMPLATE_INCONSISTENT", CKR_TEMPLATE_INCONSISTENT},
        {"CKR_TOKEN_NOT_PRESENT", CKR_TOKEN_NOT_PRESENT},
        {"CKR_USER_NOT_LOGGED_IN", CKR_USER_NOT_LOGGED_IN},
        {"CKR_BUFFER_TOO_SMALL", CKR_BUFFER_TOO_SMALL},
        {"CKR_CRYPTOKI_ALREADY_INITIALIZED", CKR_CRYPTOKI_ALREADY_INITIALIZED},
        {"CKR_FUNCTION_REJECTED", CKR_FUNCTION_REJECTED},
    };
    auto it = names.find(text);
    if (it != names.end())
        return it->second;
    return std::stoul(text, nullptr, 0);
}
} // namespace

// Rules of DIR/faults (device/faults.h), with an optional remove=<serial>:
// the device is pulled out of its slot as the rule fires.
std::optional<CK_RV> injectedFault(const fs::path& dir, const char* function)
{
    if (dir.empty())
        return std::nullopt;
    auto hit = labdev::nextFault(dir / "faults", function, family(),
                                 [](const std::string& text) -> std::optional<std::uint64_t> {
                                     return parseRv(text);
                                 });
    if (!hit)
        return std::nullopt;
    if (!hit->remove.empty()) {
        // The rule pulls a token out of its slot as the call fails.
        try {
            labdev::DeviceDirectory(dir).update(hit->remove,
                                                [](Device& d) { d.setInt(labdev::fact::PRESENT, 0); });
        } catch (const std::exception&) {
            // No such device: only the return value is injected.
        }
    }
    return static_cast<CK_RV>(hit->value);
}

namespace
{
// The slot a call is for: the number after "slot=" or the slot of the
// session after "session=" at the start of `detail`.
std::optional<CK_SLOT_ID> slotOfCall(const std::string& detail)
{
    const bool bySlot = detail.starts_with("slot=");
    if (!bySlot && !detail.starts_with("session="))
        return std::nullopt;
    const std::size_t start = detail.find('=') + 1;
    const std::size_t end = detail.find_first_not_of("0123456789", start);
    if (end == start)
        return std::nullopt;
    const CK_ULONG number = std::stoul(detail.substr(start, end - start));
    if (bySlot)
        return number;
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g.sessions.find(number);
    if (it == g.sessions.end())
        return std::nullopt;
    return it->second.slot;
}
} // namespace

std::unique_lock<std::mutex> deviceLatency(const fs::path& dir, const char* function,
                                           const std::string& detail)
{
    if (dir.empty())
        return {};
    const std::optional<labdev::Latency> latency = labdev::readLatency(dir);
    if (!latency)
        return {};
    // With the model on, a call without a delay of its own still waits for
    // its token to finish the command in hand.
    std::unique_lock<std::mutex> device;
    if (const std::optional<CK_SLOT_ID> slot = slotOfCall(detail))
        device = std::unique_lock<std::mutex>(tokenMutex(*slot));
    const std::chrono::microseconds delay = latency->delayOf(function);
    if (delay.count() > 0)
        std::this_thread::sleep_for(delay);
    return device;
}

namespace
{
thread_local std::unique_lock<std::mutex>* t_moduleLock = nullptr;
} // namespace

ModuleLockScope::ModuleLockScope(std::unique_lock<std::mutex>& lock) : m_previous(t_moduleLock)
{
    t_moduleLock = &lock;
}

ModuleLockScope::~ModuleLockScope()
{
    t_moduleLock = m_previous;
}

void outsideModuleLock(const std::function<void()>& work)
{
    std::unique_lock<std::mutex>* lock = t_moduleLock;
    if (!lock || !lock->owns_lock()) {
        work();
        return;
    }
    struct Relock {
        std::unique_lock<std::mutex>& lock;
        ~Relock() { lock.lock(); }
    };
    lock->unlock();
    const Relock relock{*lock};
    work();
}

void logCall(const fs::path& dir, const char* function, const std::string& detail, CK_RV rv, bool injected)
{
    if (!dir.empty())
        labdev::logCall(dir / "calls.log", family(), function, detail, rv, injected);
}

std::string hexNumber(CK_ULONG v)
{
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

std::string slotDetail(CK_SLOT_ID slot)
{
    return "slot=" + std::to_string(slot);
}
std::string sessionDetail(CK_SESSION_HANDLE h)
{
    return "session=" + std::to_string(h);
}

} // namespace labtoken
