// CryptoProviderRU: the keys of the current store (creation, listing,
// selection, passwords, alias, external id, deletion).
#include <string>

#include "base/log_and_throw.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/key_store.h"
#include "cryptoprovider/provider/alias_check.h"
#include "cryptoprovider/provider/backend_hooks.h"
#include "cryptoprovider/provider/crypto_provider_ru.h"
#include "x509/algorithms.h"

// ---- keys -----------------------------------------------------------------------

void CryptoProviderRU::checkNewAlias(const std::string& alias)
{
    provider::checkAliasSymbols(alias);
    try {
        currentKeyStore()->findKeyByAlias(alias, true);
    } catch (const KeyNotFound&) {
        return;
    }
    bs::logAndThrow(bs::Logger("CryptoProviderRU::checkNewAlias"), KeyAliasAlreadyExist(alias));
}

void CryptoProviderRU::createNewKey(const KeyInfo& keyInfo, std::wstring_view password)
{
    bs::Logger log("CryptoProviderRU::createNewKey");
    std::lock_guard lock(m_mutex);
    const AlgorithmId algorithm = findSignAlgorithmId(ObjectIdentifier(keyInfo.signAlgorithmOid));
    checkGost3410Params(algorithm, keyInfo.algParamsOid);
    const std::string alias = bs::trim(keyInfo.alias);
    checkNewAlias(alias);
    const auto store = currentKeyStore();
    if (algorithm.isRsa()) {
        store->createNewRsaKey(alias, keyInfo.systemId, password, keyInfo.rsaKeyBits);
    } else {
        store->createNewKey(alias, keyInfo.systemId, algorithm, keyInfo.algParamsOid, keyInfo.cryptoType,
                            password);
    }
    std::string newAlias;
    try {
        store->findKeyByAlias(alias, true);
        newAlias = alias;
    } catch (const KeyNotFound&) {
        // A store that recreated its key under another alias: its one key.
        const KeyStore::Keys keys = store->getKeysList();
        if (keys.size() != 1) {
            return;
        }
        newAlias = keys.begin()->first;
    }
    // A store that renamed itself while making the key (a new container
    // takes the CSP's unique name) stays selected under its new id.
    const std::string storeId = store->id();
    std::lock_guard stateLock(m_stateMutex);
    if (storeId != m_currentKeyStoreId) {
        m_keyStores.erase(m_currentKeyStoreId);
        m_currentKeyStoreId = storeId;
        m_keyStores.emplace(storeId, store);
    }
    m_currentKeyAlias = newAlias;
}

std::vector<KeyInfo> CryptoProviderRU::getKeys()
{
    std::lock_guard lock(m_mutex);
    const auto store = currentKeyStore();
    std::vector<KeyInfo> result;
    for (const auto& [alias, key] : store->getKeysList()) {
        result.push_back(keyInfoOf(store, key));
    }
    return result;
}

KeyInfo CryptoProviderRU::setKey(std::string_view alias)
{
    bs::Logger log("CryptoProviderRU::setKey");
    std::lock_guard lock(m_mutex);
    const std::string trimmed = bs::trim(alias);
    if (trimmed.empty()) {
        bs::logAndThrow(log, EmptyKeyAlias());
    }
    const auto store = currentKeyStore();
    const auto key = store->findKeyByAlias(trimmed, true);
    setCurrentKeyAlias(trimmed);
    log.info("m_currentKeyAlias=" + trimmed);
    return keyInfoOf(store, key);
}

void CryptoProviderRU::forgetKey()
{
    std::lock_guard lock(m_mutex);
    setCurrentKeyAlias({});
}

KeyInfo CryptoProviderRU::getKeyInfo()
{
    std::lock_guard lock(m_mutex);
    const auto store = currentKeyStore();
    return keyInfoOf(store, currentKey());
}

void CryptoProviderRU::setKeyPassword(std::wstring_view password)
{
    std::lock_guard lock(m_mutex);
    const auto store = currentKeyStore();
    store->setKeyPassword(currentKey(), password);
}

void CryptoProviderRU::changeKeyPassword(std::wstring_view newPassword)
{
    bs::Logger log("CryptoProviderRU::changeKeyPassword");
    std::lock_guard lock(m_mutex);
    const auto key = currentKey();
    requireChangeable(*key, log);
    currentKeyStore()->changeKeyPass(key, newPassword);
}

void CryptoProviderRU::changeKeyAlias(std::string_view newAlias)
{
    bs::Logger log("CryptoProviderRU::changeKeyAlias");
    std::lock_guard lock(m_mutex);
    const auto key = currentKey();
    requireChangeable(*key, log);
    const std::string alias = bs::trim(newAlias);
    checkNewAlias(alias);
    currentKeyStore()->changeKeyAlias(key, alias);
    setCurrentKeyAlias(alias);
}

void CryptoProviderRU::setKeyExternalId(std::uint64_t externalId)
{
    bs::Logger log("CryptoProviderRU::setKeyExternalId");
    std::lock_guard lock(m_mutex);
    if (externalId == 0) {
        bs::logAndThrow(log, EmptyExtKeyId());
    }
    const auto key = currentKey();
    requireChangeable(*key, log);
    if (key->externalId() != 0) {
        bs::logAndThrow(log, KeyIdAlreadySet());
    }
    const auto store = currentKeyStore();
    try {
        store->findKeyById(externalId, true);
    } catch (const KeyNotFound&) {
        store->setKeyExternalId(key, externalId);
        return;
    }
    bs::logAndThrow(log, KeyIdAlreadyExist(externalId));
}

void CryptoProviderRU::deleteKey()
{
    bs::Logger log("CryptoProviderRU::deleteKey");
    const auto store = currentKeyStore();
    {
        std::lock_guard lock(m_mutex);
        const auto key = currentKey();
        requireChangeable(*key, log);
        store->deleteKey(key);
    }
    // A container without its key is gone; other stores keep the selection,
    // so the next key operation reports the key as not found.
    if (provider::isCspContainer(*store)) {
        clearKeyStoreCache();
        forgetKeyStore();
    }
}
