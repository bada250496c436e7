// CryptoProviderRU: the session's selection state, crypto means, key stores,
// PINs and seeding, and caches (keys: crypto_provider_keys.cpp; signing and
// certificates: crypto_provider_sign.cpp).
#include "cryptoprovider/provider/crypto_provider_ru.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "base/log_and_throw.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/core/key_store.h"
#include "cryptoprovider/provider/backend_hooks.h"
#include "cryptoprovider/provider/crypto_means.h"
#include "cryptoprovider/provider/device_detection.h"
#include "cryptoprovider/provider/reader_walk.h"
#include "x509/errors.h"

std::mutex CryptoProviderRU::m_mutex;

CryptoProviderRU::~CryptoProviderRU() = default;

// ---- state --------------------------------------------------------------

CryptoProviderRU::KeyStores CryptoProviderRU::cachedKeyStores() const
{
    std::lock_guard lock(m_stateMutex);
    return m_keyStores;
}

void CryptoProviderRU::cacheKeyStore(const std::shared_ptr<KeyStore>& store)
{
    const std::string id = store->id();
    std::lock_guard lock(m_stateMutex);
    m_keyStores.emplace(id, store);
}

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

void CryptoProviderRU::setCurrentKeyAlias(std::string alias)
{
    std::lock_guard lock(m_stateMutex);
    m_currentKeyAlias = std::move(alias);
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
    bs::logAndThrow(log, KeyStoreNotSelected());
}

std::shared_ptr<KeyRecord> CryptoProviderRU::currentKey()
{
    const std::string alias = currentKeyAlias();
    if (alias.empty()) {
        bs::logAndThrow(bs::Logger("CryptoProviderRU::currentKey"), KeyNotSelected());
    }
    return currentKeyStore()->findKeyByAlias(alias, true);
}

void CryptoProviderRU::requireChangeable(const KeyRecord& key, const bs::Logger& log)
{
    if (!key.isChangeable()) {
        bs::logAndThrow(log, AccessDenied());
    }
}

KeyInfo CryptoProviderRU::keyInfoOf(const std::shared_ptr<KeyStore>& store,
                                    const std::shared_ptr<KeyRecord>& key)
{
    if (!key) {
        throw KeyNotFound();
    }
    KeyInfo info;
    info.alias = key->alias();
    info.systemId = key->systemId();
    info.externalId = key->externalId();
    info.signAlgorithmOid = key->signAlgorithm().oid().text();
    info.algParamsOid = key->algParamsOid();
    info.digestAlgorithmOid = key->digestAlgorithm().oid().text();
    info.signAlgorithmName = key->signAlgorithm().name();
    info.digestAlgorithmName = key->digestAlgorithm().name();
    info.algParamsName = gost3410ParamName(key->signAlgorithm(), key->algParamsOid());
    info.cryptoType = key->cryptoType();
    info.cryptoName = std::string(crypto::getName(info.cryptoType));
    info.loginRequired = !store->isKeyPasswordSet(key);
    info.hasPassword = key->hasPassword();
    info.rsaKeyBits = 0;
    return info;
}

// ---- crypto means ---------------------------------------------------------

std::vector<std::string> CryptoProviderRU::availableCrypto(const std::vector<std::string>& filter)
{
    return getAvailableCrypto(filter);
}

std::string CryptoProviderRU::cryptoTypeVersion(std::string_view cryptoType)
{
    bs::Logger log("CryptoProviderRU::cryptoTypeVersion");
    crypto::checkKnown(cryptoType);
    try {
        return crypto::getVersion(cryptoType, cachedKeyStores());
    } catch (const DeviceNotFound&) {
        // The device may have been attached since the last listing.
    } catch (const std::exception& e) {
        log.error(e.what());
        return "null";
    }
    try {
        keyStoreList(cryptoType == "ovt" ? KeyStoreType::VelToken : KeyStoreType::HardwareDevice);
    } catch (const std::exception& e) {
        log.error(e.what());
    }
    try {
        return crypto::getVersion(cryptoType, cachedKeyStores());
    } catch (const std::exception& e) {
        log.error(e.what());
        return "null";
    }
}

CryptoTypeInfo CryptoProviderRU::getCryptoTypeInfo(std::string_view cryptoType)
{
    bs::Logger log("CryptoProviderRU::getCryptoTypeInfo");
    return crypto::getCryptoTypeInfo(cryptoType);
}

// ---- key stores -------------------------------------------------------------

std::vector<std::string> CryptoProviderRU::keyStoreList(KeyStoreType type)
{
    bs::Logger log("CryptoProviderRU::keyStoreList");
    if (type != KeyStoreType::HardwareDevice && type != KeyStoreType::VelToken) {
        return crypto::getContainers(type);
    }
    std::vector<std::shared_ptr<KeyStore>> stores;
    for (const provider::CardInReader& card :
         provider::cardsInReaders(false, "CryptoProviderRU::keyStoreList")) {
        if (type == KeyStoreType::VelToken) {
            if (auto token = provider::velTokenAt(card.reader, card.atr)) {
                stores.push_back(std::move(token));
            }
            continue;
        }
        try {
            stores.push_back(getHardwareDevice(card.reader, card.atr));
        } catch (const std::exception& e) {
            log.error(e.what());
        }
    }
    std::vector<std::string> ids;
    for (const auto& store : stores) {
        ids.push_back(store->id());
        cacheKeyStore(store);
    }
    {
        std::lock_guard lock(m_stateMutex);
        std::erase_if(m_keyStores, [&](const auto& entry) {
            return entry.second->type() == type &&
                   std::find(ids.begin(), ids.end(), entry.first) == ids.end();
        });
    }
    log.info(bs::join(ids, ","));
    return ids;
}

std::shared_ptr<KeyStore> CryptoProviderRU::initCurrentKeyStore(KeyStoreType type, std::string_view id,
                                                                bool createNew)
{
    bs::Logger log("CryptoProviderRU::initCurrentKeyStore");
    switch (type) {
    case KeyStoreType::CryptoProContainer:
        return provider::openCspContainer(type, id, createNew);
    case KeyStoreType::HardwareDevice:
    case KeyStoreType::VelToken: {
        // Listed by selectKeyStore before it took the process-wide lock.
        std::lock_guard lock(m_stateMutex);
        auto found = m_keyStores.find(std::string(id));
        if (found == m_keyStores.end()) {
            bs::logAndThrow(log, DeviceNotFound(std::string(id)));
        }
        return found->second;
    }
    }
    bs::logAndThrow(log, KeyStoreNotSelected());
}

std::shared_ptr<KeyStore> CryptoProviderRU::cachedKeyStore(KeyStoreType type, std::string_view id) const
{
    std::lock_guard lock(m_stateMutex);
    auto found = m_keyStores.find(std::string(id));
    return found != m_keyStores.end() && found->second->type() == type ? found->second : nullptr;
}

void CryptoProviderRU::leaveKeyStore(std::string_view id)
{
    std::lock_guard lock(m_stateMutex);
    if (id != m_currentKeyStoreId) {
        m_currentKeyAlias.clear();
    }
    m_currentKeyStoreId.clear();
}

void CryptoProviderRU::selectKeyStore(KeyStoreType type, std::string_view id, bool createNew)
{
    bs::Logger log("CryptoProviderRU::selectKeyStore");
    log.info("type:" + std::to_string(static_cast<std::int32_t>(type)));
    log.info(id);
    const bool device = type == KeyStoreType::HardwareDevice || type == KeyStoreType::VelToken;
    if (device && !cachedKeyStore(type, id)) {
        // The walk over the readers asks every module and card; it takes no
        // process-wide lock, so a device that is slow to answer holds up only
        // this call. A failed listing leaves no store selected.
        try {
            keyStoreList(type);
        } catch (...) {
            leaveKeyStore(id);
            throw;
        }
    }
    std::lock_guard lock(m_mutex);
    leaveKeyStore(id);
    std::shared_ptr<KeyStore> store = cachedKeyStore(type, id);
    if (!store) {
        store = initCurrentKeyStore(type, id, createNew);
    }
    if (type != KeyStoreType::CryptoProContainer) {
        std::lock_guard stateLock(m_stateMutex);
        m_currentKeyStoreId = id;
        return;
    }
    // A container may have got a new name when it was made.
    const std::string storeId = store->id();
    std::string firstAlias;
    if (!createNew) {
        const KeyStore::Keys keys = store->getKeysList();
        if (!keys.empty()) {
            firstAlias = keys.begin()->first;
        }
    }
    cacheKeyStore(store);
    std::lock_guard stateLock(m_stateMutex);
    m_currentKeyStoreId = storeId;
    if (!firstAlias.empty()) {
        m_currentKeyAlias = firstAlias;
    }
}

void CryptoProviderRU::forgetKeyStore()
{
    std::lock_guard lock(m_mutex);
    std::lock_guard stateLock(m_stateMutex);
    m_currentKeyStoreId.clear();
    m_currentKeyAlias.clear();
}

std::string CryptoProviderRU::getKeyStoreId()
{
    return currentKeyStoreId();
}

KeyStoreInfo CryptoProviderRU::getKeyStoreInfo()
{
    std::lock_guard lock(m_mutex);
    const auto store = currentKeyStore();
    KeyStoreInfo info;
    info.type = static_cast<std::int32_t>(store->type());
    info.id = store->id();
    info.loginRequired = !store->isPinSet();
    info.userPinChanged = store->hasPinCode() && !store->isUserPinDefault();
    info.cryptoType = store->cryptoType();
    info.cryptoName = std::string(crypto::getName(info.cryptoType));
    if (const auto device = std::dynamic_pointer_cast<HardwareDevice>(store)) {
        info.chipType = crypto::makeChipTypeInfo(device->chipType(), device->package());
        info.shortName = device->shortName();
        info.userPinLocked = device->isUserPinBlocked();
        info.adminPinLocked = device->isAdminPinBlocked();
    }
    return info;
}

// ---- PIN and seeding ----------------------------------------------------------

void CryptoProviderRU::setPin(std::wstring_view pin)
{
    std::lock_guard lock(m_mutex);
    if (pin.empty()) {
        throw PinLengthRange();
    }
    currentKeyStore()->setPin(pin);
}

void CryptoProviderRU::changePin(std::wstring_view newPin)
{
    std::lock_guard lock(m_mutex);
    if (newPin.empty()) {
        throw PinLengthRange();
    }
    currentKeyStore()->changePin(newPin);
}

bool CryptoProviderRU::needInitRND()
{
    return currentKeyStore()->needInitRND();
}

void CryptoProviderRU::initRND(InitRndCallback callback)
{
    currentKeyStore()->initRND(callback);
}

// ---- caches ---------------------------------------------------------------------

void CryptoProviderRU::clearKeyCache()
{
    try {
        std::lock_guard lock(m_mutex);
        currentKeyStore()->forgetKey(currentKey());
    } catch (const std::exception&) {
        // Nothing selected, or the key is gone: nothing cached to drop.
    }
}

void CryptoProviderRU::clearKeyStoreCache()
{
    bs::Logger log("CryptoProviderRU::clearCurrentKeyStoreCache");
    clearKeyCache();
    try {
        std::lock_guard lock(m_mutex);
        currentKeyStore()->clearCache();
    } catch (const std::exception& e) {
        log.error(e.what());
    }
}

void CryptoProviderRU::clearCache()
{
    clearKeyCache();
    try {
        std::lock_guard lock(m_mutex);
        for (const auto& [id, store] : cachedKeyStores()) {
            store->clearCache();
        }
    } catch (const std::exception&) {
        // The walk stops at the first store that fails.
    }
}

std::shared_ptr<ICryptoProvider> getCryptoProvider()
{
    return std::make_shared<CryptoProviderRU>();
}
