// Owners of the CSP's handles: provider contexts, keys, hashes, certificate
// contexts and certificate stores. Each owns one handle, is move-only and
// gives its handle back to the CSP exactly once (destructors never throw).
// Every failed CSP call goes through capi::handleError (errors.h) unless a
// comment says otherwise. Every owner keeps the loaded CSP alive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"
#include "capi/capi_types.h"
#include "x509/algorithms.h"
#include "x509/public_key.h"

namespace capi
{

class Wrapper;

// A CryptoAPI provider type (8 bits): 2, 24, 75, 77, 78, 80, 81 are used.
using PROV_TYPE = std::uint8_t;

// The most items this library takes from one enumeration of the CSP
// (readers, containers, certificates of a store).
inline constexpr std::size_t MAX_ENUMERATED_ITEMS = 65536;
// The longest variable-length output this library takes from the CSP (a
// parameter, key blob, hash value or signature); a CSP asking for a longer
// buffer is refused with capi::Error "CAPI-000017".
inline constexpr DWORD MAX_READ_SIZE = 1 << 20;
// The longest item of an enumeration (a reader or container name); with
// MAX_ENUMERATED_ITEMS it bounds what one enumeration keeps.
inline constexpr DWORD MAX_ENUMERATED_NAME = 4096;

// The length of a buffer handed to the CSP; std::invalid_argument for one
// longer than a DWORD can tell.
DWORD bufferLength(std::size_t size);

// The medium a container name points at: the second piece of a name of
// three or more pieces between backslashes ("\\.\FLASH\key1" -> "FLASH"),
// else the whole name.
std::string containerMedium(std::string_view container);

// A provider context (CryptAcquireContextA / CryptReleaseContext).
class Provider
{
  public:
    // Logs "CryptAcquireContextA" and the name, acquires the context of
    // `container` (UTF-8, handed to the CSP in CP1251; empty: no container,
    // as with CRYPT_VERIFYCONTEXT). Flags: 0, CRYPT_VERIFYCONTEXT,
    // CRYPT_NEWKEYSET (create the container), CRYPT_DELETEKEYSET (delete it:
    // the object then owns no context). A failed creation because the medium
    // named in the container is absent (NTE_BAD_KEYSET_PARAM or
    // NTE_KEYSET_ENTRY_BAD) throws capi::Error "CAPI-000023" with the medium
    // ("\\.\FLASH\key1" -> "FLASH"); other failures through handleError. The
    // CSP not loadable: the errors of Wrapper::instance().
    Provider(std::string_view container, PROV_TYPE provType, unsigned int flags);
    ~Provider();
    Provider(Provider&& other) noexcept;
    Provider& operator=(Provider&& other) noexcept;
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;

    // A verify-only context of `provType` (no container).
    static Provider verifyContext(PROV_TYPE provType);
    // Deletes the container (CRYPT_DELETEKEYSET); errors as the constructor.
    static void deleteContainer(std::string_view container, PROV_TYPE provType);
    // deleteContainer for the clean-up after a failed creation: a failure of
    // its own is only logged (the error that made the clean-up is the one to
    // report).
    static void discardContainer(std::string_view container, PROV_TYPE provType) noexcept;

    HCRYPTPROV get() const noexcept { return m_handle; }
    PROV_TYPE provType() const noexcept { return m_provType; }
    const std::shared_ptr<Wrapper>& wrapper() const noexcept { return m_wrapper; }
    // Releases the context now; the object then owns none. Never throws.
    void close() noexcept;

    // CryptGetProvParam, sized by a first call without buffer; a length the
    // CSP reports beyond what it was given or beyond MAX_READ_SIZE is refused
    // (capi::Error "CAPI-000017"), never read or allocated.
    bytes param(unsigned int id, unsigned int flags) const;
    // param() as text up to the first NUL, bytes as the CSP gives them (the
    // CSP's texts are CP1251: callers convert).
    std::string stringParam(unsigned int id, unsigned int flags) const;
    // Hands each item of an enumerating parameter (PP_ENUMREADERS,
    // PP_ENUMCONTAINERS: CRYPT_FIRST, then CRYPT_NEXT, `flags` added) to
    // `take`, as stringParam gives it, until the CSP reports
    // ERROR_NO_MORE_ITEMS; other failures through handleError. A CSP that
    // would give more than `limit` items (one whose enumeration never ends),
    // or an item longer than MAX_ENUMERATED_NAME, is refused with capi::Error
    // "CAPI-000017" once `limit` are handed on.
    void enumerate(unsigned int id, unsigned int flags, const std::function<void(std::string)>& take,
                   std::size_t limit = MAX_ENUMERATED_ITEMS) const;
    // CryptSetProvParam with `data` as given.
    void setParam(unsigned int id, const bytes& data, unsigned int flags) const;
    // `text` (bytes as given) with a terminating NUL.
    void setStringParam(unsigned int id, std::string_view text, unsigned int flags) const;
    // The provider's maker: the first word of its name (PP_NAME), e.g.
    // "Crypto-Pro".
    std::string vendor() const;

  private:
    std::shared_ptr<Wrapper> m_wrapper;
    HCRYPTPROV m_handle = 0;
    PROV_TYPE m_provType = 0;
};

// A key handle and the provider context it belongs to (destroyed before
// the context is released).
class Key
{
  public:
    // The key pair of an existing container (flags 0): CryptGetUserKey with
    // AT_KEYEXCHANGE, then AT_SIGNATURE when the container has no exchange
    // key (NTE_NO_KEY). A container without either: NoKey.
    Key(std::string_view container, PROV_TYPE provType);

    // A key pair generated in a new container named `alias` (UTF-8; the CSP
    // answers PP_CONTAINER_ALIAS with it): the container is created
    // (CRYPT_NEWKEYSET, "CAPI-000023" when its medium is absent), a GOST
    // key's parameter set `paramsOid` is chosen through the provider
    // parameter getOidParamByProviderType(provType), a non-empty `password`
    // is given as PP_KEYEXCHANGE_PIN (CP1251, wiped after the call), and
    // CryptGenKey makes an AT_KEYEXCHANGE pair (logged "CryptGenKey
    // algorithm=" with the algorithm's name; RSA keys of `rsaBits` bits).
    // When any step after the creation fails, the container is deleted
    // again before the error leaves, so the alias stays free.
    Key(PROV_TYPE provType, std::string_view alias, const AlgorithmId& algorithm, std::string_view paramsOid,
        std::wstring_view password, unsigned int rsaBits = 0);

    // A public key imported into a fresh verify-only context of `provType`
    // from a blob of makePublicKeyBlob or makeRsaPublicKeyBlob.
    Key(PROV_TYPE provType, const bytes& publicKeyBlob);

    // A public-key blob imported into `provider` (CryptImportKey).
    static Key importKey(Provider provider, const bytes& blob);

    ~Key();
    Key(Key&& other) noexcept;
    Key& operator=(Key&& other) noexcept;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    HCRYPTKEY get() const noexcept { return m_handle; }
    const Provider& provider() const noexcept { return m_provider; }
    // AT_KEYEXCHANGE or AT_SIGNATURE for a container's key (the key
    // specification CryptSignHashA takes), 0 for an imported key.
    DWORD keySpec() const noexcept { return m_keySpec; }

    // CryptExportKey (no wrapping key), sized like Provider::param.
    bytes exportKey(DWORD blobType) const;
    // The GOST public key value of the PUBLICKEYBLOB (X then Y, each
    // little-endian: the octets a certificate carries). capi::Error
    // "CAPI-000008" (NTE_BAD_DATA) for a blob that is not a GOST key blob.
    bytes publicKey() const;
    // The RSA key of the PUBLICKEYBLOB, modulus big-endian. "CAPI-000008"
    // for a blob that is not an RSA key blob.
    RsaPublicKey rsaPublicKey() const;
    // From the key's algorithm (KP_ALGID): GOST R 34.10-2001/GOST R 34.11-94,
    // GOST R 34.10-2012-256/-512 with the matching digest, RSA encryption.
    // UnsupportedAlgorithm for another algorithm number.
    AlgorithmId signAlgorithm() const;

    // CryptGetKeyParam, sized like Provider::param.
    bytes param(unsigned int id, unsigned int flags) const;
    // A 4-byte parameter; "CAPI-000008" when the CSP gives another length.
    DWORD dwordParam(unsigned int id, unsigned int flags) const;
    void setParam(unsigned int id, const bytes& data, unsigned int flags) const;

  private:
    Key(Provider provider, HCRYPTKEY handle, DWORD keySpec);

    Provider m_provider;
    HCRYPTKEY m_handle = 0;
    DWORD m_keySpec = 0;
};

// A hash object. It must not outlive the provider context it was made in.
class Hash
{
  public:
    // CryptCreateHash with getDigestAlgorithmId(digest) (UnsupportedAlgorithm
    // for a digest without a CSP number).
    Hash(HCRYPTPROV provider, const AlgorithmId& digest);
    ~Hash();
    Hash(Hash&& other) noexcept;
    Hash& operator=(Hash&& other) noexcept;
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;

    HCRYPTHASH get() const noexcept { return m_handle; }

    // CryptHashData (empty data is a no-op).
    void update(const bytes& data) const;
    // The hash value (HP_HASHVAL) as the CSP gives it.
    bytes doFinal() const;
    // CryptGetHashParam, sized like Provider::param.
    bytes param(unsigned int id, unsigned int flags) const;
    // CryptSetHashParam: HP_HASHVAL sets a ready value, HP_PARAMSET_OID
    // (NUL-terminated text) the GOST R 34.11-94 parameter set.
    void setParam(unsigned int id, const bytes& data, unsigned int flags) const;
    // CryptSignHashA with the key of the hash's container named by
    // `keySpec`; the signature as the CSP returns it (GOST: two halves, each
    // little-endian; RSA: little-endian).
    bytes sign(DWORD keySpec) const;
    // CryptVerifySignatureA of a signature in the form sign() returns; a
    // wrong signature throws WrongSign (through handleError).
    void verify(const bytes& signature, const Key& publicKey) const;

  private:
    std::shared_ptr<Wrapper> m_wrapper;
    HCRYPTHASH m_handle = 0;
};

class CertStore;

// A certificate context (CertCreateCertificateContext /
// CertFreeCertificateContext).
class CertContext
{
  public:
    // From DER (X.509 encoding); a refusal through handleError.
    explicit CertContext(const bytes& der);
    // Takes over a context the CSP returned (not null).
    explicit CertContext(PCCERT_CONTEXT context);
    ~CertContext();
    CertContext(CertContext&& other) noexcept;
    CertContext& operator=(CertContext&& other) noexcept;
    CertContext(const CertContext&) = delete;
    CertContext& operator=(const CertContext&) = delete;

    PCCERT_CONTEXT get() const noexcept { return m_context; }
    // The certificate's DER bytes.
    bytes encoded() const;

    // DER of every certificate of `store`, in the store's order; more than
    // MAX_ENUMERATED_ITEMS is capi::Error "CAPI-000017".
    static std::vector<bytes> enumCertificatesInStore(const CertStore& store);

  private:
    std::shared_ptr<Wrapper> m_wrapper;
    PCCERT_CONTEXT m_context = nullptr;
};

// A certificate store of the current user (CertOpenStore of the system
// store provider / CertCloseStore).
class CertStore
{
  public:
    // Opens the current user's system store `name` (e.g. L"MY").
    explicit CertStore(std::wstring_view name);
    ~CertStore();
    CertStore(CertStore&& other) noexcept;
    CertStore& operator=(CertStore&& other) noexcept;
    CertStore(const CertStore&) = delete;
    CertStore& operator=(const CertStore&) = delete;

    HCERTSTORE get() const noexcept { return m_store; }

    // DER of the first certificate whose public key (algorithm OID and key
    // bits) is that of `subjectPublicKeyInfo` (a DER SubjectPublicKeyInfo),
    // or empty when the store has none. Asn1DecodingError for bad DER.
    bytes findCertificate(const bytes& subjectPublicKeyInfo) const;
    // CertAddCertificateContextToStore, replacing an equal certificate.
    void addCertificate(const CertContext& certificate) const;

  private:
    std::shared_ptr<Wrapper> m_wrapper;
    HCERTSTORE m_store = nullptr;
};

} // namespace capi
