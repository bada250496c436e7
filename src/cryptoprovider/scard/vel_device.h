// The confirmation token's card: how it is recognised from its ATR, the
// facts of its device information, how PINs become bytes, the device values
// built into the program, and the card exchanges that need no session.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"

class SCardProvider;

namespace apdu
{
class Command;
class Response;
} // namespace apdu

// Whether the ATR is the confirmation token's: exactly 16 bytes, bytes 0-7
// 3B 9B 96 01 80 31 01 61, byte 9 73, byte 10 00, byte 11 21, byte 12 50
// apart from its two low bits, byte 13 81. Bytes 8, 14 (the life-cycle
// state) and 15 are not examined.
bool isOrmidVelToken(const std::vector<unsigned char>& atr);

namespace veltoken
{

// Life-cycle states in byte 14 of the ATR; any other value is the working
// state.
inline constexpr std::size_t ATR_STATE_INDEX = 14;
inline constexpr unsigned char STATE_NOT_INITIALIZED = 3;
inline constexpr unsigned char STATE_PIN_BLOCKED = 4;
inline constexpr unsigned char STATE_WAITING_ACTIVATION = 6;

// Tags of the device information record.
inline constexpr std::uint8_t TAG_SERIAL = 0x95;
inline constexpr std::uint8_t TAG_DEFAULT_PIN = 0x96;
inline constexpr std::uint8_t TAG_PIN_TRIES = 0x97;

// What a device that does not report its PIN tries is assumed to have left.
inline constexpr int UNKNOWN_PIN_TRIES = 16;

// Size of a confirmation signature: s and r of a 512-bit key, 64 bytes each.
inline constexpr std::size_t SIGNATURE_SIZE = 128;

// Environment variables that replace the built-in device values for a real
// device: its factory user PIN (six characters) and its activation code
// (eight decimal digits).
inline constexpr const char* DEFAULT_PIN_VARIABLE = "ORMID_VELTOKEN_DEFAULT_PIN";
inline constexpr const char* ACTIVATION_CODE_VARIABLE = "ORMID_VELTOKEN_ACTIVATION_CODE";

// The device's factory user PIN: ORMID_VELTOKEN_DEFAULT_PIN when it is set
// and not empty, else the built-in "123456". Read at each call; a value that
// is not six characters is refused with a DeviceError naming the variable.
std::wstring defaultUserPin();
// The activation code: ORMID_VELTOKEN_ACTIVATION_CODE when set and not
// empty, else the built-in "12345678". Read at each call; a value that is not
// eight decimal digits is refused with a DeviceError naming the variable.
std::string activationCode();

// The PIN in UTF-8, no terminator, no padding. The caller wipes the result.
bytes getPasswordData(std::wstring_view pin);

// The 4 serial bytes of a device information record, as stored; fewer than 4
// bytes (or no serial tag) is UnknownDevice.
bytes serialFromInfo(const bytes& info);
// Whether the record says the device still works with its default user PIN
// (tag 0x96 present with a non-zero first byte).
bool defaultPinFromInfo(const bytes& info);
// The first byte of tag 0x97; UNKNOWN_PIN_TRIES when it is absent or empty.
int pinTriesFromInfo(const bytes& info);

// The serial as the store's id: the 4 stored bytes read as an unsigned
// number with the first byte least significant, written in 8 decimal digits
// grouped in pairs ("01-23-45-67"); "--------" above 99999999.
// std::invalid_argument for another size than 4.
std::string serialText(const bytes& serialAsStored);

// The device information record (command 00 F5 00 00). The caller holds a
// transaction on the connected provider; status words and PC/SC failures
// throw.
bytes readDeviceInformation(SCardProvider& provider);
// The device information of the card in `reader`, read on a connection and
// in a transaction of its own.
bytes readDeviceInformation(std::string_view reader);

// The PIN tries the device reports (pinTriesFromInfo of its information);
// the caller holds a transaction on the connected provider.
int pinTries(const std::shared_ptr<SCardProvider>& provider);

// Sends a command carrying a secret (PIN, session token, activation code)
// and wipes the command's copy of the data once it is answered, also when the
// exchange fails. Status words and PC/SC failures throw.
apdu::Response executeSecret(SCardProvider& provider, apdu::Command& command);

// Appends `more` to a buffer that holds secret bytes; a buffer that has to
// grow leaves no unwiped copy of them behind.
void appendToSecret(bytes& secret, const bytes& more);

// Appends the card TLV of a secret value to `out`, wiping every copy made on
// the way (the caller wipes `out`).
void appendSecretTlv(bytes& out, std::uint8_t tag, bytes value);

// Activates a device waiting for activation: TLV 01 with the activation
// code, then TLV 02 with 400 random bytes (414 bytes, the extended form),
// sent on a connection and in a transaction of their own.
void activate(std::string_view reader);

} // namespace veltoken
