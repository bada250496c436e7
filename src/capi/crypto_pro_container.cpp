#include "capi/crypto_pro_container.h"

#include "base/conv.h"
#include "base/encoding.h"
#include "base/errors.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/random.h"
#include "base/strings.h"
#include "capi/csp_engines.h"
#include "capi/errors.h"
#include "capi/wrapper.h"
#include "cryptoprovider/core/errors.h"

namespace
{

constexpr unsigned NEW_CONTAINER_ID_BYTES = 16;
constexpr std::string_view VENDOR = "Crypto-Pro";

// The CSP's own refusal when the user cancels its prompt.
bool isCancelled(const capi::Error& error)
{
    return error.code() == ERROR_CANCELLED || error.code() == SCARD_W_CANCELLED_BY_USER;
}

// The unique name of the container `name` (empty: the CSP's default one).
std::string uniqueContainerName(std::string_view name)
{
    std::string container(name);
    if (container.empty()) {
        const auto provider = capi::Provider::verifyContext(PROV_GOST_2001_DH);
        container = encoding::cp1251_to_utf8(provider.stringParam(PP_FQCN, 0));
        if (container.empty()) {
            throw KeyStoreNotSelected();
        }
    }
    const capi::Provider provider(container, PROV_GOST_2001_DH, CRYPT_VERIFYCONTEXT);
    return encoding::cp1251_to_utf8(provider.stringParam(PP_UNIQUE_CONTAINER, 0));
}

} // namespace

void CryptoProContainer::checkInstalled()
{
    const bs::Logger log("CryptoProContainer::checkInstalled");
    try {
        capi::Wrapper::instance();
    } catch (const std::exception& e) {
        // Not there, or a library without one of the entry points.
        log.error(e.what());
        bs::logAndThrow(log, CryptoProCSPLoadError());
    }
    std::string vendor;
    try {
        vendor = capi::Provider::verifyContext(PROV_GOST_2001_DH).vendor();
    } catch (const capi::ProvTypeNotDef& e) {
        log.error(e.what());
        bs::logAndThrow(log, CryptoProCSPLoadError());
    }
    if (vendor != VENDOR) {
        log.error("vendor: " + vendor);
        bs::logAndThrow(log, CryptoProCSPLoadError());
    }
}

CryptoProContainer::CryptoProContainer() : Container(PROV_GOST_2001_DH, true)
{
    const bs::Logger log("CryptoProContainer::CryptoProContainer");
    checkInstalled();
    const std::string id = conv::bytes_to_hex(bs::getRandomBytes(NEW_CONTAINER_ID_BYTES));
    if (id.empty()) {
        bs::logAndThrow(log, KeyStoreNotSelected());
    }
    setId(id);
}

CryptoProContainer::CryptoProContainer(std::string_view name) : Container(PROV_GOST_2001_DH, false)
{
    const bs::Logger log("CryptoProContainer::CryptoProContainer");
    checkInstalled();
    std::string uniqueName;
    try {
        uniqueName = uniqueContainerName(name);
    } catch (const FunctionCanceled&) {
        throw;
    } catch (const capi::Error& e) {
        if (isCancelled(e)) {
            throw;
        }
        log.error(e.what());
        bs::logAndThrow(log, KeyStoreNotSelected());
    } catch (const std::exception& e) {
        log.error(e.what());
        bs::logAndThrow(log, KeyStoreNotSelected());
    }
    log.info("uniqueName:" + uniqueName);
    setId(uniqueName);
}

std::string CryptoProContainer::cryptoType() const
{
    return "cryptopro";
}

KeyStoreType CryptoProContainer::type() const
{
    return KeyStoreType::CryptoProContainer;
}

std::shared_ptr<DigestEngine> CryptoProContainer::digestEngine()
{
    return std::make_shared<capi::DigestCryptoApi>();
}

bool CryptoProContainer::verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                                    const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                                    bool kalvaMode)
{
    return capi::verifyGostSignature(data, signature, publicKey, signAlgorithm, paramsOid, kalvaMode);
}

std::shared_ptr<KeyRecord> CryptoProContainer::createNewKey(std::string_view alias, std::uint16_t systemId,
                                                            const AlgorithmId& signAlgorithm,
                                                            std::string_view algParamsOid,
                                                            std::string_view text, std::wstring_view password)
{
    const bs::Logger log("CryptoProContainer::createNewKey");
    if (alias.find("HDIMAGE") != std::string_view::npos && bs::isContainCyrillic(alias)) {
        bs::logAndThrow(log, KeyAliasContainCyrillic());
    }
    return Container::createNewKey(alias, systemId, signAlgorithm, algParamsOid, text, password);
}

bool CryptoProContainer::isAlgParamsValid(const AlgorithmId&, std::string_view) const
{
    return true;
}

unsigned int CryptoProContainer::signParamsOid() const
{
    return KP_PARAMSET_OID;
}

unsigned int CryptoProContainer::keyAliasParam() const
{
    return PP_CONTAINER_ALIAS;
}

namespace capi
{

bool isCspCryptoType(std::string_view cryptoType) noexcept
{
    return cryptoType == "cryptopro" || cryptoType == "signalcom" || cryptoType == "microsoft" ||
           cryptoType == "vipnet";
}

void checkCspInstalled(std::string_view cryptoType)
{
    if (cryptoType != "cryptopro") {
        bs::logAndThrow(bs::Logger("capi::checkCspInstalled"), FunctionNotImplemented());
    }
    CryptoProContainer::checkInstalled();
}

std::shared_ptr<KeyStore> getKeyStore(KeyStoreType type, std::string_view name, bool createNew)
{
    if (type != KeyStoreType::CryptoProContainer) {
        bs::logAndThrow(bs::Logger("capi::getKeyStore"), KeyStoreNotSelected());
    }
    if (createNew) {
        return std::make_shared<CryptoProContainer>();
    }
    return std::make_shared<CryptoProContainer>(name);
}

} // namespace capi
