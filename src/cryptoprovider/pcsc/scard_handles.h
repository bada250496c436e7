// Owners of the two PC/SC handles: a context and a card connection. Each is
// move-only and releases its handle exactly once, on destruction or reset();
// a moved-from or default-constructed owner holds nothing.
#pragma once

#include <cstdint>
#include <string_view>

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

// A context and the card connected within it. Declared in this order so the
// card is left before the context goes.
struct Connection {
    Context context;
    Card card;
};

} // namespace pcsc
