// The public-key structure shared by requests and certificates, and the
// to-be-signed part of a certificate built from a request.
#pragma once

#include <cstdint>
#include <string>

#include "asn1/asn1_time.h"
#include "asn1/bytes.h"
#include "asn1/oid.h"
#include "x509/algorithms.h"
#include "x509/extensions.h"
#include "x509/public_key.h"
#include "x509/x509.h"

struct SubjectPublicKeyInfo {
    AlgorithmId algorithm;            // public-key algorithm
    ObjectIdentifier paramsOid;       // GOST R 34.10 parameter set; empty for RSA
    ObjectIdentifier digestParamsOid; // digest parameter set
    PublicKey publicKey;

    // AlgorithmIdentifier: NULL parameters for RSA, GOST parameters
    // SEQUENCE { set, digest } (the digest left out for TC26 256-bit B, C, D).
    bytes derEncodingAlgInfo() const;
    // SEQUENCE { derEncodingAlgInfo(), subjectPublicKey BIT STRING }.
    bytes derEncoding() const;
};

struct IssuerInfo {
    std::string countryName;
    std::string localityName;
    std::string organizationName;
    std::string commonName;
};

struct SubjectInfo {
    std::string localityName;
    std::string stateOrProvinceName;
    std::string countryName;
    std::string givenName;
    std::string surname;
    std::string commonName;
};

class TbsCertificate
{
  public:
    using TbsFieldType = tbs::TbsFieldType;

    TbsCertificate() = default;
    TbsCertificate(const bytes& serialNumber, const ValidityPeriod& validity, const AlgorithmId& algorithm,
                   const IssuerInfo& issuerInfo, const SubjectInfo& subjectInfo,
                   const SubjectPublicKeyInfo& subjectKeyInfo, const bytes& certExtensions);
    // Self-signed body from a PKCS#10 request: issuer and subject from the
    // request's subject, its key and extensions, plus subject and authority
    // key identifiers of the request's key.
    TbsCertificate(const bytes& serialNumber, const bytes& requestDer, const ValidityPeriod& validity);

    std::uint8_t version() const noexcept { return m_version; }
    const bytes& serialNumber() const noexcept { return m_serialNumber; }
    const AlgorithmId& algorithm() const noexcept { return m_algorithm; }
    const IssuerInfo& issuerInfo() const noexcept { return m_issuerInfo; }
    const ValidityPeriod& validityPeriod() const noexcept { return m_validityPeriod; }
    const SubjectInfo& subjectInfo() const noexcept { return m_subjectInfo; }
    const SubjectPublicKeyInfo& subjectKeyInfo() const noexcept { return m_subjectKeyInfo; }
    const bytes& certExtensions() const noexcept { return m_certExtensions; }

    bytes derEncoding() const;
    // Identifier octets of the subjectKeyIdentifier extension; empty when
    // there is none.
    bytes getSubjectKeyIdentyfier() const;

  private:
    std::uint8_t m_version = 2;
    bytes m_serialNumber;
    ValidityPeriod m_validityPeriod;
    AlgorithmId m_algorithm;
    IssuerInfo m_issuerInfo;
    SubjectInfo m_subjectInfo;
    SubjectPublicKeyInfo m_subjectKeyInfo;
    bytes m_certExtensions;
};

namespace cert
{

// SHA-1 key identifier: over the raw key octets for GOST, over the
// subjectPublicKey BIT STRING for RSA.
bytes keyIdentifier(const PublicKey& key);
// A3 { SEQUENCE { the extensions, subjectKeyIdentifier, authorityKeyIdentifier } };
// key identifiers among the other extensions give way to these two.
bytes certificateExtensions(const Extensions& extensions, const bytes& subjectKeyId,
                            const bytes& authorityKeyId);

} // namespace cert
