// KeyStore: construction, the plain fields, the PIN and password caches, the
// key list and the certificate cache (signing: key_store_signing.cpp).
#include "cryptoprovider/core/key_store.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "base/conv.h"
#include "base/logger.h"
#include "base/random.h"
#include "base/secure.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"

namespace
{

constexpr unsigned MASK_BYTES = 128; // 32 wide characters of four bytes

} // namespace

std::string prepareAliasForCheck(std::string_view alias)
{
    // The escaped form with its slashes and backslashes removed: only the
    // letters of the five escaped control characters remain of the escapes.
    std::string prepared;
    prepared.reserve(alias.size());
    for (const char c : alias) {
        switch (c) {
        case '\b':
            prepared.push_back('b');
            break;
        case '\t':
            prepared.push_back('t');
            break;
        case '\n':
            prepared.push_back('n');
            break;
        case '\f':
            prepared.push_back('f');
            break;
        case '\r':
            prepared.push_back('r');
            break;
        case '/':
        case '\\':
            break;
        default:
            prepared.push_back(c);
            break;
        }
    }
    return prepared;
}

KeyStore::KeyStore() : m_mask(conv::binary_to_str<wchar_t>(bs::getRandomBytes(MASK_BYTES))) {}

KeyStore::~KeyStore()
{
    bs::secureZero(&m_mask);
}

// ---- defaults of the optional back-end operations ----

std::shared_ptr<KeyRecord> KeyStore::createNewRsaKey(std::string_view, std::uint16_t, std::wstring_view,
                                                     std::uint16_t)
{
    throw FunctionNotImplemented();
}

bool KeyStore::needInitRND()
{
    return false;
}

void KeyStore::initRND(InitRndCallback)
{
    throw FunctionNotImplemented();
}

void KeyStore::importCertificateCrl(const bytes&)
{
    throw FunctionNotImplemented();
}

RsaPublicKey KeyStore::getRsaPublicKey(const std::shared_ptr<KeyRecord>&)
{
    throw FunctionNotImplemented();
}

std::vector<bytes> KeyStore::rsaSign(const std::shared_ptr<KeyRecord>&, const std::vector<bytes>&,
                                     const std::vector<AlgorithmId>&)
{
    throw FunctionNotImplemented();
}

std::wstring KeyStore::defaultUserPin() const
{
    return L"12345678";
}

// ---- plain fields ----

const std::shared_ptr<KeyRecord>& KeyStore::requireKey(const std::shared_ptr<KeyRecord>& key)
{
    if (!key) {
        throw KeyNotSelected();
    }
    return key;
}

std::string KeyStore::id() const
{
    std::lock_guard lock(m_mutex);
    return m_id;
}

void KeyStore::setId(std::string_view id)
{
    std::lock_guard lock(m_mutex);
    m_id = id;
}

bool KeyStore::hasPinCode() const
{
    std::lock_guard lock(m_mutex);
    return m_hasPinCode;
}

void KeyStore::setHasPinCode(bool hasPinCode)
{
    std::lock_guard lock(m_mutex);
    m_hasPinCode = hasPinCode;
}

bool KeyStore::isUserPinDefault() const
{
    std::lock_guard lock(m_mutex);
    return m_isUserPinDefault;
}

void KeyStore::setIsUserPinDefault(bool isDefault)
{
    std::lock_guard lock(m_mutex);
    m_isUserPinDefault = isDefault;
}

// ---- PIN and password caches ----

void KeyStore::setCachedPin(std::wstring_view pin)
{
    MaskedSecret masked(pin, m_mask);
    std::lock_guard lock(m_mutex);
    m_isUserPinDefault = false;
    m_cachedPins[m_id] = std::move(masked);
}

std::wstring KeyStore::getCachedPin()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_isUserPinDefault) {
            const auto found = m_cachedPins.find(m_id);
            if (found == m_cachedPins.end()) {
                throw PinRequired();
            }
            return found->second.reveal(m_mask);
        }
    }
    return defaultUserPin();
}

bool KeyStore::pinCached()
{
    try {
        std::wstring pin = getCachedPin();
        bs::secureZero(&pin);
        return true;
    } catch (const PinRequired&) {
        return false;
    }
}

void KeyStore::deleteCachedPin()
{
    std::lock_guard lock(m_mutex);
    m_cachedPins.erase(m_id);
}

void KeyStore::setCachedPassword(std::string_view alias, std::wstring_view password)
{
    MaskedSecret masked(password, m_mask);
    std::string key = bs::trim(alias);
    std::lock_guard lock(m_mutex);
    m_cachedPasswords[std::move(key)] = std::move(masked);
}

std::wstring KeyStore::getCachedPassword(std::string_view alias) const
{
    const std::string key = bs::trim(alias);
    std::lock_guard lock(m_mutex);
    const auto found = m_cachedPasswords.find(key);
    if (found == m_cachedPasswords.end()) {
        throw PasswordRequired(std::string(alias));
    }
    return found->second.reveal(m_mask);
}

void KeyStore::deleteCachedPassword(std::string_view alias)
{
    const std::string key = bs::trim(alias);
    std::lock_guard lock(m_mutex);
    m_cachedPasswords.erase(key);
}

bool KeyStore::isKeyPasswordSet(const std::shared_ptr<KeyRecord>& key)
{
    const std::string alias = bs::trim(requireKey(key)->alias());
    std::lock_guard lock(m_mutex);
    return m_cachedPasswords.count(alias) != 0;
}

void KeyStore::forgetKey(const std::shared_ptr<KeyRecord>& key)
{
    const std::string alias = requireKey(key)->alias();
    deleteCachedPassword(alias);
    std::lock_guard lock(m_mutex);
    m_publicKeys.erase(alias);
}

void KeyStore::clearCache()
{
    // Taken out under the lock and dropped (wiped) after it is released.
    std::map<std::string, MaskedSecret> pins;
    std::map<std::string, MaskedSecret> passwords;
    Keys keys;
    std::lock_guard lock(m_mutex);
    pins.swap(m_cachedPins);
    passwords.swap(m_cachedPasswords);
    keys.swap(m_keys);
    m_publicKeys.clear();
    m_certificates.clear();
}

// ---- key list ----

KeyStore::Keys KeyStore::getKeysList()
{
    updateKeysInfo();
    return getKeys();
}

KeyStore::Keys KeyStore::getKeys() const
{
    std::lock_guard lock(m_mutex);
    return m_keys;
}

void KeyStore::addKeyRecord(const std::shared_ptr<KeyRecord>& key)
{
    if (requireKey(key)->alias().empty()) {
        throw EmptyKeyAlias();
    }
    std::lock_guard lock(m_mutex);
    m_keys[key->alias()] = key;
}

void KeyStore::removeKeyRecord(const std::shared_ptr<KeyRecord>& key)
{
    const std::string alias = requireKey(key)->alias();
    std::lock_guard lock(m_mutex);
    m_keys.erase(alias);
}

void KeyStore::clearKeysList()
{
    std::lock_guard lock(m_mutex);
    m_keys.clear();
}

void KeyStore::replaceKeysList(Keys keys)
{
    std::lock_guard lock(m_mutex);
    m_keys.swap(keys);
}

std::shared_ptr<KeyRecord> KeyStore::findKeyByAlias(std::string_view alias, bool useList)
{
    bs::Logger log("KeyStore::findKeyByAlias");
    if (alias.empty()) {
        EmptyKeyAlias error;
        log.error(error.what());
        throw error;
    }
    const std::string wanted = prepareAliasForCheck(alias);
    for (;;) {
        if (!useList) {
            updateKeysInfo();
        }
        for (const auto& [name, key] : getKeys()) {
            if (key && prepareAliasForCheck(key->alias()) == wanted) {
                return key;
            }
        }
        if (!useList) {
            break;
        }
        useList = false;
    }
    KeyNotFound error;
    log.error(error.what());
    throw error;
}

std::shared_ptr<KeyRecord> KeyStore::findKeyById(std::uint64_t externalId, bool useList)
{
    bs::Logger log("KeyStore::findKeyById");
    for (;;) {
        if (!useList) {
            updateKeysInfo();
        }
        for (const auto& [name, key] : getKeys()) {
            if (key && key->externalId() == externalId) {
                return key;
            }
        }
        if (!useList) {
            break;
        }
        useList = false;
    }
    KeyNotFound error;
    log.error(error.what());
    throw error;
}

// ---- certificates ----

std::vector<X509> KeyStore::certificates(CertType type)
{
    std::vector<X509> list = certificateList(type);
    std::lock_guard lock(m_mutex);
    m_certificates[type] = list;
    return list;
}

X509 KeyStore::findCertificate(const bytes& id, const std::vector<CertType>& types, bool useCache)
{
    bs::Logger log("KeyStore::findCertificate");
    for (;;) {
        for (const CertType type : types) {
            std::optional<std::vector<X509>> list;
            if (useCache) {
                std::lock_guard lock(m_mutex);
                const auto cached = m_certificates.find(type);
                if (cached != m_certificates.end()) {
                    list = cached->second;
                }
            }
            if (!list) {
                try {
                    list = certificates(type);
                } catch (const std::exception& e) {
                    if (type == CERT_USER) {
                        throw;
                    }
                    log.error(e.what());
                    continue;
                }
            }
            for (const X509& certificate : *list) {
                if (certificate.id() == id) {
                    return certificate;
                }
            }
        }
        if (!useCache) {
            break;
        }
        useCache = false;
    }
    CertificateNotFound error;
    log.error(error.what());
    throw error;
}

void KeyStore::addX509(const X509& x509, CertType type)
{
    std::lock_guard lock(m_mutex);
    std::vector<X509>& list = m_certificates[type];
    if (std::find(list.begin(), list.end(), x509) == list.end()) {
        list.push_back(x509);
    }
}

void KeyStore::removeX509(const bytes& id, CertType type)
{
    std::lock_guard lock(m_mutex);
    const auto cached = m_certificates.find(type);
    if (cached != m_certificates.end()) {
        std::erase_if(cached->second, [&id](const X509& certificate) { return certificate.id() == id; });
    }
}
