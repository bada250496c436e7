#include "cryptoprovider/provider/backend_hooks.h"

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/scard/vel_token.h"

namespace provider
{

std::shared_ptr<HardwareDevice> velTokenAt(std::string_view readerName, const bytes& atr)
{
    const std::vector<unsigned char> cardAtr(atr.begin(), atr.end());
    if (!isOrmidVelToken(cardAtr)) {
        return nullptr;
    }
    return std::dynamic_pointer_cast<HardwareDevice>(getVelToken(readerName, cardAtr));
}

bool isConfirmationToken(const KeyStore& store)
{
    return dynamic_cast<const VelToken*>(&store) != nullptr;
}

DeviceSignature signByDeviceKey(KeyStore& store, const pkcs9::Attributes& signedAttributes)
{
    auto* token = dynamic_cast<VelToken*>(&store);
    if (!token) {
        throw KeyStoreNotSelected();
    }
    DeviceSignature result;
    result.signature = token->signByDeviceKey(signedAttributes);
    result.signerSerial = token->serialData(false);
    return result;
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
