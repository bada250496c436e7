#include "cryptoprovider/pcsc/scard_provider.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>

#include "base/conv.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/secure.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/bounded_call.h"
#include "cryptoprovider/pcsc/scard_api.h"
#include "cryptoprovider/pcsc/wipe.h"

namespace
{

constexpr DWORD RECEIVE_BUFFER = 255;
// The longest reader list taken from PC/SC (names and their NULs), and how
// often a list that grew between the size query and the read is asked again.
constexpr DWORD MAX_READER_LIST = 65536;
constexpr int READER_LIST_ATTEMPTS = 4;

std::atomic<std::chrono::milliseconds::rep> responseTimeoutMs{60'000};

// Takes the connections' turn within the response timeout, else
// ScardException SCARD_E_TIMEOUT.
std::unique_lock<pcsc::Turn> takeTurn(const char* logName)
{
    std::unique_lock turn(pcsc::connectionTurn(), std::defer_lock);
    if (!turn.try_lock_for(SCardProvider::responseTimeout())) {
        bs::Logger(logName).error("another connection kept its turn beyond the response timeout");
        pcsc::checkResult(pcsc::asResult(SCARD_E_TIMEOUT)); // throws
    }
    return turn;
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
    release();
}

void SCardProvider::setResponseTimeout(std::chrono::milliseconds timeout)
{
    if (timeout.count() < 1) {
        throw std::invalid_argument("PC/SC response timeout below 1 ms");
    }
    responseTimeoutMs = timeout.count();
}

std::chrono::milliseconds SCardProvider::responseTimeout() noexcept
{
    return std::chrono::milliseconds(responseTimeoutMs.load());
}

void SCardProvider::establishContext()
{
    if (!m_connection) {
        const auto turn = takeTurn("SCardProvider::establishContext");
        auto connection = std::make_shared<pcsc::Connection>();
        connection->context = pcsc::Context::establish();
        m_connection = std::move(connection);
    }
}

void SCardProvider::connect(std::string_view reader)
{
    disconnect();
    auto turn = takeTurn("SCardProvider::connect");
    establishContext();
    // A call that could not run (no thread for it) leaves the card unconnected.
    checkResult(pcsc::asResult(callBounded([name = std::string(reader)](pcsc::Connection& connection) {
        connection.card = pcsc::Card::connect(connection.context, name);
        return SCARD_S_SUCCESS;
    })));
    m_turn = std::move(turn);
}

void SCardProvider::disconnect() noexcept
{
    release();
}

void SCardProvider::release() noexcept
{
    // A provider that is not connected holds a context only; releasing it
    // changes the client library's context list, so it waits for the turn
    // (at most the response timeout) while another thread is connected.
    std::unique_lock<pcsc::Turn> contextTurn;
    if (m_connection && !m_turn.owns_lock()) {
        contextTurn = std::unique_lock(pcsc::connectionTurn(), std::defer_lock);
        if (!contextTurn.try_lock_for(responseTimeout())) {
            bs::Logger("SCardProvider::release")
                .error("another connection kept its turn beyond the response timeout");
        }
    }
    m_connection.reset();
    if (m_turn.owns_lock()) {
        m_turn.unlock();
    }
}

LONG SCardProvider::callBounded(std::function<LONG(pcsc::Connection&)> call)
{
    if (!m_connection) {
        return SCARD_E_INVALID_HANDLE;
    }
    const std::chrono::milliseconds timeout = responseTimeout();
    const std::optional<LONG> rv = pcsc::callWithin(
        timeout, [connection = m_connection, call = std::move(call)] { return call(*connection); });
    if (!rv) {
        bs::Logger log("SCardProvider::callBounded");
        log.error("PC/SC call still unfinished after " + std::to_string(timeout.count()) +
                  " ms: the connection is left to the call");
        release(); // the call's thread holds the connection now and lets it go when PC/SC returns
        checkResult(pcsc::asResult(SCARD_E_TIMEOUT)); // throws
    }
    return *rv;
}

// While one connection holds a transaction on a card, pcsc-lite (1.9.9) makes
// every other connection to it wait, without an error, until the transaction
// ends: SCardTransmit, SCardStatus, SCardBeginTransaction and even a new
// shared SCardConnect block; reader lists and reader states do not. A
// connection stuck on a mute card holds the reader the same way.
void SCardProvider::beginTransaction()
{
    bs::Logger log("SCardProvider::beginTransaction");
    checkResult(pcsc::asResult(callBounded([](pcsc::Connection& connection) {
        return pcsc::api().SCardBeginTransaction(connection.card.handle());
    })));
}

void SCardProvider::endTransaction() noexcept
{
    if (isConnected()) {
        pcsc::api().SCardEndTransaction(m_connection->card.handle(), SCARD_LEAVE_CARD);
    }
}

std::vector<std::string> SCardProvider::listReaders()
{
    bs::Logger log("SCardProvider::listReaders");
    establishContext();
    const SCARDCONTEXT context = m_connection->context.handle();
    DWORD size = 0;
    LONG rv = SCARD_E_INSUFFICIENT_BUFFER;
    std::vector<char> buffer;
    // Asked again when a reader came between the size query and the read,
    // a few times; a list beyond MAX_READER_LIST is not taken.
    for (int attempt = 0; attempt < READER_LIST_ATTEMPTS && rv == SCARD_E_INSUFFICIENT_BUFFER; ++attempt) {
        size = 0;
        rv = pcsc::api().SCardListReaders(context, nullptr, nullptr, &size);
        if (rv == SCARD_S_SUCCESS && size > MAX_READER_LIST) {
            log.error("a reader list of " + std::to_string(size) + " bytes");
            rv = SCARD_E_INSUFFICIENT_BUFFER;
            break;
        }
        if (rv == SCARD_S_SUCCESS) {
            buffer.assign(size + 1, '\0'); // one spare NUL ends the list whatever PC/SC wrote
            rv = pcsc::api().SCardListReaders(context, nullptr, buffer.data(), &size);
        }
    }
    if (rv == SCARD_E_NO_READERS_AVAILABLE) {
        log.debug("SCARD_E_NO_READERS_AVAILABLE");
        return {};
    }
    checkResult(pcsc::asResult(rv));
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
    checkResult(
        pcsc::asResult(pcsc::api().SCardGetStatusChange(m_connection->context.handle(), 0, &state, 1)));
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
    // Owned with the call: a call that overruns may still write its answer.
    // Commands carry PINs and session tokens, answers session tokens: both
    // buffers are wiped by whoever lets go of them last.
    struct Exchange {
        std::vector<unsigned char> request;
        std::vector<unsigned char> received = std::vector<unsigned char>(RECEIVE_BUFFER);
        DWORD length = RECEIVE_BUFFER;
        ~Exchange()
        {
            bs::secureZero(&request);
            bs::secureZero(&received);
        }
    };
    auto exchange = std::make_shared<Exchange>();
    exchange->request = request;
    const LONG rv = callBounded([exchange](pcsc::Connection& connection) {
        const pcsc::Card& card = connection.card;
        return pcsc::api().SCardTransmit(card.handle(), card.pci() ? card.pci() : SCARD_PCI_T1,
                                         exchange->request.data(),
                                         static_cast<DWORD>(exchange->request.size()), nullptr,
                                         exchange->received.data(), &exchange->length);
    });
    log.debug("SCardTransmit=" + std::to_string(rv));
    if (!silent) {
        checkResult(pcsc::asResult(rv));
    }
    // A failed call leaves no answer: never trust the length it reports.
    const std::size_t length = rv == SCARD_S_SUCCESS ? std::min<DWORD>(exchange->length, RECEIVE_BUFFER) : 0;
    if (rv == SCARD_S_SUCCESS && length < 2) {
        // The card answered, but without a status word: a device fault.
        bs::logAndThrow(log,
                        DeviceError(0, cp::localization.get("CP-008027") + std::string(": an answer of ") +
                                           std::to_string(length) + " bytes without a status word"));
    }
    std::vector<unsigned char> answer(exchange->received.begin(),
                                      exchange->received.begin() + static_cast<std::ptrdiff_t>(length));
    const pcsc::WipeOnExit wipe(answer);
    return apdu::Response(answer, silent);
}

apdu::Response SCardProvider::executeCommand(const apdu::Command& command, bool silent)
{
    std::vector<unsigned char> request = command.getRequest(); // not const: wiped in place
    const pcsc::WipeOnExit wipe(request);
    apdu::Response response = transmit(request, silent);
    if (response.getSw1() == 0x61) {
        const apdu::Command getResponse(0x00, 0xC0, 0x00, 0x00, static_cast<short>(response.getSw2()));
        return transmit(getResponse.getRequest(), silent);
    }
    if (response.getSw1() == 0x6C) {
        apdu::Command again(command.getCla(), command.getIns(), command.getP1(), command.getP2(),
                            command.getData(), static_cast<short>(response.getSw2()));
        const pcsc::WipeOnExit wipeData(again.getData());
        std::vector<unsigned char> resent = again.getRequest();
        const pcsc::WipeOnExit wipeResent(resent);
        return transmit(resent, silent);
    }
    return response;
}

void SCardProvider::freeMemory(void* memory) noexcept
{
    if (memory != nullptr && m_connection) {
        pcsc::api().SCardFreeMemory(m_connection->context.handle(), memory);
    }
}

void SCardProvider::checkResult(std::int32_t result)
{
    pcsc::checkResult(result);
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
