// PKCS#10 certification requests.
#pragma once

#include <cstdint>
#include <vector>

#include "asn1/bytes.h"
#include "asn1/oid.h"
#include "x509/algorithms.h"
#include "x509/cert_builder.h"
#include "x509/extensions.h"
#include "x509/subject_dn.h"

class Pkcs10
{
  public:
    // What a request says about its subject before it is signed.
    struct Info {
        std::uint64_t version = 0;
        SubjectDN subject;
        SubjectPublicKeyInfo subjectPublicKeyInfo;
        Extensions extensions;

        // CertificationRequestInfo.
        bytes derEncoding() const;
    };

    // A signed request from its info DER (version, subject, key, [0]
    // attributes; ParsePkcs10Error otherwise) and signature.
    Pkcs10(const AlgorithmId& signAlgorithm, const bytes& infoDer, const bytes& signature);
    // Parses a DER request; ParsePkcs10Error for a wrong structure or a
    // version other than 0. The
    // signature algorithm OID is kept even when outside the catalogue.
    explicit Pkcs10(const bytes& der);

    // CertificationRequest; the signature algorithm carries NULL parameters.
    bytes derEncoding() const;

    const std::vector<bytes>& certRequestInfo() const noexcept { return m_info; }
    const ObjectIdentifier& signAlgorithmOid() const noexcept { return m_signAlgorithmOid; }
    const bytes& signature() const noexcept { return m_signature; }

    SubjectDN subject() const;
    SubjectPublicKeyInfo publicKeyInfo() const;
    Extensions extensions() const;

  private:
    std::vector<bytes> m_info;
    ObjectIdentifier m_signAlgorithmOid;
    bytes m_signature;
};

namespace pkcs10
{

// The text holds a CERTIFICATE REQUEST or NEW CERTIFICATE REQUEST armour.
bool isPemFormat(const bytes& data);
// DER of a PEM request; std::invalid_argument when it is not PEM or its
// armour or Base64 body is damaged.
bytes pem_to_der(const bytes& pem);

} // namespace pkcs10
