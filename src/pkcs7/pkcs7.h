// CMS ContentInfo of type signedData with its signers.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "asn1/bytes.h"
#include "pkcs7/attributes.h"
#include "x509/algorithms.h"
#include "x509/x509.h"

namespace pkcs7
{

// How a signer is identified and in which order GOST signature halves are
// written on the wire.
enum class Format : std::uint8_t {
    SerialOnly = 0,       // issuer 30 00, own serial; signature as stored
    SerialWithIssuer = 1, // certificate's issuer (or 30 00), own serial; halves swapped
    FromCertificate = 2,  // issuer and serial of the certificate; halves swapped
};

} // namespace pkcs7

class SignerInfo
{
  public:
    // Stores the values; a serial that reads as 0 is replaced by the
    // certificate's serial when there is a certificate.
    SignerInfo(const bytes& serial, const bytes& signature, const pkcs9::Attributes& attributes,
               const AlgorithmId& signAlgorithm, const AlgorithmId& digestAlgorithm, const X509& x509,
               pkcs7::Format format);
    // Serial of the certificate, or the key number's minimal big-endian
    // octets without one. The digest is `digestAlgorithm` for RSA when given,
    // otherwise the one paired with `signAlgorithm`.
    SignerInfo(std::uint64_t keyNumber, const AlgorithmId& signAlgorithm, const X509& x509,
               const bytes& signature, const pkcs9::Attributes& attributes, pkcs7::Format format,
               const AlgorithmId& digestAlgorithm);
    // Everything from the certificate: its serial, its key's algorithm and
    // the paired digest.
    SignerInfo(const X509& x509, const bytes& signature, const pkcs9::Attributes& attributes,
               pkcs7::Format format);
    // Parses one SignerInfo and looks up its certificate among
    // `certificates`: by issuer and serial number (by serial alone in format
    // SerialOnly or when the issuer is an empty name), or by the
    // subjectKeyIdentifier extension for a signer identified by key
    // identifier. A digest or signature algorithm outside the catalogue does
    // not fail the parse: the signer is then not verifiable (see
    // foreignAlgorithm()). ParseCmsContainerError or Asn1DecodingError for a
    // malformed SignerInfo.
    SignerInfo(const bytes& encoding, const std::set<bytes>& certificates, pkcs7::Format format);

    const bytes& serial() const noexcept { return m_serial; }
    const pkcs9::Attributes& attributes() const noexcept { return m_attributes; }
    const AlgorithmId& digestAlgorithmId() const noexcept { return m_digestAlgorithm; }
    const AlgorithmId& signAlgorithmId() const noexcept { return m_signAlgorithm; }
    const X509& x509() const noexcept { return m_x509; }
    // The issuer Name of the signer identifier as read; empty when the
    // signer was built here or is identified by key identifier.
    const bytes& issuer() const noexcept { return m_issuer; }
    // The subjectKeyIdentifier a parsed signer is identified by; empty for
    // issuer and serial.
    const bytes& subjectKeyId() const noexcept { return m_subjectKeyId; }
    // The digest or signature algorithm of a parsed signer that is outside
    // the catalogue; empty otherwise. Such a signer has empty algorithm ids
    // and can never be verified, only reported.
    const ObjectIdentifier& foreignAlgorithm() const noexcept { return m_foreignAlgorithm; }
    bool verifiable() const noexcept { return m_foreignAlgorithm.empty(); }

    // The signature as written in `format`: GOST halves swapped unless the
    // format is SerialOnly.
    bytes signature(pkcs7::Format format) const;
    // Content of the single messageDigest value; empty when absent.
    bytes digest() const;
    // A parsed signer gives back the encoding it was read from, unsigned
    // attributes included, whatever the format; std::invalid_argument for an
    // unknown format.
    bytes derEncoding(pkcs7::Format format) const;

  private:
    bool identifies(const bytes& certificate, pkcs7::Format format) const;

    bytes m_encoding;
    bytes m_issuer;
    bytes m_subjectKeyId;
    ObjectIdentifier m_foreignAlgorithm;
    bytes m_serial;
    bytes m_signature;
    pkcs9::Attributes m_attributes;
    AlgorithmId m_digestAlgorithm;
    AlgorithmId m_signAlgorithm;
    X509 m_x509;
};

class Pkcs7
{
  public:
    // Detached container of the given signers.
    Pkcs7(const std::vector<SignerInfo>& signers, pkcs7::Format format);
    Pkcs7(const X509& x509, const bytes& signature, const pkcs9::Attributes& attributes,
          pkcs7::Format format);
    // Format SerialOnly when `flag` is set, SerialWithIssuer otherwise.
    Pkcs7(std::uint64_t keyNumber, const AlgorithmId& signAlgorithm, const X509& x509, const bytes& signature,
          const pkcs9::Attributes& attributes, bool flag, const AlgorithmId& digestAlgorithm);
    // Parses a ContentInfo; ParseCmsContainerError for a malformed container
    // and, with the "PKCS-001002" reason, for one without a signer (a
    // certificates-only bundle: there is nothing to verify, so it is never
    // taken for a signed message); Asn1DecodingError for malformed encodings.
    Pkcs7(const bytes& encoding, pkcs7::Format format);

    // Encoding of the content type OBJECT IDENTIFIER.
    bytes contentType() const;
    // The attached content; empty when detached.
    bytes content() const;
    // Makes the container attached with `content`.
    void setContent(const bytes& content);

    const std::vector<SignerInfo>& signerInfos() const noexcept { return m_signerInfos; }
    // Appends a signer with its certificate (when it has one) and its digest
    // algorithm.
    void addSignerInfo(const SignerInfo& signer);
    const std::set<bytes>& certificates() const noexcept { return m_certificates; }
    pkcs7::Format format() const noexcept { return m_format; }

    // What a parsed container held comes out as it came in (version,
    // certificates, revocation information, signers); `withCertificates`
    // adds the certificates of the signers added since.
    bytes derEncoding(bool withCertificates) const;

  private:
    bytes m_version;
    std::set<bytes> m_receivedCertificates;
    bytes m_crls;
    std::set<bytes> m_digestAlgorithms;
    std::vector<bytes> m_encapContentInfo;
    std::set<bytes> m_certificates;
    std::vector<SignerInfo> m_signerInfos;
    pkcs7::Format m_format;
};
