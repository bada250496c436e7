// The PC/SC entry points the library calls, as one table. By default they are
// the PC/SC client library's; a test double or a fuzz target may put a table
// of its own in their place, so that every reader list, reader state,
// connection, transaction and card answer comes from it.
#pragma once

#include <winscard.h>

namespace pcsc
{

struct Api {
    decltype(&::SCardEstablishContext) SCardEstablishContext;
    decltype(&::SCardReleaseContext) SCardReleaseContext;
    decltype(&::SCardListReaders) SCardListReaders;
    decltype(&::SCardGetStatusChange) SCardGetStatusChange;
    decltype(&::SCardConnect) SCardConnect;
    decltype(&::SCardDisconnect) SCardDisconnect;
    decltype(&::SCardBeginTransaction) SCardBeginTransaction;
    decltype(&::SCardEndTransaction) SCardEndTransaction;
    decltype(&::SCardTransmit) SCardTransmit;
    decltype(&::SCardFreeMemory) SCardFreeMemory;
};

// The table in use.
const Api& api() noexcept;

// Puts `table` in place of the PC/SC client library for the whole process
// (nullptr: the client library again). The table is not copied and must
// outlive its use; only for test doubles and fuzz targets, installed while
// no PC/SC call of the library runs.
void installApi(const Api* table) noexcept;

} // namespace pcsc
