// The provider of the Russian crypto means: tokens through PKCS#11, the
// confirmation token through PC/SC and containers of the CSP. It keeps every
// key store it has met (by id), the selected store and key, and the digest
// in progress; every operation works on the selected store and key.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/logger.h"
#include "cryptoprovider/provider/crypto_provider.h"

class HardwareDevice;
class KeyRecord;
class KeyStore;
class VerifySignEngine;

class CryptoProviderRU : public ICryptoProvider
{
  public:
    CryptoProviderRU() = default;
    ~CryptoProviderRU() override;

    void clearCache() override;
    std::vector<std::string> availableCrypto(const std::vector<std::string>& filter) override;
    std::string cryptoTypeVersion(std::string_view cryptoType) override;
    CryptoTypeInfo getCryptoTypeInfo(std::string_view cryptoType) override;
    std::vector<std::string> keyStoreList(KeyStoreType type) override;
    void selectKeyStore(KeyStoreType type, std::string_view id, bool createNew) override;
    void clearKeyStoreCache() override;
    void forgetKeyStore() override;
    std::string getKeyStoreId() override;
    KeyStoreInfo getKeyStoreInfo() override;
    void setPin(std::wstring_view pin) override;
    void changePin(std::wstring_view newPin) override;
    bool needInitRND() override;
    void initRND(InitRndCallback callback) override;
    void createNewKey(const KeyInfo& keyInfo, std::wstring_view password) override;
    std::vector<KeyInfo> getKeys() override;
    KeyInfo setKey(std::string_view alias) override;
    void clearKeyCache() override;
    void forgetKey() override;
    KeyInfo getKeyInfo() override;
    void setKeyPassword(std::wstring_view password) override;
    void setKeyExternalId(std::uint64_t externalId) override;
    void changeKeyAlias(std::string_view newAlias) override;
    void changeKeyPassword(std::wstring_view newPassword) override;
    void deleteKey() override;
    std::vector<bytes> rawSign(const std::vector<bytes>& data, bool kalvaMode,
                               const std::vector<AlgorithmId>& rsaDigests) override;
    std::vector<bytes> cmsSign(const std::vector<DataForSign>& items, bool kalvaMode) override;
    PublicKey getPublicKey(bool kalvaMode) override;
    SubjectPublicKeyInfo getSubjectPublicKeyInfo() override;
    bool verifyRawSign(const bytes& data, const bytes& sign, const PublicKey& publicKey,
                       std::string_view signAlgorithmOid, std::string_view paramSet,
                       std::string_view cryptoType, bool kalvaMode) override;
    bool verifyDetachedSign(const bytes& data, const bytes& cms, std::string_view cryptoType, bool kalvaMode,
                            const PublicKey& publicKey, std::string_view paramSet) override;
    bool verifyAttachedSign(const bytes& cms, std::string_view cryptoType, bool kalvaMode,
                            const PublicKey& publicKey, std::string_view paramSet) override;
    X509 createSelfSignedCertificate(const bytes& request, std::uint64_t serialNumber,
                                     const ValidityPeriod& period) override;
    bytes importCertificate(const bytes& certificate, CertType type) override;
    void deleteCertificate(const bytes& id, CertType type) override;
    std::vector<X509> certificates(CertType type) override;
    KeyInfo setKeyByCertificate(const bytes& id) override;
    X509 getCertificate() override;
    bytes createPkcs10(const SubjectDN& subject, Extensions& extensions, bool der,
                       const AlgorithmId& rsaDigest) override;
    bytes pkcs10Sign(const bytes& requestInfo, bool der, const AlgorithmId& rsaDigest) override;
    bool verifyPkcs10Sign(const bytes& request, std::string_view cryptoType) override;
    bytes confirm(const bytes& data, const std::vector<Pkcs9Attribute>& attributes) override;
    void initDigestEngine(std::string_view cryptoType) override;
    std::shared_ptr<DigestEngine> digestEngine() override;

  protected:
    // Keeps `store` under its id unless a store with that id is cached
    // already (a cached store keeps its object, and with it its cached PIN).
    void cacheKeyStore(const std::shared_ptr<KeyStore>& store);

  private:
    using KeyStores = std::map<std::string, std::shared_ptr<KeyStore>>;

    // The selected store; KeyStoreNotSelected (logged) when none is.
    std::shared_ptr<KeyStore> currentKeyStore();
    // The selected key of the selected store: KeyNotSelected (logged)
    // without one, KeyNotFound when the store no longer has it.
    std::shared_ptr<KeyRecord> currentKey();
    // The caller's view of a key; KeyNotFound for a null key.
    static KeyInfo keyInfoOf(const std::shared_ptr<KeyStore>& store, const std::shared_ptr<KeyRecord>& key);
    // A trimmed alias a new or renamed key may take: valid symbols and not
    // used by another key of the selected store (KeyAliasAlreadyExist).
    void checkNewAlias(const std::string& alias);
    // Opens the container, or finds the device among the stores the listing
    // of selectKeyStore cached (DeviceNotFound when it is not there).
    std::shared_ptr<KeyStore> initCurrentKeyStore(KeyStoreType type, std::string_view id, bool createNew);
    // The first step of a selection: no store selected, and no key unless
    // the store to select is the one selected now.
    void leaveKeyStore(std::string_view id);
    // The cached store of this id and type; null when there is none.
    std::shared_ptr<KeyStore> cachedKeyStore(KeyStoreType type, std::string_view id) const;
    // The verifier of a crypto type: a token of that type (which the call
    // selects as this session's store) or the software verifier.
    std::shared_ptr<VerifySignEngine> verifySignEngine(std::string_view cryptoType);
    // The first cached device of the crypto type, after one fresh listing
    // of the readers when none is cached; DeviceNotFound otherwise.
    std::shared_ptr<HardwareDevice> getAnyHardwareDevice(std::string_view cryptoType);
    // Throws AccessDenied (logged) for a key the store does not let change.
    static void requireChangeable(const KeyRecord& key, const bs::Logger& log);

    KeyStores cachedKeyStores() const;
    std::string currentKeyStoreId() const;
    std::string currentKeyAlias() const;
    void setCurrentKeyAlias(std::string alias);

    // Process-wide: key-store selection, PIN changes, key listing and key
    // changes of every provider run one at a time. Not recursive: operations
    // that hold it call only the private helpers above, which never take it.
    // The walk over the readers (every module's slot scan, every card's
    // answers) runs without it: selectKeyStore lists before taking it.
    static std::mutex m_mutex;

    // Guards the members below, which Java threads sharing a session may
    // read and write at the same time. Never held while a key store works.
    mutable std::mutex m_stateMutex;
    KeyStores m_keyStores;
    std::string m_currentKeyStoreId;
    std::string m_currentKeyAlias;
    std::shared_ptr<DigestEngine> m_digestEngine;
};
