#include "cryptoprovider/provider/crypto_means.h"

#include <algorithm>
#include <exception>

#include "base/logger.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/provider/backend_hooks.h"
#include "cryptoprovider/provider/device_detection.h"
#include "cryptoprovider/provider/reader_walk.h"

std::vector<std::string> getAvailableCrypto(const std::vector<std::string>& filter)
{
    bs::Logger log("getAvailableCrypto");
    std::vector<std::string> found;
    for (const provider::CardInReader& card : provider::cardsInReaders(true, "getAvailableCrypto")) {
        try {
            std::shared_ptr<HardwareDevice> device = provider::velTokenAt(card.reader, card.atr);
            if (!device) {
                device = getHardwareDevice(card.reader, card.atr);
            }
            found.push_back(device->cryptoType());
        } catch (const std::exception& e) {
            log.error(e.what());
        }
    }
    try {
        if (auto csp = provider::installedCspCryptoType()) {
            found.push_back(*csp);
        }
    } catch (const std::exception& e) {
        log.error(e.what());
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    if (!filter.empty()) {
        std::erase_if(found, [&](const std::string& id) {
            return std::find(filter.begin(), filter.end(), id) == filter.end();
        });
    }
    return found;
}

namespace crypto
{

std::vector<std::string> getContainers(KeyStoreType type)
{
    if (type != KeyStoreType::CryptoProContainer) {
        throw FunctionNotImplemented();
    }
    return provider::cspContainers();
}

std::string getVersion(std::string_view id, const std::map<std::string, std::shared_ptr<KeyStore>>& keyStores)
{
    if (id == "cryptopro") {
        return provider::cspVersion();
    }
    if (isHardwareDevice(id) || id == "ovt") {
        return std::to_string(findHwDeviceByCryptoType(id, keyStores)->package());
    }
    return {};
}

} // namespace crypto
