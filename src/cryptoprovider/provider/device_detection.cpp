#include "cryptoprovider/provider/device_detection.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "base/conv.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/apdu.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "cryptoprovider/pkcs11/token_models.h"

namespace
{

constexpr std::string_view RUTOKEN_READER = "aktiv rutoken ecp";

constexpr std::array<unsigned char, 18> MSKEY_K_ATR = {0x3B, 0x9E, 0x96, 0x00, 0x80, 0x31, 0xC0, 0x65, 0x4D,
                                                       0x53, 0x00, 0x00, 0x00, 0x72, 0xF7, 0x41, 0x81, 0x07};
constexpr std::array<unsigned char, 22> JACARTA_ATR = {0x3B, 0xDC, 0x18, 0xFF, 0x81, 0x91, 0xFE, 0x1F,
                                                       0xC3, 0x80, 0x73, 0xC8, 0x21, 0x13, 0x66, 0x01,
                                                       0x06, 0x11, 0x59, 0x00, 0x01, 0x28};

template <std::size_t N> bool equals(const bytes& atr, const std::array<unsigned char, N>& pattern)
{
    return std::equal(atr.begin(), atr.end(), pattern.begin(), pattern.end());
}

bool isRutokenReader(std::string_view readerName)
{
    std::string lower(readerName);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(RUTOKEN_READER) != std::string::npos;
}

std::shared_ptr<HardwareDevice> makeRutoken(provider::RutokenModel model, std::string_view readerName)
{
    using provider::RutokenModel;
    switch (model) {
    case RutokenModel::Ecp2100:
        return std::make_shared<RuToken2100>(readerName);
    case RutokenModel::Ecp3000:
        return std::make_shared<RuToken3000>(readerName);
    case RutokenModel::Ecp3:
        return std::make_shared<RuToken3>(readerName);
    case RutokenModel::Ecp3220:
        return std::make_shared<RuToken3220>(readerName);
    case RutokenModel::Ecp2:
        break;
    }
    return std::make_shared<RuToken2>(readerName);
}

} // namespace

namespace provider
{

RutokenModel rutokenModel(const bytes& chipData)
{
    constexpr std::array<unsigned char, 4> knownFamilies = {23, 24, 27, 30};
    if (chipData.size() < 6 ||
        std::find(knownFamilies.begin(), knownFamilies.end(), chipData[4]) == knownFamilies.end() ||
        chipData[5] != 2) {
        throw UnknownDevice();
    }
    switch (chipData[1]) {
    case 54:
        return RutokenModel::Ecp2100;
    case 59:
        return RutokenModel::Ecp3000;
    case 60:
        return RutokenModel::Ecp3;
    case 65:
        return RutokenModel::Ecp3220;
    default:
        return RutokenModel::Ecp2;
    }
}

bytes readRutokenChipData(std::string_view readerName)
{
    SCardProvider reader(readerName);
    return reader.executeCommand(apdu::Command(0x00, 0xCA, 0x01, 0x89, short{0x0C}), false).getData();
}

} // namespace provider

std::shared_ptr<HardwareDevice> getHardwareDevice(std::string_view readerName, const bytes& atr)
{
    bs::Logger log("getHardwareDevice");
    if (isRutokenReader(readerName)) {
        const bytes chipData = provider::readRutokenChipData(readerName);
        log.info("chip: " + conv::bytes_to_hex(chipData));
        return makeRutoken(provider::rutokenModel(chipData), readerName);
    }
    if (equals(atr, MSKEY_K_ATR)) {
        return std::make_shared<MSKeyKAngara>(readerName);
    }
    if (equals(atr, JACARTA_ATR)) {
        return std::make_shared<CryptoTokenEP2>(readerName);
    }
    bs::logAndThrow(log, UnknownDevice());
}

std::shared_ptr<HardwareDevice>
findHwDeviceByCryptoType(std::string_view cryptoType,
                         const std::map<std::string, std::shared_ptr<KeyStore>>& stores)
{
    bs::Logger log("findHwDeviceByCryptoType");
    for (const auto& [id, store] : stores) {
        auto device = std::dynamic_pointer_cast<HardwareDevice>(store);
        if (device && device->cryptoType() == cryptoType) {
            return device;
        }
    }
    throw DeviceNotFound();
}
