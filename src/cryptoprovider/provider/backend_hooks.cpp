#include "cryptoprovider/provider/backend_hooks.h"

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"

namespace provider
{

std::shared_ptr<HardwareDevice> velTokenAt(std::string_view, const bytes&)
{
    return nullptr;
}

bool isConfirmationToken(const KeyStore&)
{
    return false;
}

DeviceSignature signByDeviceKey(KeyStore&, const pkcs9::Attributes&)
{
    throw FunctionNotImplemented();
}

std::shared_ptr<KeyStore> openCspContainer(KeyStoreType, std::string_view, bool)
{
    throw FunctionNotImplemented();
}

bool isCspContainer(const KeyStore&)
{
    return false;
}

std::optional<std::string> installedCspCryptoType()
{
    return std::nullopt;
}

std::vector<std::string> cspContainers()
{
    throw FunctionNotImplemented();
}

std::string cspVersion()
{
    throw FunctionNotImplemented();
}

bool isCspCryptoType(std::string_view cryptoType) noexcept
{
    return cryptoType == "cryptopro" || cryptoType == "signalcom";
}

std::shared_ptr<DigestEngine> cspDigestEngine(std::string_view)
{
    throw FunctionNotImplemented();
}

std::shared_ptr<VerifySignEngine> cspVerifySignEngine(std::string_view)
{
    throw FunctionNotImplemented();
}

} // namespace provider
