#include "cryptoprovider/provider/backend_hooks.h"

#include <algorithm>

#include "base/logger.h"
#include "capi/crypto_pro_container.h"
#include "capi/csp_engines.h"
#include "capi/functions.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/provider/engine_factory.h"
#include "cryptoprovider/scard/vel_token.h"

namespace provider
{

namespace
{

// The content of a DER INTEGER holding the unsigned number written in
// `number` (most significant byte first): no superfluous leading zero
// octets, and one zero octet in front when the top bit is set, so that the
// number reads back positive.
bytes unsignedIntegerContent(const bytes& number)
{
    auto first = std::find_if(number.begin(), number.end(), [](std::uint8_t b) { return b != 0; });
    bytes content(first, number.end());
    if (content.empty() || (content.front() & 0x80) != 0) {
        content.insert(content.begin(), 0x00);
    }
    return content;
}

} // namespace

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
    // The serial is a 4-byte number; the signer's serial INTEGER must be in
    // its minimal positive form for CMS readers to accept the message.
    result.signerSerial = unsignedIntegerContent(token->serialData(false));
    return result;
}

std::shared_ptr<KeyStore> openCspContainer(KeyStoreType type, std::string_view id, bool createNew)
{
    return capi::getKeyStore(type, id, createNew);
}

bool isCspContainer(const KeyStore& store)
{
    return dynamic_cast<const capi::Container*>(&store) != nullptr;
}

std::optional<std::string> installedCspCryptoType()
{
    try {
        return CryptoProContainer().cryptoType();
    } catch (const std::exception& e) {
        bs::Logger("provider::installedCspCryptoType").info(e.what());
        return std::nullopt;
    }
}

std::vector<std::string> cspContainers()
{
    CryptoProContainer::checkInstalled();
    return capi::availableContainers({PROV_GOST_2001_DH}, CRYPT_FQCN);
}

std::string cspVersion()
{
    CryptoProContainer::checkInstalled();
    return capi::version(PROV_GOST_2001_DH);
}

bool isCspCryptoType(std::string_view cryptoType) noexcept
{
    return capi::isCspCryptoType(cryptoType);
}

std::shared_ptr<DigestEngine> cspDigestEngine(std::string_view cryptoType)
{
    capi::checkCspInstalled(cryptoType);
    return std::make_shared<capi::DigestCryptoApi>();
}

std::shared_ptr<VerifySignEngine> cspVerifySignEngine(std::string_view cryptoType)
{
    capi::checkCspInstalled(cryptoType);
    return std::make_shared<capi::VerifySignCryptoApi>(getDigestEngine(cryptoType));
}

} // namespace provider
