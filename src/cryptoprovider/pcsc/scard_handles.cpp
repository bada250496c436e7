#include "cryptoprovider/pcsc/scard_handles.h"

#include <string>
#include <utility>

#include "base/logger.h"
#include "base/never_destroyed.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/scard_api.h"

namespace pcsc
{
namespace
{

bool sameResult(std::int32_t result, LONG code)
{
    return static_cast<std::uint32_t>(result) == static_cast<std::uint32_t>(code);
}

} // namespace

void Turn::take(std::thread::id self) noexcept
{
    m_owner = self;
    ++m_depth;
}

void Turn::lock()
{
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock guard(m_mutex);
    m_released.wait(guard, [&] { return freeFor(self); });
    take(self);
}

bool Turn::try_lock_for(std::chrono::milliseconds timeout)
{
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock guard(m_mutex);
    if (!m_released.wait_for(guard, timeout, [&] { return freeFor(self); })) {
        return false;
    }
    take(self);
    return true;
}

void Turn::unlock() noexcept
{
    {
        const std::lock_guard guard(m_mutex);
        if (m_depth == 0 || --m_depth > 0) {
            return;
        }
        m_owner = std::thread::id();
    }
    m_released.notify_all();
}

Turn& connectionTurn()
{
    static bs::NeverDestroyed<Turn> turn;
    return *turn;
}

void checkResult(std::int32_t result)
{
    if (result == 0) {
        return;
    }
    bs::Logger log("SCardProvider::checkResult");
    log.debug("SCardProvider::checkResult=" + std::to_string(result));
    if (sameResult(result, SCARD_E_INVALID_HANDLE) || sameResult(result, SCARD_E_UNKNOWN_READER) ||
        sameResult(result, SCARD_E_READER_UNAVAILABLE) || sameResult(result, SCARD_W_REMOVED_CARD)) {
        throw bs::withVendorCode(DeviceNotFound(), static_cast<std::uint32_t>(result));
    }
    if (sameResult(result, SCARD_E_NO_SERVICE)) {
        throw bs::withVendorCode(ScardNoService(), static_cast<std::uint32_t>(result));
    }
    const auto code = static_cast<std::uint32_t>(result);
    const std::string text = pcsc_stringify_error(static_cast<LONG>(code));
    log.error(text);
    throw ScardException(code, text);
}

Context Context::establish()
{
    bs::Logger log("SCardProvider::establishContext");
    SCARDCONTEXT handle = 0;
    const LONG rv = pcsc::api().SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &handle);
    log.debug("SCardEstablishContext=" + std::to_string(rv));
    checkResult(asResult(rv));
    return Context(handle);
}

Context::Context(Context&& other) noexcept : m_handle(std::exchange(other.m_handle, 0)) {}

Context& Context::operator=(Context&& other) noexcept
{
    if (this != &other) {
        reset();
        m_handle = std::exchange(other.m_handle, 0);
    }
    return *this;
}

void Context::reset() noexcept
{
    if (m_handle != 0) {
        pcsc::api().SCardReleaseContext(m_handle);
        m_handle = 0;
    }
}

Card Card::connect(const Context& context, std::string_view reader)
{
    bs::Logger log("SCardProvider::connect");
    const std::string name(reader);
    log.debug("SCardConnect: " + name);
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    const LONG rv = pcsc::api().SCardConnect(context.handle(), name.c_str(), SCARD_SHARE_SHARED,
                                             SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle, &protocol);
    checkResult(asResult(rv));
    if (protocol == SCARD_PROTOCOL_T0) {
        return Card(handle, SCARD_PCI_T0);
    }
    if (protocol == SCARD_PROTOCOL_T1) {
        return Card(handle, SCARD_PCI_T1);
    }
    log.error("unknown protocol " + std::to_string(protocol));
    pcsc::api().SCardDisconnect(handle, SCARD_LEAVE_CARD);
    throw ScardException(0, cp::localization.get("CP-020001"), "CP-020001");
}

Card::Card(Card&& other) noexcept
    : m_handle(std::exchange(other.m_handle, 0)), m_pci(std::exchange(other.m_pci, nullptr))
{
}

Card& Card::operator=(Card&& other) noexcept
{
    if (this != &other) {
        reset();
        m_handle = std::exchange(other.m_handle, 0);
        m_pci = std::exchange(other.m_pci, nullptr);
    }
    return *this;
}

void Card::reset() noexcept
{
    if (m_handle != 0) {
        pcsc::api().SCardDisconnect(m_handle, SCARD_LEAVE_CARD);
        m_handle = 0;
        m_pci = nullptr;
    }
}

} // namespace pcsc
