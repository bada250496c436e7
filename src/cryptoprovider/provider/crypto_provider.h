// The per-session crypto provider: it remembers the selected key store and
// key and carries out every operation of the Java interface on them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/asn1_time.h"
#include "asn1/bytes.h"
#include "cryptoprovider/core/crypto_types.h"
#include "cryptoprovider/core/entities.h"
#include "x509/algorithms.h"
#include "x509/cert_builder.h"
#include "x509/extensions.h"
#include "x509/public_key.h"
#include "x509/subject_dn.h"
#include "x509/x509.h"

class DigestEngine;

// Callback of the key-press random generator seeding.
using InitRndCallback = int (*)(int, int, int, void*);

class ICryptoProvider
{
  public:
    ICryptoProvider() = default;
    ICryptoProvider(const ICryptoProvider&) = delete;
    ICryptoProvider& operator=(const ICryptoProvider&) = delete;
    virtual ~ICryptoProvider() = default;

    virtual void clearCache() = 0;
    virtual std::vector<std::string> availableCrypto(const std::vector<std::string>& filter) = 0;
    virtual std::string cryptoTypeVersion(std::string_view cryptoType) = 0;
    virtual CryptoTypeInfo getCryptoTypeInfo(std::string_view cryptoType) = 0;
    virtual std::vector<std::string> keyStoreList(KeyStoreType type) = 0;
    virtual void selectKeyStore(KeyStoreType type, std::string_view id, bool createNew) = 0;
    virtual void clearKeyStoreCache() = 0;
    virtual void forgetKeyStore() = 0;
    virtual std::string getKeyStoreId() = 0;
    virtual KeyStoreInfo getKeyStoreInfo() = 0;
    virtual void setPin(std::wstring_view pin) = 0;
    virtual void changePin(std::wstring_view newPin) = 0;
    virtual bool needInitRND() = 0;
    virtual void initRND(InitRndCallback callback) = 0;
    virtual void createNewKey(const KeyInfo& keyInfo, std::wstring_view password) = 0;
    virtual std::vector<KeyInfo> getKeys() = 0;
    virtual KeyInfo setKey(std::string_view alias) = 0;
    virtual void clearKeyCache() = 0;
    virtual void forgetKey() = 0;
    virtual KeyInfo getKeyInfo() = 0;
    virtual void setKeyPassword(std::wstring_view password) = 0;
    virtual void setKeyExternalId(std::uint64_t externalId) = 0;
    virtual void changeKeyAlias(std::string_view newAlias) = 0;
    virtual void changeKeyPassword(std::wstring_view newPassword) = 0;
    virtual void deleteKey() = 0;
    virtual std::vector<bytes> rawSign(const std::vector<bytes>& data, bool kalvaMode,
                                       const std::vector<AlgorithmId>& rsaDigests) = 0;
    virtual std::vector<bytes> cmsSign(const std::vector<DataForSign>& items, bool kalvaMode) = 0;
    virtual PublicKey getPublicKey(bool kalvaMode) = 0;
    virtual SubjectPublicKeyInfo getSubjectPublicKeyInfo() = 0;
    virtual bool verifyRawSign(const bytes& data, const bytes& sign, const PublicKey& publicKey,
                               std::string_view signAlgorithmOid, std::string_view paramSet,
                               std::string_view cryptoType, bool kalvaMode) = 0;
    virtual bool verifyDetachedSign(const bytes& data, const bytes& cms, std::string_view cryptoType,
                                    bool kalvaMode, const PublicKey& publicKey,
                                    std::string_view paramSet) = 0;
    virtual bool verifyAttachedSign(const bytes& cms, std::string_view cryptoType, bool kalvaMode,
                                    const PublicKey& publicKey, std::string_view paramSet) = 0;
    virtual X509 createSelfSignedCertificate(const bytes& request, std::uint64_t serialNumber,
                                             const ValidityPeriod& period) = 0;
    virtual bytes importCertificate(const bytes& certificate, CertType type) = 0;
    virtual void deleteCertificate(const bytes& id, CertType type) = 0;
    virtual std::vector<X509> certificates(CertType type) = 0;
    virtual KeyInfo setKeyByCertificate(const bytes& id) = 0;
    virtual X509 getCertificate() = 0;
    virtual bytes createPkcs10(const SubjectDN& subject, Extensions& extensions, bool der,
                               const AlgorithmId& rsaDigest) = 0;
    virtual bytes pkcs10Sign(const bytes& requestInfo, bool der, const AlgorithmId& rsaDigest) = 0;
    virtual bool verifyPkcs10Sign(const bytes& request, std::string_view cryptoType) = 0;
    virtual bytes confirm(const bytes& data, const std::vector<Pkcs9Attribute>& attributes) = 0;
    virtual void initDigestEngine(std::string_view cryptoType) = 0;
    virtual std::shared_ptr<DigestEngine> digestEngine() = 0;
};

// A new provider for one session.
std::shared_ptr<ICryptoProvider> getCryptoProvider();
