#include "pcsc_double.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string_view>
#include <vector>

#include "answers.h"
#include "cryptoprovider/pcsc/scard_api.h"
#include "cryptoprovider/pcsc/scard_provider.h"

namespace fuzzdouble
{

namespace
{

using Mode = Answers::Mode;

// What a working service shows: one reader of each make, each with a card.
constexpr char READERS[] = "Aktiv Rutoken ECP 00 00\0JaCarta 00 01\0MS_KEY K 00 02\0VEL-token 00 03\0";
constexpr std::array<BYTE, 18> MSKEY_K_ATR = {0x3B, 0x9E, 0x96, 0x00, 0x80, 0x31, 0xC0, 0x65, 0x4D,
                                              0x53, 0x00, 0x00, 0x00, 0x72, 0xF7, 0x41, 0x81, 0x07};
constexpr std::array<BYTE, 22> JACARTA_ATR = {0x3B, 0xDC, 0x18, 0xFF, 0x81, 0x91, 0xFE, 0x1F,
                                              0xC3, 0x80, 0x73, 0xC8, 0x21, 0x13, 0x66, 0x01,
                                              0x06, 0x11, 0x59, 0x00, 0x01, 0x28};
constexpr std::array<BYTE, 16> VEL_ATR = {0x3B, 0x9B, 0x96, 0x01, 0x80, 0x31, 0x01, 0x61,
                                          0x00, 0x73, 0x00, 0x21, 0x50, 0x81, 0x00, 0x00};
constexpr std::array<BYTE, 11> RUTOKEN_ATR = {0x3B, 0x8B, 0x01, 0x52, 0x75, 0x74,
                                              0x6F, 0x6B, 0x65, 0x6E, 0x6D};

LONG failure()
{
    if (current->exhausted())
        return SCARD_E_NO_SERVICE;
    return current->failure<LONG>(
        {SCARD_E_NO_SERVICE, SCARD_E_NO_READERS_AVAILABLE, SCARD_E_TIMEOUT, SCARD_W_REMOVED_CARD,
         SCARD_E_SHARING_VIOLATION, SCARD_E_INSUFFICIENT_BUFFER, SCARD_F_INTERNAL_ERROR, SCARD_E_NO_SMARTCARD,
         SCARD_E_READER_UNAVAILABLE, SCARD_E_INVALID_HANDLE, SCARD_W_UNRESPONSIVE_CARD,
         SCARD_E_NOT_TRANSACTED, SCARD_E_INVALID_VALUE, SCARD_W_RESET_CARD, SCARD_E_PROTO_MISMATCH});
}

LONG result()
{
    return current->mode() == Mode::Failure ? failure() : SCARD_S_SUCCESS;
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
    switch (current->mode()) {
    case Mode::Failure:
        return failure();
    case Mode::Plausible:
        if (readers != nullptr) {
            if (*size < sizeof READERS)
                return SCARD_E_INSUFFICIENT_BUFFER;
            std::memcpy(readers, READERS, sizeof READERS);
        }
        *size = sizeof READERS;
        return SCARD_S_SUCCESS;
    case Mode::Hostile:
        break;
    }
    if (readers != nullptr) {
        const std::size_t written = std::min<std::uint64_t>(current->length(), *size);
        current->fill(readers, written);
    }
    *size = static_cast<DWORD>(current->length()); // true or not
    return SCARD_S_SUCCESS;
}

template <std::size_t N> void setAtr(SCARD_READERSTATE& state, const std::array<BYTE, N>& atr)
{
    std::memcpy(state.rgbAtr, atr.data(), N);
    state.cbAtr = N;
}

LONG getStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE* states, DWORD count)
{
    const Mode mode = current->mode();
    if (mode == Mode::Failure)
        return failure();
    for (DWORD i = 0; i < count; ++i) {
        SCARD_READERSTATE& state = states[i];
        if (mode == Mode::Plausible) {
            const std::string_view reader = state.szReader != nullptr ? state.szReader : "";
            state.dwEventState = SCARD_STATE_PRESENT | SCARD_STATE_CHANGED;
            if (reader.find("JaCarta") != std::string_view::npos) {
                setAtr(state, JACARTA_ATR);
            } else if (reader.find("MS_KEY") != std::string_view::npos) {
                setAtr(state, MSKEY_K_ATR);
            } else if (reader.find("VEL") != std::string_view::npos) {
                setAtr(state, VEL_ATR);
                state.rgbAtr[14] = current->pick<BYTE>({0, 0, 0, 0, 3, 4, 6}); // the life-cycle state
            } else {
                setAtr(state, RUTOKEN_ATR);
            }
            continue;
        }
        state.dwEventState = current->pick<DWORD>({SCARD_STATE_PRESENT, SCARD_STATE_EMPTY,
                                                   SCARD_STATE_PRESENT | SCARD_STATE_INUSE,
                                                   SCARD_STATE_PRESENT | SCARD_STATE_MUTE, 0xFFFFFFFF});
        const std::size_t written = current->byte() % (sizeof state.rgbAtr + 1);
        current->fill(state.rgbAtr, written);
        // The length reported, at times beyond the ATR buffer.
        state.cbAtr = current->byte() < 0xF0 ? written : static_cast<DWORD>(current->length());
    }
    return SCARD_S_SUCCESS;
}

LONG connect(SCARDCONTEXT, LPCSTR, DWORD, DWORD, LPSCARDHANDLE card, LPDWORD protocol)
{
    const Mode mode = current->mode();
    if (mode == Mode::Failure)
        return failure();
    *card = 0x2000;
    *protocol = mode == Mode::Plausible
                    ? SCARD_PROTOCOL_T1
                    : current->pick<DWORD>({SCARD_PROTOCOL_T1, SCARD_PROTOCOL_T0, SCARD_PROTOCOL_RAW, 0});
    return SCARD_S_SUCCESS;
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

// What a working card answers to a command (data, then 90 00).
std::vector<BYTE> plausibleAnswer(LPCBYTE command, DWORD length)
{
    const BYTE ins = length >= 2 ? command[1] : 0;
    switch (ins) {
    case 0xCA: // Rutoken chip data: the model byte and the family from the input
        return {0x00,
                current->pick<BYTE>({54, 59, 60, 65, 1}),
                0x00,
                0x00,
                current->pick<BYTE>({23, 24, 27, 30}),
                0x02,
                0x00,
                0x00,
                0x00,
                0x00,
                0x00,
                0x00,
                0x90,
                0x00};
    case 0x20: // PIN state: tries left, or none needed
        return current->byte() < 0x80
                   ? std::vector<BYTE>{0x90, 0x00}
                   : std::vector<BYTE>{0x63, static_cast<BYTE>(0xC0 | (current->byte() & 0x0F))};
    case 0x38: // JaCarta chip data
        return {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, current->byte(), 0, 0, 0x90, 0x00};
    case 0xF5: // confirmation-token device information
        return {0x95, 0x04, 0x78, 0x56, 0x34, 0x12, 0x96, 0x01, current->byte(),
                0x97, 0x01, 0x0A, 0x90, 0x00};
    case 0xC0: { // GET RESPONSE: Le bytes
        std::vector<BYTE> answer(length >= 5 ? command[4] : 0, 0x5A);
        answer.insert(answer.end(), {0x90, 0x00});
        return answer;
    }
    default: { // the confirmation token's PIN check, signature and session end
        std::vector<BYTE> answer(128, 0x5A);
        answer.insert(answer.end(), {0x90, 0x00});
        return answer;
    }
    }
}

LONG transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE command, DWORD commandLength, SCARD_IO_REQUEST*,
              LPBYTE answer, LPDWORD length)
{
    const Mode mode = current->mode();
    if (mode == Mode::Failure)
        return failure();
    if (mode == Mode::Plausible) {
        const std::vector<BYTE> plausible = plausibleAnswer(command, commandLength);
        if (plausible.size() > *length)
            return SCARD_E_INSUFFICIENT_BUFFER;
        std::memcpy(answer, plausible.data(), plausible.size());
        *length = static_cast<DWORD>(plausible.size());
        return SCARD_S_SUCCESS;
    }
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
    return SCARD_S_SUCCESS;
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
