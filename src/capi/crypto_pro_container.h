// The containers of the one CSP this library opens as key stores, and the
// entry points the provider uses to reach a CSP.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "capi/container.h"
#include "cryptoprovider/core/crypto_types.h"

class CryptoProContainer : public capi::Container
{
  public:
    // The CSP is there and is the right one: its libraries load, a
    // verify-only context of type 75 opens and the provider's maker is
    // "Crypto-Pro". CryptoProCSPLoadError otherwise; other CSP failures of
    // the context as their exceptions.
    static void checkInstalled();

    // A container still to be made (by createNewKey); its id until then is
    // 32 upper-case hex digits of random. checkInstalled's errors.
    CryptoProContainer();
    // The existing container `name` (any name the CSP takes: full, unique or
    // bare; empty: the CSP's default container), its unique name as id.
    // checkInstalled's errors; the user cancelling the CSP's prompt passes
    // through; any other failure to open it is KeyStoreNotSelected.
    explicit CryptoProContainer(std::string_view name);

    std::string cryptoType() const override;
    KeyStoreType type() const override;
    std::shared_ptr<DigestEngine> digestEngine() override;
    // The same check as VerifySignCryptoApi::verifyGostSign.
    bool verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                    const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode) override;
    // Refuses "HDIMAGE" aliases with Cyrillic letters (KeyAliasContainCyrillic).
    std::shared_ptr<KeyRecord> createNewKey(std::string_view alias, std::uint16_t systemId,
                                            const AlgorithmId& signAlgorithm, std::string_view algParamsOid,
                                            std::string_view text, std::wstring_view password) override;

    bool isAlgParamsValid(const AlgorithmId& algorithm, std::string_view paramsOid) const override;
    unsigned int signParamsOid() const override;
    unsigned int keyAliasParam() const override;
};

namespace capi
{

// "cryptopro", "signalcom", "microsoft" and "vipnet".
bool isCspCryptoType(std::string_view cryptoType) noexcept;
// CryptoProContainer::checkInstalled for "cryptopro"; FunctionNotImplemented
// for any other crypto type.
void checkCspInstalled(std::string_view cryptoType);
// A CSP container of key-store type 2: a new one when `createNew` (the name
// is then not used), else the container `name`. KeyStoreNotSelected for
// another type; the errors of the CryptoProContainer constructors.
std::shared_ptr<KeyStore> getKeyStore(KeyStoreType type, std::string_view name, bool createNew);

} // namespace capi
