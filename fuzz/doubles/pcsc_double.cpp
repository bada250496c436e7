#include "pcsc_double.h"

#include <chrono>

#include "answers.h"
#include "cryptoprovider/pcsc/scard_api.h"
#include "cryptoprovider/pcsc/scard_provider.h"

namespace fuzzdouble
{

namespace
{

LONG result()
{
    Answers& in = *current;
    if (in.succeeds())
        return SCARD_S_SUCCESS;
    if (in.exhausted())
        return SCARD_E_NO_SERVICE;
    return in.failure<LONG>({SCARD_E_NO_SERVICE, SCARD_E_NO_READERS_AVAILABLE, SCARD_E_TIMEOUT,
                             SCARD_W_REMOVED_CARD, SCARD_E_SHARING_VIOLATION, SCARD_E_INSUFFICIENT_BUFFER,
                             SCARD_F_INTERNAL_ERROR, SCARD_E_NO_SMARTCARD, SCARD_E_READER_UNAVAILABLE,
                             SCARD_E_INVALID_HANDLE, SCARD_W_UNRESPONSIVE_CARD, SCARD_E_NOT_TRANSACTED,
                             SCARD_E_INVALID_VALUE, SCARD_W_RESET_CARD, SCARD_E_PROTO_MISMATCH});
}

LONG establishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context)
{
    const LONG rv = result();
    *context = rv == SCARD_S_SUCCESS ? 0x1000 : 0;
    return rv;
}

LONG releaseContext(SCARDCONTEXT)
{
    return SCARD_S_SUCCESS;
}

LONG listReaders(SCARDCONTEXT, LPCSTR, LPSTR readers, LPDWORD size)
{
    const LONG rv = result();
    if (rv != SCARD_S_SUCCESS)
        return rv;
    const DWORD given = *size;
    if (readers != nullptr) {
        const std::size_t written = std::min<std::uint64_t>(current->length(), given);
        current->fill(readers, written);
    }
    *size = static_cast<DWORD>(current->length()); // true or not
    (void)given;
    return rv;
}

LONG getStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE* states, DWORD count)
{
    const LONG rv = result();
    if (rv != SCARD_S_SUCCESS)
        return rv;
    for (DWORD i = 0; i < count; ++i) {
        SCARD_READERSTATE& state = states[i];
        state.dwEventState = current->pick<DWORD>({SCARD_STATE_PRESENT, SCARD_STATE_EMPTY,
                                                   SCARD_STATE_PRESENT | SCARD_STATE_INUSE,
                                                   SCARD_STATE_PRESENT | SCARD_STATE_MUTE, 0xFFFFFFFF});
        const std::size_t written = current->byte() % (sizeof state.rgbAtr + 1);
        current->fill(state.rgbAtr, written);
        // The length reported, at times beyond the ATR buffer.
        state.cbAtr = current->byte() < 0xF0 ? written : static_cast<DWORD>(current->length());
    }
    return rv;
}

LONG connect(SCARDCONTEXT, LPCSTR, DWORD, DWORD, LPSCARDHANDLE card, LPDWORD protocol)
{
    const LONG rv = result();
    if (rv != SCARD_S_SUCCESS)
        return rv;
    *card = 0x2000;
    *protocol = current->pick<DWORD>(
        {SCARD_PROTOCOL_T1, SCARD_PROTOCOL_T0, SCARD_PROTOCOL_T1, SCARD_PROTOCOL_RAW, 0});
    return rv;
}

LONG disconnect(SCARDHANDLE, DWORD)
{
    return SCARD_S_SUCCESS;
}

LONG beginTransaction(SCARDHANDLE)
{
    return result();
}

LONG endTransaction(SCARDHANDLE, DWORD)
{
    return SCARD_S_SUCCESS;
}

LONG transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*, LPBYTE answer,
              LPDWORD length)
{
    const LONG rv = result();
    if (rv != SCARD_S_SUCCESS)
        return rv;
    // A status word most of the time: 90 00, an announced answer (61 xx,
    // 6C xx), or any two bytes after the data.
    const std::size_t data = std::min<std::uint64_t>(current->length(), *length);
    current->fill(answer, data);
    if (data + 2 <= *length) {
        const std::uint8_t kind = current->byte();
        if (kind < 0x80) {
            answer[data] = 0x90;
            answer[data + 1] = 0x00;
        } else {
            answer[data] = kind < 0xA0 ? 0x61 : kind < 0xB0 ? 0x6C : current->byte();
            answer[data + 1] = current->byte();
        }
        *length = static_cast<DWORD>(data + 2);
    } else {
        *length = static_cast<DWORD>(data);
    }
    if (current->byte() >= 0xF8)
        *length = static_cast<DWORD>(current->length()); // a length beyond what was written
    return rv;
}

LONG freeMemory(SCARDCONTEXT, LPCVOID)
{
    return SCARD_S_SUCCESS;
}

constexpr pcsc::Api DOUBLE{
    establishContext, releaseContext,   listReaders,    getStatusChange, connect,
    disconnect,       beginTransaction, endTransaction, transmit,        freeMemory,
};

} // namespace

void installPcsc()
{
    pcsc::installApi(&DOUBLE);
    SCardProvider::setResponseTimeout(std::chrono::seconds(5));
}

} // namespace fuzzdouble
