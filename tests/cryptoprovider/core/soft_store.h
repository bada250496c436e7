// Test doubles of the back ends: a digest engine and a verification engine
// over libgcrypt, and a key store whose keys are libgcrypt GOST R 34.10-2012
// keys. They follow the token conventions: digests "as produced" are the
// byte reversal of the CMS form, public keys are X||Y with big-endian
// coordinates, raw signatures are r||s.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/key_store.h"
#include "cryptoprovider/core/verify_sign_engine.h"
#include "support/gost_soft.h"

namespace softstore
{

using gostsoft::Bytes;

// Digests of libgcrypt: GOST R 34.11-94 (test or CryptoPro set by the
// parameter text), Streebog, SHA-1, SHA-256 and SHA-512.
class SoftDigestEngine : public DigestEngine
{
  public:
    SoftDigestEngine();
    ~SoftDigestEngine() override;
    void init(const AlgorithmId& digestAlgorithm, std::string_view paramsOid) override;
    void update(const bytes& data) override;
    bytes doFinal(Endian endian) override;

    int updates = 0;

  private:
    struct Handle;
    std::unique_ptr<Handle> m_handle;
    bool m_gost = false;
};

// GOST R 34.10-2012 verification by libgcrypt.
class SoftVerifyEngine : public VerifySignEngine
{
  public:
    SoftVerifyEngine() : VerifySignEngine(std::make_shared<SoftDigestEngine>()) {}
    bool verifyGostSign(const bytes& data, const bytes& signature, const bytes& publicKey,
                        const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                        bool kalvaMode) override;
};

// And RSA PKCS#1 v1.5 verification by libgcrypt (SHA-1, SHA-256, SHA-512).
class SoftRsaVerifyEngine : public SoftVerifyEngine
{
  public:
    bool verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                       const AlgorithmId& digestAlgorithm) override;
};

// Public key as the test store's back end returns it (coordinates
// big-endian) for a certificate-form key (coordinates little-endian).
Bytes backendPublicKey(const gostsoft::Key& key);

struct Calls {
    int updateKeysInfo = 0;
    int getPublicKey = 0;
    std::map<CertType, int> certificateList;
    int sign = 0;
};

class SoftKeyStore : public KeyStore
{
  public:
    explicit SoftKeyStore(std::string cryptoType = "rutoken_2") : m_cryptoType(std::move(cryptoType)) {}

    // A key on the "device"; it reaches the key list at the next refresh.
    std::shared_ptr<KeyRecord> addDeviceKey(const std::string& alias,
                                            std::shared_ptr<const gostsoft::Key> key,
                                            const X509& certificate = X509());

    std::string cryptoType() const override { return m_cryptoType; }
    KeyStoreType type() const override { return KeyStoreType::CryptoProContainer; }
    bool isPinSet() override { return !hasPinCode() || pinCached(); }
    void setPin(std::wstring_view pin) override { setCachedPin(pin); }
    void changePin(std::wstring_view) override { unused(); }
    void setKeyPassword(const std::shared_ptr<KeyRecord>& key, std::wstring_view password) override
    {
        setCachedPassword(key->alias(), password);
    }
    std::shared_ptr<KeyRecord> createNewKey(std::string_view, std::uint16_t, const AlgorithmId&,
                                            std::string_view, std::string_view, std::wstring_view) override
    {
        unused();
    }
    void setKeyExternalId(const std::shared_ptr<KeyRecord>& key, std::uint64_t id) override
    {
        key->setExternalId(id);
    }
    void changeKeyAlias(const std::shared_ptr<KeyRecord>&, std::string_view) override { unused(); }
    void changeKeyPass(const std::shared_ptr<KeyRecord>&, std::wstring_view) override { unused(); }
    void deleteKey(const std::shared_ptr<KeyRecord>&) override { unused(); }
    std::shared_ptr<DigestEngine> digestEngine() override { return std::make_shared<SoftDigestEngine>(); }
    bytes importUserCertificate(const std::shared_ptr<KeyRecord>&, const bytes&) override { unused(); }
    void deleteUserCertificate(const std::shared_ptr<KeyRecord>&) override { unused(); }
    bytes importCertificate(const bytes&, CertType) override { unused(); }
    void deleteCertificate(const bytes&, CertType) override { unused(); }
    std::shared_ptr<KeyRecord> findKeyByCertificate(const bytes&, bool) override { unused(); }
    X509 findCertificateByKey(const std::shared_ptr<KeyRecord>& key) override;
    bool verifySign(const bytes&, const bytes&, const bytes&, const AlgorithmId&, std::string_view,
                    bool) override
    {
        unused();
    }
    bytes getPublicKey(const std::shared_ptr<KeyRecord>& key) override;
    std::vector<X509> certificateList(CertType type) override;
    void updateKeysInfo() override;
    std::vector<bytes> sign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                            bool kalvaMode) override;

    // Device contents the tests arrange.
    std::map<std::string, std::shared_ptr<KeyRecord>> deviceKeys;
    std::map<std::string, std::shared_ptr<const gostsoft::Key>> deviceGostKeys;
    std::map<CertType, std::vector<X509>> deviceCertificates;
    std::set<CertType> failingCertificateLists;
    Calls calls;

  private:
    [[noreturn]] static void unused() { throw std::logic_error("not used by these tests"); }

    std::string m_cryptoType;
};

} // namespace softstore
