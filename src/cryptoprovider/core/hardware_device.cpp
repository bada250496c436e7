#include "cryptoprovider/core/hardware_device.h"

#include "base/logger.h"
#include "base/secure.h"
#include "cryptoprovider/core/errors.h"

HardwareDevice::HardwareDevice(std::string_view name, std::string_view cryptoType, std::string_view chipType,
                               PACKAGE package)
    : m_name(name), m_cryptoType(cryptoType), m_chipType(chipType), m_package(package)
{
}

bool HardwareDevice::isPinSet()
{
    bs::Logger log("HardwareDevice::isPinSet");
    connectReader();
    if (!hasPinCode()) {
        return true;
    }
    try {
        return pinCached();
    } catch (const std::exception& e) {
        log.error(e.what());
        clearCache();
        throw;
    }
}

bool HardwareDevice::verifyRsaSign(const bytes&, const bytes&, const RsaPublicKey&, const AlgorithmId&)
{
    throw FunctionNotImplemented();
}

std::string HardwareDevice::shortName() const
{
    return std::string(crypto::getShortName(m_cryptoType));
}
