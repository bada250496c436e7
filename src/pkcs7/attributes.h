// Signed attributes of CMS signatures (CAdES-BES) and the values built for
// them: signingCertificateV2, contentIdentifier and contentReference.
#pragma once

#include <map>
#include <set>
#include <vector>

#include "asn1/bytes.h"
#include "asn1/oid.h"
#include "x509/algorithms.h"

class X509;

namespace pkcs9
{

namespace oid
{
// signingCertificate, the ESSCertID form with a SHA-1 certificate hash.
inline const ObjectIdentifier SIGNING_CERTIFICATE{"1.2.840.113549.1.9.16.2.12"};
} // namespace oid

// Attribute type -> sorted, unique set of complete DER value encodings.
// The map follows ObjectIdentifier's ordering; the encoding does not depend
// on it (DER SET OF order).
class Attributes
{
  public:
    using Values = std::set<bytes>;
    using Map = std::map<ObjectIdentifier, Values>;

    Attributes() = default;
    // Parses the concatenation of Attribute SEQUENCEs (the content of a SET
    // OF Attribute or of a [0] IMPLICIT block). A type that occurs twice
    // keeps its first occurrence. IncorrectPKCS9Attribute or
    // Asn1DecodingError for malformed input.
    explicit Attributes(const bytes& encodedAttributes);

    bool empty() const noexcept { return m_attributes.empty(); }
    bool contains(const ObjectIdentifier& oid) const { return m_attributes.count(oid) != 0; }

    // Adds one value to the type's set.
    void insert(const ObjectIdentifier& oid, const bytes& value);
    // Replaces the type's whole set; an empty set removes the type (an
    // attribute without values cannot be encoded).
    void insert(const ObjectIdentifier& oid, const Values& values);

    Values getValues(const ObjectIdentifier& oid) const;
    // The only value of the type: NoAttribute when absent,
    // SingleValuedException when there are several.
    bytes getSingleValue(const ObjectIdentifier& oid) const;
    Map get() const { return m_attributes; }

    // SET OF Attribute in DER order.
    bytes derEncoding() const;

  private:
    Map m_attributes;
};

// The ESSCertIDv2 of a SigningCertificateV2 value with one certificate. An
// empty certHash means that no signingCertificateV2 attribute is wanted.
struct EssCertIdV2 {
    EssCertIdV2() = default;
    EssCertIdV2(AlgorithmId hashAlgorithm, bytes certHash, std::vector<bytes> issuerSerial);
    // Parses a SigningCertificateV2 value (its first ESSCertIDv2). An absent
    // hash algorithm is its DEFAULT, SHA-256. IncorrectPKCS9Attribute,
    // Asn1DecodingError or the algorithm lookup errors for malformed input.
    explicit EssCertIdV2(const bytes& encoding);

    // SigningCertificateV2 with exactly this certificate and no policies.
    bytes derEncoding() const;

    AlgorithmId hashAlgorithm;
    bytes certHash;
    // Complete encodings of the IssuerSerial components: GeneralNames, then
    // the serial-number INTEGER.
    std::vector<bytes> issuerSerial;
};

// The ESSCertID of a SigningCertificate value (the older attribute, its
// hash always SHA-1), read into the same shape: hashAlgorithm SHA-1, the
// hash and the optional IssuerSerial. IncorrectPKCS9Attribute or
// Asn1DecodingError for malformed input.
EssCertIdV2 essCertIdV1(const bytes& encoding);

// ESSCertIDv2 for a certificate: the digest paired with the certificate's
// signature algorithm, the given hash, and the certificate's issuer and
// serial number.
EssCertIdV2 signingCertificateV2(const X509& cert, const bytes& certHash);

// Standard signed attributes: `extra`, then contentType (data) and
// messageDigest, and when asked for and not already present signingTime,
// signingCertificateV2 and contentIdentifier; `contentReferences`, when not
// empty, replace the contentReference values.
Attributes generateSignedAttributes(const bytes& digest, const Attributes& extra, bool addSigningTime,
                                    const EssCertIdV2& essCertId, const bytes& contentId,
                                    const std::set<bytes>& contentReferences);

// prefix || GeneralizedTime DER of now || 16 random octets.
bytes contentIdentifier(const bytes& prefix);

// One ContentReference value per signer of each container; `flag` set reads
// the containers in format 0 (signature halves as stored), clear in format 1.
std::set<bytes> contentReference(const std::vector<bytes>& cmsContainers, bool flag);

} // namespace pkcs9
