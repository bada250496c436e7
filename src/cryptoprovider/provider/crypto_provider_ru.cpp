#include "cryptoprovider/provider/crypto_provider_ru.h"

#include <utility>

#include "base/logger.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"

std::mutex CryptoProviderRU::m_mutex;

// Operations whose key-store, engine and detection back ends are not part of
// this build yet answer FunctionNotImplemented once the preconditions that do
// not need a back end (selected store, selected key, argument checks) hold.

CryptoProviderRU::~CryptoProviderRU() = default;

std::string CryptoProviderRU::currentKeyStoreId() const
{
    std::lock_guard lock(m_stateMutex);
    return m_currentKeyStoreId;
}

std::string CryptoProviderRU::currentKeyAlias() const
{
    std::lock_guard lock(m_stateMutex);
    return m_currentKeyAlias;
}

void CryptoProviderRU::setSelection(std::string storeId, std::string keyAlias)
{
    std::lock_guard lock(m_stateMutex);
    m_currentKeyStoreId = std::move(storeId);
    m_currentKeyAlias = std::move(keyAlias);
}

std::shared_ptr<KeyStore> CryptoProviderRU::currentKeyStore()
{
    bs::Logger log("CryptoProviderRU::currentKeyStore");
    {
        std::lock_guard lock(m_stateMutex);
        auto found = m_keyStores.find(m_currentKeyStoreId);
        if (found != m_keyStores.end() && found->second) {
            return found->second;
        }
    }
    KeyStoreNotSelected error;
    log.error(error.what());
    throw error;
}

std::shared_ptr<KeyStore> CryptoProviderRU::requireKey()
{
    if (currentKeyAlias().empty()) {
        bs::Logger log("CryptoProviderRU::currentKey");
        KeyNotSelected error;
        log.error(error.what());
        throw error;
    }
    return currentKeyStore();
}

void CryptoProviderRU::clearCache()
{
    clearKeyCache();
    // Nothing to walk: no key store has been opened by this provider.
}

std::vector<std::string> CryptoProviderRU::availableCrypto(const std::vector<std::string>&)
{
    bs::Logger log("CryptoProviderRU::availableCrypto");
    throw FunctionNotImplemented();
}

std::string CryptoProviderRU::cryptoTypeVersion(std::string_view cryptoType)
{
    bs::Logger log("CryptoProviderRU::cryptoTypeVersion");
    crypto::checkKnown(cryptoType);
    throw FunctionNotImplemented();
}

CryptoTypeInfo CryptoProviderRU::getCryptoTypeInfo(std::string_view cryptoType)
{
    bs::Logger log("CryptoProviderRU::getCryptoTypeInfo");
    return crypto::getCryptoTypeInfo(cryptoType);
}

std::vector<std::string> CryptoProviderRU::keyStoreList(KeyStoreType)
{
    bs::Logger log("CryptoProviderRU::keyStoreList");
    throw FunctionNotImplemented();
}

void CryptoProviderRU::selectKeyStore(KeyStoreType type, std::string_view id, bool)
{
    bs::Logger log("CryptoProviderRU::selectKeyStore");
    std::lock_guard lock(m_mutex);
    log.info("type:" + std::to_string(static_cast<std::int32_t>(type)));
    log.info(id);
    {
        std::lock_guard stateLock(m_stateMutex);
        if (id != m_currentKeyStoreId) {
            m_currentKeyAlias.clear();
        }
        m_currentKeyStoreId.clear();
    }
    switch (type) {
    case KeyStoreType::HardwareDevice:
    case KeyStoreType::VelToken:
    case KeyStoreType::CryptoProContainer:
        // Device scanning and CSP containers are not part of this build.
        throw FunctionNotImplemented();
    default:
        break;
    }
    KeyStoreNotSelected error;
    log.error(error.what());
    throw error;
}

void CryptoProviderRU::clearKeyStoreCache()
{
    bs::Logger log("CryptoProviderRU::clearCurrentKeyStoreCache");
    clearKeyCache();
    try {
        std::lock_guard lock(m_mutex);
        currentKeyStore();
    } catch (const std::exception& e) {
        log.error(e.what());
    }
}

void CryptoProviderRU::forgetKeyStore()
{
    std::lock_guard lock(m_mutex);
    setSelection({}, {});
}

std::string CryptoProviderRU::getKeyStoreId()
{
    return currentKeyStoreId();
}

KeyStoreInfo CryptoProviderRU::getKeyStoreInfo()
{
    std::lock_guard lock(m_mutex);
    currentKeyStore();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::setPin(std::wstring_view pin)
{
    std::lock_guard lock(m_mutex);
    if (pin.empty()) {
        throw PinLengthRange();
    }
    currentKeyStore();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::changePin(std::wstring_view newPin)
{
    std::lock_guard lock(m_mutex);
    if (newPin.empty()) {
        throw PinLengthRange();
    }
    currentKeyStore();
    throw FunctionNotImplemented();
}

bool CryptoProviderRU::needInitRND()
{
    currentKeyStore();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::initRND(InitRndCallback)
{
    currentKeyStore();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::createNewKey(const KeyInfo&, std::wstring_view)
{
    bs::Logger log("CryptoProviderRU::createNewKey");
    std::lock_guard lock(m_mutex);
    throw FunctionNotImplemented();
}

std::vector<KeyInfo> CryptoProviderRU::getKeys()
{
    std::lock_guard lock(m_mutex);
    currentKeyStore();
    throw FunctionNotImplemented();
}

KeyInfo CryptoProviderRU::setKey(std::string_view alias)
{
    bs::Logger log("CryptoProviderRU::setKey");
    std::lock_guard lock(m_mutex);
    const std::string trimmed = bs::trim(alias);
    if (trimmed.empty()) {
        EmptyKeyAlias error;
        log.error(error.what());
        throw error;
    }
    currentKeyStore();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::clearKeyCache()
{
    // Every failure (no store, no key) is swallowed; there is no key cache to
    // drop before a key store has been opened.
    try {
        std::lock_guard lock(m_mutex);
        requireKey();
    } catch (const std::exception&) {
    }
}

void CryptoProviderRU::forgetKey()
{
    std::lock_guard lock(m_mutex);
    std::lock_guard stateLock(m_stateMutex);
    m_currentKeyAlias.clear();
}

KeyInfo CryptoProviderRU::getKeyInfo()
{
    std::lock_guard lock(m_mutex);
    requireKey();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::setKeyPassword(std::wstring_view)
{
    std::lock_guard lock(m_mutex);
    requireKey();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::setKeyExternalId(std::uint64_t externalId)
{
    bs::Logger log("CryptoProviderRU::setKeyExternalId");
    std::lock_guard lock(m_mutex);
    if (externalId == 0) {
        EmptyExtKeyId error;
        log.error(error.what());
        throw error;
    }
    requireKey();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::changeKeyAlias(std::string_view)
{
    std::lock_guard lock(m_mutex);
    requireKey();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::changeKeyPassword(std::wstring_view)
{
    std::lock_guard lock(m_mutex);
    requireKey();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::deleteKey()
{
    currentKeyStore();
    std::lock_guard lock(m_mutex);
    requireKey();
    throw FunctionNotImplemented();
}

std::vector<bytes> CryptoProviderRU::rawSign(const std::vector<bytes>&, bool, const std::vector<AlgorithmId>&)
{
    bs::Logger log("CryptoProviderRU::rawSign");
    requireKey();
    throw FunctionNotImplemented();
}

std::vector<bytes> CryptoProviderRU::cmsSign(const std::vector<DataForSign>&, bool)
{
    bs::Logger log("CryptoProviderRU::cmsSign");
    currentKeyStore();
    requireKey();
    throw FunctionNotImplemented();
}

PublicKey CryptoProviderRU::getPublicKey(bool)
{
    bs::Logger log("CryptoProviderRU::getPublicKey");
    requireKey();
    throw FunctionNotImplemented();
}

SubjectPublicKeyInfo CryptoProviderRU::getSubjectPublicKeyInfo()
{
    bs::Logger log("CryptoProviderRU::getSubjectPublicKeyInfo");
    requireKey();
    throw FunctionNotImplemented();
}

bool CryptoProviderRU::verifyRawSign(const bytes&, const bytes&, const PublicKey&, std::string_view,
                                     std::string_view, std::string_view, bool)
{
    bs::Logger log("CryptoProviderRU::verifyRawSign");
    throw FunctionNotImplemented();
}

bool CryptoProviderRU::verifyDetachedSign(const bytes&, const bytes&, std::string_view, bool,
                                          const PublicKey&, std::string_view)
{
    bs::Logger log("CryptoProviderRU::verifyDetachedSign");
    throw FunctionNotImplemented();
}

bool CryptoProviderRU::verifyAttachedSign(const bytes&, std::string_view, bool, const PublicKey&,
                                          std::string_view)
{
    bs::Logger log("CryptoProviderRU::verifyAttachedSign");
    throw FunctionNotImplemented();
}

X509 CryptoProviderRU::createSelfSignedCertificate(const bytes&, std::uint64_t, const ValidityPeriod&)
{
    bs::Logger log("CryptoProviderRU::createSelfSignedCertificate");
    throw FunctionNotImplemented();
}

bytes CryptoProviderRU::importCertificate(const bytes&, CertType type)
{
    bs::Logger log("CryptoProviderRU::importCertificate " + std::to_string(static_cast<unsigned>(type)));
    currentKeyStore();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::deleteCertificate(const bytes&, CertType)
{
    bs::Logger log("CryptoProviderRU::deleteCertificate");
    currentKeyStore();
    throw FunctionNotImplemented();
}

std::vector<X509> CryptoProviderRU::certificates(CertType)
{
    bs::Logger log("CryptoProviderRU::certificateList");
    currentKeyStore();
    throw FunctionNotImplemented();
}

KeyInfo CryptoProviderRU::setKeyByCertificate(const bytes&)
{
    bs::Logger log("CryptoProviderRU::setKeyByCertificate");
    std::lock_guard lock(m_mutex);
    currentKeyStore();
    throw FunctionNotImplemented();
}

X509 CryptoProviderRU::getCertificate()
{
    bs::Logger log("CryptoProviderRU::getCertificate");
    requireKey();
    throw FunctionNotImplemented();
}

bytes CryptoProviderRU::createPkcs10(const SubjectDN&, Extensions&, bool, const AlgorithmId&)
{
    bs::Logger log("CryptoProviderRU::createPkcs10");
    requireKey();
    throw FunctionNotImplemented();
}

bytes CryptoProviderRU::pkcs10Sign(const bytes&, bool, const AlgorithmId&)
{
    bs::Logger log("CryptoProviderRU::pkcs10Sign");
    requireKey();
    throw FunctionNotImplemented();
}

bool CryptoProviderRU::verifyPkcs10Sign(const bytes&, std::string_view)
{
    bs::Logger log("CryptoProviderRU::verifyPkcs10Sign");
    throw FunctionNotImplemented();
}

bytes CryptoProviderRU::confirm(const bytes&, const std::vector<Pkcs9Attribute>&)
{
    bs::Logger log("CryptoProviderRU::confirm");
    // Only the confirmation token signs confirmations, and no key store is
    // selected yet.
    currentKeyStore();
    throw FunctionNotImplemented();
}

void CryptoProviderRU::initDigestEngine(std::string_view)
{
    throw FunctionNotImplemented();
}

std::shared_ptr<DigestEngine> CryptoProviderRU::digestEngine()
{
    std::lock_guard lock(m_stateMutex);
    return m_digestEngine;
}

std::shared_ptr<ICryptoProvider> getCryptoProvider()
{
    return std::make_shared<CryptoProviderRU>();
}
