// The cards in the smart-card readers, as the provider lists devices.
#pragma once

#include <string>
#include <vector>

#include "asn1/bytes.h"

namespace provider
{

struct CardInReader {
    std::string reader;
    bytes atr;
};

// Every reader that holds a card, in the order PC/SC lists the readers, with
// the card's ATR. With `tolerant` a service or reader list that cannot be
// read gives no cards and a reader whose state cannot be read is skipped;
// without it those failures propagate. Logs each reader and its state under
// `logName`.
std::vector<CardInReader> cardsInReaders(bool tolerant, const char* logName);

} // namespace provider
