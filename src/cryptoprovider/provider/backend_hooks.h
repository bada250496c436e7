// Where the provider meets the confirmation token and the CSP containers.
// The confirmation token is served by its smart-card back end; the CSP back
// end is not part of this build, so its functions answer as the provider
// expects from a machine without a CSP. Each function is the one place its
// back end plugs in.
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

// A CSP key container: a new one when `createNew`, else the container named
// `id`. FunctionNotImplemented in this build.
std::shared_ptr<KeyStore> openCspContainer(KeyStoreType type, std::string_view id, bool createNew);
// Whether `store` is a CSP key container (never, in this build).
bool isCspContainer(const KeyStore& store);
// The crypto type of the installed CSP; nullopt when none is installed
// (always, in this build).
std::optional<std::string> installedCspCryptoType();
// Names of the CSP's key containers. FunctionNotImplemented in this build.
std::vector<std::string> cspContainers();
// Version text of the installed CSP. FunctionNotImplemented in this build.
std::string cspVersion();
// Whether the crypto type is one of a CSP ("cryptopro", "signalcom").
bool isCspCryptoType(std::string_view cryptoType) noexcept;
// The CSP's digest and verification engines. FunctionNotImplemented in this
// build.
std::shared_ptr<DigestEngine> cspDigestEngine(std::string_view cryptoType);
std::shared_ptr<VerifySignEngine> cspVerifySignEngine(std::string_view cryptoType);

} // namespace provider
