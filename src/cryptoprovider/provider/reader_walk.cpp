#include "cryptoprovider/provider/reader_walk.h"

#include <exception>
#include <optional>

#include "base/logger.h"
#include "cryptoprovider/pcsc/scard_provider.h"

namespace provider
{

namespace
{

// PC/SC event state flag: a card is in the reader.
constexpr std::uint32_t CARD_PRESENT = 0x20;

} // namespace

std::vector<CardInReader> cardsInReaders(bool tolerant, const char* logName)
{
    bs::Logger log(logName);
    std::optional<SCardProvider> scard;
    std::vector<std::string> readers;
    try {
        scard.emplace();
        readers = scard->listReaders();
    } catch (const std::exception& e) {
        if (!tolerant) {
            throw;
        }
        log.error(e.what());
        return {};
    }
    std::vector<CardInReader> cards;
    for (const std::string& reader : readers) {
        log.info("reader:" + reader);
        SCardProvider::ReaderState state;
        try {
            state = scard->getStatus(reader);
        } catch (const std::exception& e) {
            if (!tolerant) {
                throw;
            }
            log.error(e.what());
            continue;
        }
        log.info("state: " + SCardProvider::stringifyState(state.eventState));
        if ((state.eventState & CARD_PRESENT) != 0) {
            cards.push_back({reader, bytes(state.atr.begin(), state.atr.end())});
        }
    }
    return cards;
}

} // namespace provider
