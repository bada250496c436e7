// Owners of the two PC/SC handles: a context and a card connection. Each is
// move-only and releases its handle exactly once, on destruction or reset();
// a moved-from or default-constructed owner holds nothing.
#pragma once

#include "base/monotonic_condition.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <thread>

#include <winscard.h>

namespace pcsc
{

// Throws the library's exception for a failed PC/SC result: DeviceNotFound
// for an unknown or unavailable reader, an invalid handle or a removed card;
// ScardNoService without a PC/SC service; ScardException (the result as
// code, the platform's text) for anything else. 0 (success) does nothing.
void checkResult(std::int32_t result);

// A PC/SC result (LONG) as the 32-bit code checkResult and the exceptions carry.
inline std::int32_t asResult(LONG rv)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(rv));
}

// One PC/SC context (SCardEstablishContext / SCardReleaseContext).
class Context
{
  public:
    Context() noexcept = default;
    // SCardEstablishContext(SCARD_SCOPE_SYSTEM); failures through checkResult.
    static Context establish();

    ~Context() { reset(); }
    Context(Context&& other) noexcept;
    Context& operator=(Context&& other) noexcept;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    bool valid() const noexcept { return m_handle != 0; }
    SCARDCONTEXT handle() const noexcept { return m_handle; }
    // Releases the context (result ignored); the owner then holds nothing.
    void reset() noexcept;

  private:
    explicit Context(SCARDCONTEXT handle) noexcept : m_handle(handle) {}
    SCARDCONTEXT m_handle = 0;
};

// One card connection (SCardConnect / SCardDisconnect with SCARD_LEAVE_CARD)
// and the protocol control information of the protocol it runs.
class Card
{
  public:
    Card() noexcept = default;
    // Shared access, T=0 or T=1, within `context`, which must outlive the
    // card. Failures through checkResult; any other protocol than T=0 or T=1
    // leaves the card and throws ScardException (code 0, "CP-020001").
    static Card connect(const Context& context, std::string_view reader);

    ~Card() { reset(); }
    Card(Card&& other) noexcept;
    Card& operator=(Card&& other) noexcept;
    Card(const Card&) = delete;
    Card& operator=(const Card&) = delete;

    bool connected() const noexcept { return m_handle != 0; }
    SCARDHANDLE handle() const noexcept { return m_handle; }
    // SCARD_PCI_T0 or SCARD_PCI_T1 while connected, else nullptr.
    const SCARD_IO_REQUEST* pci() const noexcept { return m_pci; }
    // Leaves the card (result ignored); the owner then holds nothing.
    void reset() noexcept;

  private:
    Card(SCARDHANDLE handle, const SCARD_IO_REQUEST* pci) noexcept : m_handle(handle), m_pci(pci) {}
    SCARDHANDLE m_handle = 0;
    const SCARD_IO_REQUEST* m_pci = nullptr;
};

// A re-entrant lock with a bounded wait: the thread holding it may take it
// again, others wait. Built on a mutex and a condition variable (so thread
// checkers follow it; its timed wait is on the monotonic clock without
// pthread_cond_clockwait); the last unlock frees it, whichever thread makes it.
class Turn
{
  public:
    Turn() = default;
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

    void lock();
    // false when another thread still holds the turn after `timeout`.
    bool try_lock_for(std::chrono::milliseconds timeout);
    bool try_lock() { return try_lock_for(std::chrono::milliseconds(0)); }
    void unlock() noexcept;

  private:
    bool freeFor(std::thread::id self) const noexcept { return m_depth == 0 || m_owner == self; }
    void take(std::thread::id self) noexcept;

    std::mutex m_mutex;
    MonotonicCondition m_released;
    std::thread::id m_owner;
    unsigned m_depth = 0;
};

// The turn of the process's PC/SC connections. The PC/SC client library
// (pcsc-lite 1.9.9) adds and removes card handles under the lock of their
// context only, while calls on other handles search every context's handles
// under its global lock, and leaving a card searches them without that lock
// while other threads add and free contexts under it: connections made or
// left in one thread while another thread uses PC/SC can crash the process.
// So establishing and releasing contexts, connecting and leaving cards and
// the whole time a provider is connected hold this turn (re-entrant: the
// thread holding it may open more).
Turn& connectionTurn();

// A context and the card connected within it. Declared in this order so the
// card is left before the context goes. The provider's thread lets both go
// within its turn. A call that overran lets go on its own thread once PC/SC
// returns, within the turn when it is free and without it otherwise: it must
// not wait for the turn, whose holder may be waiting for this very card (a
// transaction the late call obtained is ended only by leaving the card).
struct Connection {
    Connection() = default;
    ~Connection()
    {
        const std::unique_lock turn(connectionTurn(), std::try_to_lock);
        card.reset();
        context.reset();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Context context;
    Card card;
};

} // namespace pcsc
