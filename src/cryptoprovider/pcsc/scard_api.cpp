#include "cryptoprovider/pcsc/scard_api.h"

#include <atomic>

namespace pcsc
{

namespace
{

constexpr Api CLIENT_LIBRARY{
    ::SCardEstablishContext, ::SCardReleaseContext, ::SCardListReaders,      ::SCardGetStatusChange,
    ::SCardConnect,          ::SCardDisconnect,     ::SCardBeginTransaction, ::SCardEndTransaction,
    ::SCardTransmit,         ::SCardFreeMemory,
};

std::atomic<const Api*> installed{nullptr};

} // namespace

const Api& api() noexcept
{
    const Api* table = installed.load(std::memory_order_acquire);
    return table != nullptr ? *table : CLIENT_LIBRARY;
}

void installApi(const Api* table) noexcept
{
    installed.store(table, std::memory_order_release);
}

} // namespace pcsc
