// X.509 certificates: the DER bytes plus the identifier under which a key
// store keeps them. Fields are extracted on demand by re-parsing.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <vector>

#include "asn1/asn1_time.h"
#include "asn1/bytes.h"
#include "asn1/oid.h"
#include "icrypto/endian.h"
#include "x509/algorithms.h"
#include "x509/public_key.h"

namespace tbs
{
// Fields of TBSCertificate in X.509 order (version is the explicit [0]).
enum TbsFieldType : std::uint8_t {
    VERSION = 0,
    SERIAL_NUMBER = 1,
    SIGNATURE = 2,
    ISSUER = 3,
    VALIDITY = 4,
    SUBJECT = 5,
    SUBJECT_PUBLIC_KEY_INFO = 6,
    EXTENSIONS = 7,
};
} // namespace tbs

// Anything that yields a TBSCertificate encoding and its algorithm.
template <class T>
concept TbsCertificateLike = requires(const T& t)
{
    {
        t.derEncoding()
        } -> std::convertible_to<bytes>;
    {
        t.algorithm()
        } -> std::convertible_to<AlgorithmId>;
};

class X509
{
  public:
    static inline const bytes DEFAULT_CERT_ID{0x00};

    X509() = default;
    explicit X509(const bytes& data);
    // Never throws on bad data: an unparsable certificate keeps version 2.
    X509(const bytes& id, const bytes& data);
    // Certificate SEQUENCE { tbsDer, SEQUENCE { signatureAlgorithm }, signatureElement }.
    X509(const bytes& id, const bytes& tbsDer, const ObjectIdentifier& signatureAlgorithm,
         const bytes& signatureElement);
    template <TbsCertificateLike Tbs>
    X509(const bytes& id, const Tbs& tbs, const ObjectIdentifier& signatureAlgorithm,
         const bytes& signatureElement)
        : X509(id, bytes(tbs.derEncoding()), signatureAlgorithm, signatureElement)
    {
    }
    template <TbsCertificateLike Tbs>
    X509(const bytes& id, const Tbs& tbs, const bytes& signatureElement)
        : X509(id, bytes(tbs.derEncoding()), AlgorithmId(tbs.algorithm()).oid(), signatureElement)
    {
    }

    bool empty() const noexcept { return m_data.empty(); }
    friend bool operator==(const X509& a, const X509& b) { return a.m_data == b.m_data; }
    friend bool operator!=(const X509& a, const X509& b) { return !(a == b); }

    const bytes& data() const noexcept { return m_data; }
    const bytes& id() const noexcept { return m_id; }
    void setId(const bytes& id) { m_id = id; }

    // Version number as minimal big-endian octets (v3: 02).
    bytes version() const;
    std::uint8_t versionNumber() const noexcept { return m_version; }
    // Index of a field among the TBSCertificate children.
    std::size_t tbsPos(tbs::TbsFieldType field) const noexcept;

    // [tbsCertificate, signatureAlgorithm, signatureValue]
    std::vector<bytes> certInfo() const;
    bytes tbsCertificate() const;
    std::vector<bytes> tbsCertInfo() const;
    std::uint8_t tbsVersion() const;
    // serialNumber content octets; empty when parsing fails.
    bytes serial() const noexcept;
    // Signature algorithm of the TBSCertificate; one outside the catalogue
    // comes back as AlgorithmId::unknown with its OID.
    AlgorithmId algorithm() const;
    bytes issuer() const;
    bytes subject() const;
    // Common names as UTF-8; empty when absent or unparsable.
    std::string issuerName() const noexcept;
    std::string subjectName() const noexcept;
    // [AlgorithmIdentifier, BIT STRING] of subjectPublicKeyInfo.
    std::vector<bytes> keyInfo() const;
    // Public-key algorithm of subjectPublicKeyInfo (unknown ones as above).
    AlgorithmId signAlgorithm() const;
    // Parameter-set OID text of the public key; empty when the parameters
    // are NULL or a SEQUENCE that names no set (DSA, RSA-PSS).
    std::string gost3410ParamsOid() const;
    std::string gost3410ParamsName() const;
    // GOST or RSA key; UnknownAlgorithm for any other key type.
    PublicKey publicKey(Endian endian) const;
    bytes gostPublicKey(Endian endian) const;
    RsaPublicKey rsaPublicKey() const;
    ValidityPeriod validityPeriod() const;
    // signatureValue content after the unused-bits octet.
    bytes signature() const;

  private:
    std::uint8_t m_version = 2;
    bytes m_id = DEFAULT_CERT_ID;
    bytes m_data;
};

// Key store certificate identifiers: 00 keyId, and back.
bytes getCertIdByKeyId(std::uint8_t keyId);
std::uint8_t getKeyIdByCertId(const bytes& id);
