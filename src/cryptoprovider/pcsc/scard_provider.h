// PC/SC access: one context and at most one card connection per provider,
// each held by its owner (scard_handles.h).
#pragma once

#include <cstdint>
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
    // previous card and context first.
    void connect(std::string_view reader);
    // Leaves the card and releases the context; results are ignored.
    void disconnect() noexcept;
    bool isConnected() const noexcept { return m_card.connected(); }

    void beginTransaction();
    void endTransaction() noexcept;

    // Reader names; empty when no reader is attached.
    std::vector<std::string> listReaders();
    ReaderState getStatus(std::string_view reader);

    // Exchanges one APDU (answers up to 255 bytes). Unless `silent`, PC/SC
    // failures and error status words throw.
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

    // Declared in this order so the card is left before the context goes.
    pcsc::Context m_context;
    pcsc::Card m_card;
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
