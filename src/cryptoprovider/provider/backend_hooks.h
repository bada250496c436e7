// Where the provider meets the confirmation token and the CSP containers:
// the confirmation token is served by its smart-card back end, the CSP
// containers and engines by the CSP back end. Each function is the one place
// its back end plugs in.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"
#include "cryptoprovider/core/crypto_types.h"
#include "pkcs7/attributes.h"

class DigestEngine;
class HardwareDevice;
class KeyStore;
class VerifySignEngine;

namespace provider
{

// The confirmation token in `readerName`, or null when the ATR is not the
// token's. A token that cannot be used throws: PinBlocked,
// DeviceNotInitialized, NeedReconnectVelToken after activating it, PC/SC
// and device errors.
std::shared_ptr<HardwareDevice> velTokenAt(std::string_view readerName, const bytes& atr);

// Whether `store` is the confirmation token.
bool isConfirmationToken(const KeyStore& store);

// A confirmation signature made with the confirmation token's device key
// over the DER of `signedAttributes`, and the serial that names the device
// as signer (the device serial as the content of a minimal positive DER
// INTEGER). KeyStoreNotSelected when `store` is not the confirmation token;
// the token's PIN and device errors pass through.
struct DeviceSignature {
    bytes signature;
    bytes signerSerial;
};
DeviceSignature signByDeviceKey(KeyStore& store, const pkcs9::Attributes& signedAttributes);

// A CSP key container (key-store type 2): a new one when `createNew`, else
// the container named `id`. CryptoProCSPLoadError without the CSP;
// KeyStoreNotSelected for another type or a container the CSP does not open.
std::shared_ptr<KeyStore> openCspContainer(KeyStoreType type, std::string_view id, bool createNew);
// Whether `store` is a CSP key container.
bool isCspContainer(const KeyStore& store);
// The crypto type of the installed CSP ("cryptopro"); nullopt when none is
// installed or it cannot be used.
std::optional<std::string> installedCspCryptoType();
// Full names of the CSP's key containers. CryptoProCSPLoadError without the
// CSP.
std::vector<std::string> cspContainers();
// Version text of the installed CSP ("5.0.12000"). CryptoProCSPLoadError
// without the CSP.
std::string cspVersion();
// Whether the crypto type is one of a CSP ("cryptopro", "signalcom",
// "microsoft", "vipnet").
bool isCspCryptoType(std::string_view cryptoType) noexcept;
// The CSP's digest and verification engines: CryptoProCSPLoadError without
// the CSP, FunctionNotImplemented for a CSP other than "cryptopro".
std::shared_ptr<DigestEngine> cspDigestEngine(std::string_view cryptoType);
std::shared_ptr<VerifySignEngine> cspVerifySignEngine(std::string_view cryptoType);

} // namespace provider
