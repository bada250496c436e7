// The provider of the Russian crypto means: tokens through PKCS#11, the
// confirmation token through PC/SC and containers of the CSP.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "cryptoprovider/provider/crypto_provider.h"

class KeyStore;

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

  private:
    // The selected store; KeyStoreNotSelected when none is.
    std::shared_ptr<KeyStore> currentKeyStore();
    // Checks that a key is selected (KeyNotSelected) on a selected store.
    std::shared_ptr<KeyStore> requireKey();

    std::string currentKeyStoreId() const;
    std::string currentKeyAlias() const;
    void setSelection(std::string storeId, std::string keyAlias);

    // Process-wide: key-store selection, PIN changes, key listing and key
    // changes of every provider run one at a time.
    static std::mutex m_mutex;

    // Guards the members below, which Java threads sharing a session may
    // read and write at the same time.
    mutable std::mutex m_stateMutex;
    std::map<std::string, std::shared_ptr<KeyStore>> m_keyStores;
    std::string m_currentKeyStoreId;
    std::string m_currentKeyAlias;
    std::shared_ptr<DigestEngine> m_digestEngine;
};
