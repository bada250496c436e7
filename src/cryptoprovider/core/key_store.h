// The abstract key store: a PKCS#11 token, the confirmation token or a CSP
// key container. Back ends supply the device primitives; the base keeps the
// key list, the masked PIN and password caches, the public-key and
// certificate caches (key_store.cpp), and builds raw, CMS and PKCS#10
// signing on the back end's primitives (key_store_signing.cpp): the CMS
// messages of every back end are made here, over its signAttributes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"
#include "cryptoprovider/core/crypto_types.h"
#include "cryptoprovider/core/entities.h"
#include "cryptoprovider/core/key_record.h"
#include "cryptoprovider/core/masked_secret.h"
#include "icrypto/endian.h"
#include "pkcs7/attributes.h"
#include "pkcs7/pkcs7.h"
#include "x509/algorithms.h"
#include "x509/cert_builder.h"
#include "x509/extensions.h"
#include "x509/gost_signature.h"
#include "x509/public_key.h"
#include "x509/subject_dn.h"
#include "x509/x509.h"

class DigestEngine;

// Callback of the key-press random generator seeding.
using InitRndCallback = int (*)(int, int, int, void*);

// The form in which aliases are compared: the control characters backspace,
// tab, line feed, form feed and carriage return become the letters b, t, n,
// f and r, and every slash and backslash is dropped.
std::string prepareAliasForCheck(std::string_view alias);

// The one exchange of GOST signature halves (x509/gost_signature.h), also
// under its plain name for the key stores and their tests.
using gost::swapSignatureHalves;

class KeyStore
{
  public:
    using Keys = std::map<std::string, std::shared_ptr<KeyRecord>>;

    KeyStore();
    KeyStore(const KeyStore&) = delete;
    KeyStore& operator=(const KeyStore&) = delete;
    virtual ~KeyStore();

    virtual std::string cryptoType() const = 0;
    virtual KeyStoreType type() const = 0;
    virtual bool isPinSet() = 0;
    virtual void setPin(std::wstring_view pin) = 0;
    virtual void changePin(std::wstring_view newPin) = 0;
    // Fills the subject-sign-tool text of `extensions` with the crypto type's
    // name when it is asked for and empty, then signs the request info.
    virtual bytes createPkcs10(const std::shared_ptr<KeyRecord>& key, const SubjectDN& subject,
                               Extensions& extensions, bool der, const AlgorithmId& rsaDigest);
    // The request DER, or its PEM text when `der` is false.
    virtual bytes pkcs10Sign(const std::shared_ptr<KeyRecord>& key, const bytes& requestInfo, bool der,
                             const AlgorithmId& rsaDigest);
    virtual void setKeyPassword(const std::shared_ptr<KeyRecord>& key, std::wstring_view password) = 0;
    virtual std::shared_ptr<KeyRecord> createNewKey(std::string_view alias, std::uint16_t systemId,
                                                    const AlgorithmId& signAlgorithm,
                                                    std::string_view algParamsOid, std::string_view text,
                                                    std::wstring_view password) = 0;
    virtual std::shared_ptr<KeyRecord> createNewRsaKey(std::string_view alias, std::uint16_t systemId,
                                                       std::wstring_view password, std::uint16_t bits);
    virtual void setKeyExternalId(const std::shared_ptr<KeyRecord>& key, std::uint64_t externalId) = 0;
    virtual void changeKeyAlias(const std::shared_ptr<KeyRecord>& key, std::string_view newAlias) = 0;
    virtual void changeKeyPass(const std::shared_ptr<KeyRecord>& key, std::wstring_view newPassword) = 0;
    virtual void deleteKey(const std::shared_ptr<KeyRecord>& key) = 0;
    virtual bool isKeyPasswordSet(const std::shared_ptr<KeyRecord>& key);
    virtual bool needInitRND();
    virtual void initRND(InitRndCallback callback);
    virtual std::shared_ptr<DigestEngine> digestEngine() = 0;
    // One Pkcs7 per attribute set, in order: the DER of each set signed by
    // signAttributes under the digest algorithm signerDigestAlgorithm picks
    // for it (cms_assembly.h), with the key's certificate and external id.
    // KeyNotSelected without a key.
    virtual std::vector<Pkcs7> cmsSign(const std::shared_ptr<KeyRecord>& key,
                                       const std::vector<pkcs9::Attributes>& attributesList, bool kalvaMode);
    // Both return the identifier under which the store keeps the certificate.
    virtual bytes importUserCertificate(const std::shared_ptr<KeyRecord>& key, const bytes& der) = 0;
    virtual void deleteUserCertificate(const std::shared_ptr<KeyRecord>& key) = 0;
    virtual bytes importCertificate(const bytes& der, CertType type) = 0;
    virtual void deleteCertificate(const bytes& id, CertType type) = 0;
    virtual void importCertificateCrl(const bytes& crl);
    virtual std::shared_ptr<KeyRecord> findKeyByCertificate(const bytes& certificateId, bool useList) = 0;
    virtual X509 findCertificateByKey(const std::shared_ptr<KeyRecord>& key) = 0;
    // Empties the PIN, password, public-key, key and certificate caches; the
    // flags and the mask stay.
    virtual void clearCache();
    virtual void deleteCachedPin();
    virtual void deleteCachedPassword(std::string_view alias);
    // Drops the cached password and public key of one key.
    virtual void forgetKey(const std::shared_ptr<KeyRecord>& key);
    // PasswordRequired when no password is cached for the trimmed alias.
    virtual std::wstring getCachedPassword(std::string_view alias) const;
    // `paramsOid` is the public key's parameter set.
    virtual bool verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                            const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode) = 0;
    virtual RsaPublicKey getRsaPublicKey(const std::shared_ptr<KeyRecord>& key);
    // The GOST public key as the back end returns it.
    virtual bytes getPublicKey(const std::shared_ptr<KeyRecord>& key) = 0;
    virtual std::vector<X509> certificateList(CertType type) = 0;
    virtual std::wstring defaultUserPin() const;
    // Clears the default-PIN flag and caches the PIN masked.
    virtual void setCachedPin(std::wstring_view pin);
    virtual void setCachedPassword(std::string_view alias, std::wstring_view password);
    // The default user PIN while that flag is set; otherwise the cached PIN,
    // PinRequired when there is none.
    virtual std::wstring getCachedPin();
    // Re-reads the key list from the back end (replaceKeysList or
    // clearKeysList and addKeyRecord).
    virtual void updateKeysInfo() = 0;
    // One raw signature per item, each over the digest of the item, in the
    // back end's orientation.
    virtual std::vector<bytes> sign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                                    bool kalvaMode) = 0;
    virtual std::vector<bytes> rsaSign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                                       const std::vector<AlgorithmId>& digestAlgorithms);

    std::string id() const;
    void setId(std::string_view id);
    bool hasPinCode() const;
    void setHasPinCode(bool hasPinCode);
    bool isUserPinDefault() const;
    void setIsUserPinDefault(bool isDefault);

    // Refreshes the list from the back end, then returns a copy.
    Keys getKeysList();
    // A copy of the list as last read.
    Keys getKeys() const;
    // EmptyKeyAlias for a key without alias; replaces a key of the same alias.
    void addKeyRecord(const std::shared_ptr<KeyRecord>& key);
    void removeKeyRecord(const std::shared_ptr<KeyRecord>& key);
    void clearKeysList();

    // The first key whose alias compares equal (prepareAliasForCheck). With
    // `useList` the cached list is searched first and refreshed once when
    // nothing matches; without it the list is refreshed before the search.
    // KeyNotFound when nothing matches after the refresh.
    std::shared_ptr<KeyRecord> findKeyByAlias(std::string_view alias, bool useList);
    std::shared_ptr<KeyRecord> findKeyById(std::uint64_t externalId, bool useList);

    // The first certificate whose id equals `id` among the lists of `types`,
    // in order. The user's own list must be readable; other lists that fail
    // are skipped. With `useCache` cached lists are used and a miss is
    // retried once with fresh lists. CertificateNotFound when none matches.
    X509 findCertificate(const bytes& id, const std::vector<CertType>& types, bool useCache);
    // Asks the back end and caches the list.
    std::vector<X509> certificates(CertType type);
    // Cache only: adds a certificate unless an equal one is there; removes
    // every certificate with the id.
    void addX509(const X509& x509, CertType type);
    void removeX509(const bytes& id, CertType type);

    // The cached (or newly read) public key; GOST keys are returned with
    // each half reversed for Endian::Big.
    PublicKey publicKey(const std::shared_ptr<KeyRecord>& key, Endian endian);
    SubjectPublicKeyInfo getSubjectPublicKeyInfo(const std::shared_ptr<KeyRecord>& key);
    // GOST signatures have their halves exchanged unless kalvaMode; RSA keys
    // sign with `rsaDigests`.
    std::vector<bytes> rawSign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                               bool kalvaMode, const std::vector<AlgorithmId>& rsaDigests);
    // A digest with this store's digest engine.
    bytes digest(const bytes& data, const AlgorithmId& algorithm, Endian endian, std::string_view paramSet);
    bytes digest(const ContentSource& content, const AlgorithmId& algorithm, Endian endian,
                 std::string_view paramSet);

  protected:
    // The key itself; KeyNotSelected for none.
    static const std::shared_ptr<KeyRecord>& requireKey(const std::shared_ptr<KeyRecord>& key);
    // The back end's part of cmsSign: one signature per DER encoding of a
    // signed-attribute set, over its digest by the algorithm of the same
    // position, in the form the SignerInfo carries. The base signs GOST keys
    // through `sign` (which digests with the key's algorithm) and RSA keys
    // through `rsaSign`.
    virtual std::vector<bytes> signAttributes(const std::shared_ptr<KeyRecord>& key,
                                              const std::vector<bytes>& encodings,
                                              const std::vector<AlgorithmId>& digestAlgorithms,
                                              bool kalvaMode);
    // Installs a freshly read key list in one step.
    void replaceKeysList(Keys keys);
    // Whether getCachedPin gives a PIN (the default one or a cached one)
    // rather than PinRequired; the PIN itself is wiped at once.
    bool pinCached();

  private:
    // Guards the fields below; never held while a back-end operation runs.
    mutable std::mutex m_mutex;
    std::string m_id;
    bool m_hasPinCode = false;
    Keys m_keys;
    std::map<std::string, MaskedSecret> m_cachedPins;
    std::map<std::string, MaskedSecret> m_cachedPasswords;
    std::wstring m_mask;
    std::map<std::string, PublicKey> m_publicKeys;
    std::map<CertType, std::vector<X509>> m_certificates;
    bool m_isUserPinDefault = false;
};
