#include "cryptoprovider/pcsc/scard_provider.h"

#include <algorithm>
#include <string>

#include "base/conv.h"
#include "base/logger.h"

namespace
{

constexpr DWORD RECEIVE_BUFFER = 255;

std::int32_t asResult(LONG rv)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(rv));
}

bool sameResult(std::int32_t result, LONG code)
{
    return static_cast<std::uint32_t>(result) == static_cast<std::uint32_t>(code);
}

} // namespace

SCardProvider::SCardProvider(std::string_view reader)
{
    if (!reader.empty()) {
        connect(reader);
    }
}

SCardProvider::~SCardProvider()
{
    disconnect();
}

void SCardProvider::establishContext()
{
    if (m_context != 0) {
        return;
    }
    bs::Logger log("SCardProvider::establishContext");
    SCARDCONTEXT context = 0;
    const LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    log.debug("SCardEstablishContext=" + std::to_string(rv));
    checkResult(asResult(rv));
    m_context = context;
}

void SCardProvider::connect(std::string_view reader)
{
    bs::Logger log("SCardProvider::connect");
    disconnect();
    establishContext();
    const std::string name(reader);
    log.debug("SCardConnect: " + name);
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    const LONG rv = SCardConnect(m_context, name.c_str(), SCARD_SHARE_SHARED,
                                 SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    checkResult(asResult(rv));
    m_card = card;
    if (protocol == SCARD_PROTOCOL_T0) {
        m_pci = SCARD_PCI_T0;
    } else if (protocol == SCARD_PROTOCOL_T1) {
        m_pci = SCARD_PCI_T1;
    } else {
        log.error("unknown protocol " + std::to_string(protocol));
        disconnect();
        throw ScardException(0, cp::localization.get("CP-020001"));
    }
}

void SCardProvider::disconnect() noexcept
{
    if (m_card != 0) {
        SCardDisconnect(m_card, SCARD_LEAVE_CARD);
        m_card = 0;
        m_pci = nullptr;
    }
    if (m_context != 0) {
        SCardReleaseContext(m_context);
        m_context = 0;
    }
}

void SCardProvider::beginTransaction()
{
    bs::Logger log("SCardProvider::beginTransaction");
    checkResult(asResult(SCardBeginTransaction(m_card)));
}

void SCardProvider::endTransaction() noexcept
{
    if (m_card != 0) {
        SCardEndTransaction(m_card, SCARD_LEAVE_CARD);
    }
}

std::vector<std::string> SCardProvider::listReaders()
{
    bs::Logger log("SCardProvider::listReaders");
    establishContext();
    DWORD size = 0;
    LONG rv = SCardListReaders(m_context, nullptr, nullptr, &size);
    std::vector<char> buffer;
    if (rv == SCARD_S_SUCCESS) {
        buffer.assign(size + 1, '\0'); // one spare NUL ends the list whatever PC/SC wrote
        rv = SCardListReaders(m_context, nullptr, buffer.data(), &size);
    }
    if (rv == SCARD_E_NO_READERS_AVAILABLE) {
        log.debug("SCARD_E_NO_READERS_AVAILABLE");
        return {};
    }
    checkResult(asResult(rv));
    std::vector<std::string> readers;
    const std::size_t end = std::min<std::size_t>(size, buffer.size() - 1);
    std::size_t pos = 0;
    while (pos < end && buffer[pos] != '\0') {
        std::string name(buffer.data() + pos);
        log.debug(name);
        pos += name.size() + 1;
        readers.push_back(std::move(name));
    }
    return readers;
}

SCardProvider::ReaderState SCardProvider::getStatus(std::string_view reader)
{
    bs::Logger log("SCardProvider::getStatus");
    establishContext();
    const std::string name(reader);
    SCARD_READERSTATE state{};
    state.szReader = name.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    checkResult(asResult(SCardGetStatusChange(m_context, 0, &state, 1)));
    ReaderState result;
    result.eventState = static_cast<std::uint32_t>(state.dwEventState);
    const std::size_t atrLength = std::min<std::size_t>(state.cbAtr, sizeof state.rgbAtr);
    result.atr.assign(state.rgbAtr, state.rgbAtr + atrLength);
    log.debug(stringifyState(result.eventState) + " " + conv::bytes_to_hex(result.atr));
    return result;
}

apdu::Response SCardProvider::transmit(const std::vector<unsigned char>& request, bool silent)
{
    bs::Logger log("SCardProvider::transmit");
    std::vector<unsigned char> received(RECEIVE_BUFFER);
    DWORD length = RECEIVE_BUFFER;
    const LONG rv = SCardTransmit(m_card, m_pci ? m_pci : SCARD_PCI_T1, request.data(),
                                  static_cast<DWORD>(request.size()), nullptr, received.data(), &length);
    log.debug("SCardTransmit=" + std::to_string(rv));
    if (!silent) {
        checkResult(asResult(rv));
    }
    // A failed call leaves no answer: never trust the length it reports.
    received.resize(rv == SCARD_S_SUCCESS ? std::min<DWORD>(length, RECEIVE_BUFFER) : 0);
    return apdu::Response(received, silent);
}

apdu::Response SCardProvider::executeCommand(const apdu::Command& command, bool silent)
{
    apdu::Response response = transmit(command.getRequest(), silent);
    if (response.getSw1() == 0x61) {
        const apdu::Command getResponse(0x00, 0xC0, 0x00, 0x00, static_cast<short>(response.getSw2()));
        return transmit(getResponse.getRequest(), silent);
    }
    if (response.getSw1() == 0x6C) {
        const apdu::Command again(command.getCla(), command.getIns(), command.getP1(), command.getP2(),
                                  command.getData(), static_cast<short>(response.getSw2()));
        return transmit(again.getRequest(), silent);
    }
    return response;
}

void SCardProvider::freeMemory(void* memory) noexcept
{
    if (memory != nullptr && m_context != 0) {
        SCardFreeMemory(m_context, memory);
    }
}

void SCardProvider::checkResult(std::int32_t result)
{
    if (result == 0) {
        return;
    }
    bs::Logger log("SCardProvider::checkResult");
    log.debug("SCardProvider::checkResult=" + std::to_string(result));
    if (sameResult(result, SCARD_E_INVALID_HANDLE) || sameResult(result, SCARD_E_UNKNOWN_READER) ||
        sameResult(result, SCARD_E_READER_UNAVAILABLE) || sameResult(result, SCARD_W_REMOVED_CARD)) {
        throw DeviceNotFound();
    }
    if (sameResult(result, SCARD_E_NO_SERVICE)) {
        throw ScardNoService();
    }
    const auto code = static_cast<std::uint32_t>(result);
    const std::string text = pcsc_stringify_error(static_cast<LONG>(code));
    log.error(text);
    throw ScardException(code, text);
}

std::string SCardProvider::stringifyState(std::uint32_t state)
{
    static const std::pair<std::uint32_t, const char*> FLAGS[] = {
        {SCARD_STATE_IGNORE, "Ignore this reader"},      {SCARD_STATE_UNKNOWN, "Reader unknown"},
        {SCARD_STATE_UNAVAILABLE, "Status unavailable"}, {SCARD_STATE_EMPTY, "Card removed"},
        {SCARD_STATE_PRESENT, "Card in the reader"},     {SCARD_STATE_ATRMATCH, "ATR matches card"},
        {SCARD_STATE_EXCLUSIVE, "Exclusive Mode"},       {SCARD_STATE_INUSE, "Shared Mode"},
        {SCARD_STATE_MUTE, "Unresponsive card"},
    };
    std::string text;
    for (const auto& [flag, name] : FLAGS) {
        if (state & flag) {
            if (!text.empty()) {
                text += ", ";
            }
            text += name;
        }
    }
    return text;
}
