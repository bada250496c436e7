// A provider with a software key store in its cache, for the provider logic
// that needs no device: the store keeps GOST R 34.10-2012 keys in libgcrypt
// and records what the provider asked of it.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/provider/crypto_provider_ru.h"
#include "soft_store.h"

namespace providertest
{

// The catalogue code a call throws; "" when it returns.
inline std::string codeOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const bs::LookedUpError& e) {
        return e.errorCode();
    } catch (const bs::ComposedError& e) {
        return e.errorCode();
    }
    return "";
}

// The soft store with the key changes and certificate operations the
// provider hands on, each recorded.
class ProviderStore : public softstore::SoftKeyStore
{
  public:
    using SoftKeyStore::SoftKeyStore;

    void changeKeyAlias(const std::shared_ptr<KeyRecord>& key, std::string_view newAlias) override
    {
        renamedTo.emplace_back(newAlias);
        auto node = deviceKeys.extract(key->alias());
        auto gost = deviceGostKeys.extract(key->alias());
        key->setAlias(newAlias);
        node.key() = key->alias();
        gost.key() = key->alias();
        deviceKeys.insert(std::move(node));
        deviceGostKeys.insert(std::move(gost));
    }
    void deleteKey(const std::shared_ptr<KeyRecord>& key) override
    {
        deviceKeys.erase(key->alias());
        deviceGostKeys.erase(key->alias());
        removeKeyRecord(key);
    }
    bytes importUserCertificate(const std::shared_ptr<KeyRecord>&, const bytes& der) override
    {
        importedUserCertificates.push_back(der);
        return {0x00, 0x07};
    }
    void deleteUserCertificate(const std::shared_ptr<KeyRecord>& key) override
    {
        deletedUserCertificates.push_back(key->alias());
    }
    X509 findCertificateByKey(const std::shared_ptr<KeyRecord>& key) override
    {
        ++certificateLookups;
        return SoftKeyStore::findCertificateByKey(key);
    }

    std::vector<std::string> renamedTo;
    std::vector<bytes> importedUserCertificates;
    std::vector<std::string> deletedUserCertificates;
    int certificateLookups = 0;
};

// A provider that can be handed a store, as a listing of the readers would.
class TestProvider : public CryptoProviderRU
{
  public:
    using CryptoProviderRU::cacheKeyStore;
};

} // namespace providertest
