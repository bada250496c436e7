// PC/SC access: one context and at most one card connection per provider,
// each held by its owner (scard_handles.h). Connecting, a card exchange and
// a transaction start wait at most the response timeout; one that overruns
// leaves the provider disconnected and its connection to the call still in
// progress, which lets it go when PC/SC returns (the card removed, or at
// last answering).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <winscard.h>

#include "cryptoprovider/pcsc/apdu.h"
#include "cryptoprovider/pcsc/scard_handles.h"

class SCardProvider
{
  public:
    // State of a reader: PC/SC event state flags and the card's ATR.
    struct ReaderState {
        std::uint32_t eventState = 0;
        std::vector<unsigned char> atr;
    };

    // An empty name leaves the provider unconnected; otherwise connect(reader).
    explicit SCardProvider(std::string_view reader = {});
    ~SCardProvider();
    SCardProvider(const SCardProvider&) = delete;
    SCardProvider& operator=(const SCardProvider&) = delete;

    // Shared access, T=0 or T=1. A provider already connected lets go of its
    // previous card and context first. Waits at most the response timeout
    // (another connection's transaction on the card holds it back, or another
    // thread's provider is connected: connections take turns, see below):
    // then ScardException SCARD_E_TIMEOUT, the provider left disconnected.
    // No thread for the bounded call: ScardException SCARD_E_NO_MEMORY.
    void connect(std::string_view reader);
    // Leaves the card and releases the context; results are ignored.
    void disconnect() noexcept;
    bool isConnected() const noexcept { return m_connection && m_connection->card.connected(); }

    // How long connecting, a card exchange or a transaction start may take,
    // for every provider of the process (default 60 s; from the next call on).
    // std::invalid_argument for a timeout below 1 ms.
    static void setResponseTimeout(std::chrono::milliseconds timeout);
    static std::chrono::milliseconds responseTimeout() noexcept;

    // Waits for other connections' transactions on the card to end, at most
    // the response timeout: then ScardException SCARD_E_TIMEOUT and the
    // provider is disconnected. Other failures through checkResult.
    void beginTransaction();
    void endTransaction() noexcept;

    // Reader names; empty when no reader is attached. A list beyond 64 KiB,
    // or one still growing between the size query and the read after four
    // attempts, is ScardException SCARD_E_INSUFFICIENT_BUFFER.
    std::vector<std::string> listReaders();
    ReaderState getStatus(std::string_view reader);

    // Exchanges one APDU (answers up to 255 bytes). Unless `silent`, PC/SC
    // failures and error status words throw. No answer within the response
    // timeout throws ScardException SCARD_E_TIMEOUT even when `silent`, and
    // the provider is disconnected. A card that answers without a status
    // word (fewer than 2 bytes) is a DeviceError, `silent` or not. The
    // copies of the command and the answer made on the way are wiped.
    apdu::Response transmit(const std::vector<unsigned char>& request, bool silent);
    // As transmit, then fetches the answer announced by 61xx (GET RESPONSE)
    // or resends the command with the Le asked for by 6Cxx, once.
    apdu::Response executeCommand(const apdu::Command& command, bool silent);

    // Releases a buffer PC/SC allocated for this provider's context.
    void freeMemory(void* memory) noexcept;

    // Throws the library's exception for a failed PC/SC result.
    static void checkResult(std::int32_t result);
    // Names of the set reader state flags, in ascending order, joined with ", ".
    static std::string stringifyState(std::uint32_t state);

  private:
    void establishContext();
    // Runs `call` on the provider's connection within the response timeout
    // (see pcsc::callWithin) and returns its result; an exception of the call
    // is thrown on. An overrun hands
    // the connection over to the call, leaves the provider disconnected and
    // throws ScardException SCARD_E_TIMEOUT (through checkResult). Without a
    // context: SCARD_E_INVALID_HANDLE.
    LONG callBounded(std::function<LONG(pcsc::Connection&)> call);

    // Leaves the card (unless a call that overran holds it), then lets the
    // next connection have its turn. A provider holding a context only
    // releases it in its turn as well.
    void release() noexcept;

    // The connections' turn (pcsc::connectionTurn), held while connected.
    std::unique_lock<pcsc::Turn> m_turn;
    // Shared only with a call that overran: the provider drops it then.
    std::shared_ptr<pcsc::Connection> m_connection;
};

// Holds a PC/SC transaction on a connected provider for its lifetime.
class ScardTransaction
{
  public:
    explicit ScardTransaction(SCardProvider& provider) : m_provider(provider)
    {
        m_provider.beginTransaction();
    }
    ~ScardTransaction() { m_provider.endTransaction(); }
    ScardTransaction(const ScardTransaction&) = delete;
    ScardTransaction& operator=(const ScardTransaction&) = delete;

  private:
    SCardProvider& m_provider;
};
