#include "cryptoprovider/scard/vel_device.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <stdexcept>

#include "asn1/tlv.h"
#include "base/encoding.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/random.h"
#include "base/secure.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/apdu.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "cryptoprovider/pcsc/wipe.h"

namespace
{

constexpr std::size_t ATR_SIZE = 16;
constexpr std::array<unsigned char, 8> ATR_PREFIX = {0x3B, 0x9B, 0x96, 0x01, 0x80, 0x31, 0x01, 0x61};
constexpr std::uint32_t LARGEST_SERIAL = 99999999;
constexpr unsigned ACTIVATION_RANDOM_SIZE = 400;

const wchar_t* const BUILT_IN_DEFAULT_PIN = L"123456";
const char* const BUILT_IN_ACTIVATION_CODE = "12345678";
constexpr std::size_t DEFAULT_PIN_LENGTH = 6;
constexpr std::size_t ACTIVATION_CODE_LENGTH = 8;

// A configured value that cannot be used: the hardware-device error naming
// the variable and what it must hold (never the value, which is a secret).
DeviceError invalidSetting(const char* variable, std::string_view rule)
{
    return DeviceError(0, cp::localization.get("CP-008027") + std::string(": ") + variable + " " +
                              std::string(rule));
}

// The variable's value, empty when it is unset.
std::string environmentValue(const char* variable)
{
    const char* value = std::getenv(variable);
    return value ? std::string(value) : std::string();
}

} // namespace

bool isOrmidVelToken(const std::vector<unsigned char>& atr)
{
    if (atr.size() != ATR_SIZE || !std::equal(ATR_PREFIX.begin(), ATR_PREFIX.end(), atr.begin())) {
        return false;
    }
    return atr[9] == 0x73 && atr[10] == 0x00 && atr[11] == 0x21 && (atr[12] & 0xFC) == 0x50 &&
           atr[13] == 0x81;
}

namespace veltoken
{

std::wstring defaultUserPin()
{
    std::string configured = environmentValue(DEFAULT_PIN_VARIABLE);
    if (configured.empty()) {
        return BUILT_IN_DEFAULT_PIN;
    }
    std::wstring pin = encoding::utf8_to_utf16(configured);
    bs::secureZero(&configured);
    if (pin.size() != DEFAULT_PIN_LENGTH) {
        bs::secureZero(&pin);
        bs::Logger log("veltoken::defaultUserPin");
        bs::logAndThrow(log, invalidSetting(DEFAULT_PIN_VARIABLE, "must be six characters"));
    }
    return pin;
}

std::string activationCode()
{
    std::string configured = environmentValue(ACTIVATION_CODE_VARIABLE);
    if (configured.empty()) {
        return BUILT_IN_ACTIVATION_CODE;
    }
    const bool valid =
        configured.size() == ACTIVATION_CODE_LENGTH &&
        std::all_of(configured.begin(), configured.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!valid) {
        bs::secureZero(&configured);
        bs::Logger log("veltoken::activationCode");
        bs::logAndThrow(log, invalidSetting(ACTIVATION_CODE_VARIABLE, "must be eight decimal digits"));
    }
    return configured;
}

bytes getPasswordData(std::wstring_view pin)
{
    std::string utf8 = encoding::utf16_to_utf8(pin);
    bytes data(utf8.begin(), utf8.end());
    bs::secureZero(&utf8);
    return data;
}

bytes serialFromInfo(const bytes& info)
{
    const bytes serial = findTagValue(TAG_SERIAL, info, 0);
    if (serial.size() < 4) {
        bs::Logger log("veltoken::serialFromInfo");
        bs::logAndThrow(log, UnknownDevice());
    }
    return bytes(serial.begin(), serial.begin() + 4);
}

bool defaultPinFromInfo(const bytes& info)
{
    const bytes flag = findTagValue(TAG_DEFAULT_PIN, info, 0);
    return !flag.empty() && flag[0] != 0;
}

int pinTriesFromInfo(const bytes& info)
{
    const bytes tries = findTagValue(TAG_PIN_TRIES, info, 0);
    return tries.empty() ? UNKNOWN_PIN_TRIES : tries[0];
}

std::string serialText(const bytes& serialAsStored)
{
    if (serialAsStored.size() != 4) {
        throw std::invalid_argument("a confirmation token serial is 4 bytes");
    }
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) {
        value = value << 8 | serialAsStored[i];
    }
    if (value > LARGEST_SERIAL) {
        return "--------";
    }
    const std::string digits = bs::addLeadingZeros(std::to_string(value), 8);
    return digits.substr(0, 2) + "-" + digits.substr(2, 2) + "-" + digits.substr(4, 2) + "-" +
           digits.substr(6, 2);
}

bytes readDeviceInformation(SCardProvider& provider)
{
    return provider.executeCommand(apdu::Command(0x00, 0xF5, 0x00, 0x00), false).getData();
}

bytes readDeviceInformation(std::string_view reader)
{
    SCardProvider provider(reader);
    const ScardTransaction transaction(provider);
    return readDeviceInformation(provider);
}

int pinTries(const std::shared_ptr<SCardProvider>& provider)
{
    return pinTriesFromInfo(readDeviceInformation(*provider));
}

void appendToSecret(bytes& secret, const bytes& more)
{
    if (secret.capacity() < secret.size() + more.size()) {
        // Grown here rather than by insert, which would free the old buffer unwiped.
        bytes grown;
        grown.reserve(secret.size() + more.size());
        grown.assign(secret.begin(), secret.end());
        bs::secureZero(&secret);
        secret.swap(grown);
    }
    secret.insert(secret.end(), more.begin(), more.end());
}

void appendSecretTlv(bytes& out, std::uint8_t tag, bytes value)
{
    const pcsc::WipeOnExit wipeValue(value);
    apdu::Tlv tlv(tag, value);
    const pcsc::WipeOnExit wipeTlv(tlv.valueRef());
    bytes encoded = tlv.data();
    const pcsc::WipeOnExit wipeEncoded(encoded);
    appendToSecret(out, encoded);
}

apdu::Response executeSecret(SCardProvider& provider, apdu::Command& command)
{
    const pcsc::WipeOnExit wipe(command.getData());
    return provider.executeCommand(command, false);
}

void activate(std::string_view reader)
{
    bs::Logger log("veltoken::activate");
    std::string code = activationCode();
    bytes data;
    const pcsc::WipeOnExit wipeData(data);
    appendSecretTlv(data, 0x01, bytes(code.begin(), code.end()));
    bs::secureZero(&code);
    appendSecretTlv(data, 0x02, bs::getRandomBytes(ACTIVATION_RANDOM_SIZE));
    apdu::Command command(0x00, 0xF0, 0x01, 0x00, data);
    SCardProvider provider(reader);
    const ScardTransaction transaction(provider);
    const apdu::Response response = executeSecret(provider, command);
    log.info("activated");
}

} // namespace veltoken
