// A key container of a CSP as a key store: at most one key pair, opened
// through the CSP's handles; the key's certificate is the one stored with
// the key, else the one of the current user's store "MY" that carries the
// key's public key.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "asn1/bytes.h"
#include "capi/handles.h"
#include "cryptoprovider/core/key_record.h"
#include "cryptoprovider/core/key_store.h"

namespace capi
{

// A key record that owns the open key of its container. A record is not
// changed once it is listed: a refresh makes a new record that shares the
// open key. The key's handles are used by one thread at a time: callers hold
// lock() around every use.
class CspKeyRecord : public KeyRecord
{
  public:
    explicit CspKeyRecord(Key key);
    // A record of the same open key, its facts still to be read.
    static std::shared_ptr<CspKeyRecord> sharingKeyOf(const CspKeyRecord& record);

    // Fills the record from the CSP: the alias is the provider text
    // parameter `aliasParam` (CP1251), the parameter set the key parameter
    // `paramsParam` (GOST keys only), the sign algorithm the key's own, and
    // the certificate the one stored with the key (KP_CERTIFICATE), else the
    // one found in "MY" by the key's public key, else none. CSP failures
    // through handleError; the record is changed only when every read
    // succeeded.
    void updateInfo(unsigned int aliasParam, unsigned int paramsParam, std::string_view cryptoType);

    const Key& key() const noexcept { return m_open->key; }
    std::unique_lock<std::mutex> lock() const { return std::unique_lock(m_open->mutex); }

  private:
    struct OpenKey {
        explicit OpenKey(Key openKey) : key(std::move(openKey)) {}
        Key key;
        std::mutex mutex;
    };
    explicit CspKeyRecord(std::shared_ptr<OpenKey> open);

    std::shared_ptr<OpenKey> m_open;
};

// The CspKeyRecord behind `key`; std::logic_error "not csp key" for a
// record of another kind (or none).
std::shared_ptr<CspKeyRecord> cspKey(const std::shared_ptr<KeyRecord>& key);
// The key specification of the record's key (KP_KEYSPEC).
DWORD getKeySpec(const std::shared_ptr<KeyRecord>& key);

class Container : public KeyStore
{
  public:
    // `isNew`: the object stands for a container createNewKey will make.
    Container(PROV_TYPE provType, bool isNew);

    // --- what a CSP makes of a container ---
    // 75 for the GOST R 34.10-2001 family, 80 and 81 for GOST R
    // 34.10-2012-256/-512; UnsupportedAlgorithm for any other.
    virtual PROV_TYPE providerTypeByAlgorithm(const AlgorithmId& algorithm) const;
    virtual bool isAlgParamsValid(const AlgorithmId& algorithm, std::string_view paramsOid) const = 0;
    // The key parameter holding the key's parameter-set OID.
    virtual unsigned int signParamsOid() const = 0;
    // The provider parameter holding the key's alias.
    virtual unsigned int keyAliasParam() const = 0;

    // The container's unique name (the store id); KeyNotFound while the
    // container is still to be made.
    std::string containerId() const;
    bool isNew() const;
    PROV_TYPE provType() const;
    void setProvType(PROV_TYPE provType);
    // The container's key (read from the CSP when the list is empty);
    // KeyNotFound when it has none.
    std::shared_ptr<KeyRecord> key();

    // --- KeyStore ---
    // The CSP asks for its own PINs and passwords.
    bool isPinSet() override;
    void setPin(std::wstring_view pin) override;
    void changePin(std::wstring_view newPin) override;
    void setKeyPassword(const std::shared_ptr<KeyRecord>& key, std::wstring_view password) override;
    bool isKeyPasswordSet(const std::shared_ptr<KeyRecord>& key) override;
    // Makes the container (named `alias`) with a new key pair and takes its
    // unique name as the id. Only a new container takes a key
    // (std::runtime_error "CP-012002"); Gost3410ECParamsUnsupported when
    // isAlgParamsValid refuses. A failure leaves the store as it was and no
    // container behind.
    std::shared_ptr<KeyRecord> createNewKey(std::string_view alias, std::uint16_t systemId,
                                            const AlgorithmId& signAlgorithm, std::string_view algParamsOid,
                                            std::string_view text, std::wstring_view password) override;
    std::shared_ptr<KeyRecord> createNewRsaKey(std::string_view alias, std::uint16_t systemId,
                                               std::wstring_view password, std::uint16_t bits) override;
    void setKeyExternalId(const std::shared_ptr<KeyRecord>& key, std::uint64_t externalId) override;
    void changeKeyAlias(const std::shared_ptr<KeyRecord>& key, std::string_view newAlias) override;
    void changeKeyPass(const std::shared_ptr<KeyRecord>& key, std::wstring_view newPassword) override;
    // Deletes the container from the CSP, then drops the record.
    void deleteKey(const std::shared_ptr<KeyRecord>& key) override;
    // Stores the certificate with the key (KP_CERTIFICATE) and in the
    // current user's store "MY" bound to the container's key; returns
    // X509::DEFAULT_CERT_ID.
    bytes importUserCertificate(const std::shared_ptr<KeyRecord>& key, const bytes& der) override;
    void deleteUserCertificate(const std::shared_ptr<KeyRecord>& key) override;
    bytes importCertificate(const bytes& der, CertType type) override;
    void deleteCertificate(const bytes& id, CertType type) override;
    // The container's key, whatever the id.
    std::shared_ptr<KeyRecord> findKeyByCertificate(const bytes& certificateId, bool useList) override;
    // CertificateNotFound when the key has none.
    X509 findCertificateByKey(const std::shared_ptr<KeyRecord>& key) override;
    // The key's public value X then Y, each coordinate big-endian
    // (KeyStore::publicKey gives the certificate's octets).
    bytes getPublicKey(const std::shared_ptr<KeyRecord>& key) override;
    RsaPublicKey getRsaPublicKey(const std::shared_ptr<KeyRecord>& key) override;
    // The key's certificate for the user's list, else nothing.
    std::vector<X509> certificateList(CertType type) override;
    // Opens the container's key when the list lacks it, refreshes it
    // otherwise; a container still to be made has no key.
    void updateKeysInfo() override;
    // One signature per item, s then r with each half big-endian: the CSP's
    // halves (little-endian) reversed one by one. KeyStore::cmsSign signs
    // the attributes of a GOST key through it, of an RSA key through rsaSign.
    std::vector<bytes> sign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                            bool kalvaMode) override;
    // PKCS#1 v1.5 signatures (big-endian) over the digest of each item.
    std::vector<bytes> rsaSign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                               const std::vector<AlgorithmId>& digestAlgorithms) override;

    using KeyStore::rawSign;

  protected:
    // The CSP's signature of `data` with the key: the digest is made with
    // this store's digest engine (GOST R 34.11-94 with the parameter set of
    // `kalvaMode`), set into a hash of the key's provider and signed there.
    bytes rawSign(const CspKeyRecord& key, const bytes& data, const AlgorithmId& digestAlgorithm,
                  bool kalvaMode);

  private:
    std::shared_ptr<KeyRecord> createKey(std::string_view alias, const AlgorithmId& algorithm,
                                         std::string_view paramsOid, std::wstring_view password,
                                         unsigned int rsaBits);

    // Serialises making, deleting and re-reading the container's key.
    std::mutex m_changeMutex;
    // Guards the fields below.
    mutable std::mutex m_stateMutex;
    PROV_TYPE m_provType;
    bool m_isNew;
};

} // namespace capi
