#include "pkcs7/pkcs7.h"

#include <algorithm>
#include <stdexcept>

#include "asn1/ber.h"
#include "asn1/binary.h"
#include "asn1/der.h"
#include "asn1/errors.h"
#include "base/logger.h"
#include "pkcs7/errors.h"
#include "x509/errors.h"
#include "x509/gost_signature.h"

namespace
{

const bytes EMPTY_NAME{0x30, 0x00};

bool isKnownFormat(pkcs7::Format format)
{
    return static_cast<std::uint8_t>(format) <= static_cast<std::uint8_t>(pkcs7::Format::FromCertificate);
}

[[noreturn]] void cmsError(const bs::Logger& log, const char* reasonCode)
{
    const char* reason = pkcs::localization.get(reasonCode);
    log.error(reason);
    throw ParseCmsContainerError(reason);
}

// Octets of the certificate's subjectKeyIdentifier extension; empty when
// there is none.
bytes subjectKeyIdentifier(const X509& certificate)
{
    for (const bytes& field : certificate.tbsCertInfo()) {
        if (field.front() != 0xA3)
            continue;
        for (const bytes& extension : der::getSequense(Tlv(field).value())) {
            const std::vector<bytes> parts = der::getSequense(extension);
            if (der::getObjectIdentifier(parts.at(0)) == cert::SUBJECT_KEY_IDENTIFIER)
                return der::getOctetString(der::getOctetString(parts.back()));
        }
    }
    return {};
}

AlgorithmId digestForCertificate(const X509& x509)
{
    const AlgorithmId key = x509.signAlgorithm();
    return getDigestAlgorithm(key.isRsa() ? x509.algorithm() : key);
}

} // namespace

SignerInfo::SignerInfo(const bytes& serial, const bytes& signature, const pkcs9::Attributes& attributes,
                       const AlgorithmId& signAlgorithm, const AlgorithmId& digestAlgorithm, const X509& x509,
                       pkcs7::Format)
    : m_serial(serial), m_signature(signature), m_attributes(attributes), m_digestAlgorithm(digestAlgorithm),
      m_signAlgorithm(signAlgorithm), m_x509(x509)
{
    if (conv::binary_to_int(m_serial) == 0 && !m_x509.empty())
        m_serial = m_x509.serial();
}

SignerInfo::SignerInfo(std::uint64_t keyNumber, const AlgorithmId& signAlgorithm, const X509& x509,
                       const bytes& signature, const pkcs9::Attributes& attributes, pkcs7::Format,
                       const AlgorithmId& digestAlgorithm)
    : m_serial(x509.empty() ? conv::int_to_binary(keyNumber) : x509.serial()), m_signature(signature),
      m_attributes(attributes), m_digestAlgorithm(signAlgorithm.isRsa() && !digestAlgorithm.empty()
                                                      ? digestAlgorithm
                                                      : getDigestAlgorithm(signAlgorithm)),
      m_signAlgorithm(signAlgorithm), m_x509(x509)
{
}

SignerInfo::SignerInfo(const X509& x509, const bytes& signature, const pkcs9::Attributes& attributes,
                       pkcs7::Format)
    : m_serial(x509.serial()), m_signature(signature), m_attributes(attributes),
      m_digestAlgorithm(digestForCertificate(x509)), m_signAlgorithm(x509.signAlgorithm()), m_x509(x509)
{
}

SignerInfo::SignerInfo(const bytes& encoding, const std::set<bytes>& certificates, pkcs7::Format format)
    : m_encoding(encoding)
{
    bs::Logger log("SignerInfo::SignerInfo");
    const std::vector<bytes> children = der::getSequense(encoding);
    // version, sid, digestAlgorithm, [0] signedAttrs?, signatureAlgorithm,
    // signature, [1] unsignedAttrs? (kept only in the encoding as read)
    if (children.size() < 5 || children.size() > 7)
        cmsError(log, "PKCS-001001");
    const bool hasSigned = children[3].front() == 0xA0;
    const std::size_t sigAlgIndex = hasSigned ? 4 : 3;
    const std::size_t expected = sigAlgIndex + 2;
    if (children.size() != expected && !(children.size() == expected + 1 && children.back().front() == 0xA1))
        cmsError(log, "PKCS-001001");

    if (children[1].front() == 0x80) {
        m_subjectKeyId = Tlv(children[1]).value();
        if (m_subjectKeyId.empty())
            cmsError(log, "PKCS-002001");
    } else {
        if (children[1].front() != 0x30)
            cmsError(log, "PKCS-002001");
        const std::vector<bytes> sid = der::getSequense(children[1], true);
        if (sid.size() != 2 || sid[0].front() != 0x30)
            cmsError(log, "PKCS-002001");
        m_issuer = sid[0];
        m_serial = der::getBinaryInt(sid[1]);
    }

    const std::vector<bytes> digestAlgorithm = der::getSequense(children[2]);
    const ObjectIdentifier digestOid = der::getObjectIdentifier(digestAlgorithm.at(0));
    try {
        m_digestAlgorithm = findDigestAlgorithmId(digestOid);
    } catch (const UnsupportedAlgorithm&) {
        m_foreignAlgorithm = digestOid;
    }

    if (hasSigned) {
        m_attributes = pkcs9::Attributes(Tlv(children[3]).value());
        if (!m_attributes.contains(pkcs9::oid::MESSAGE_DIGEST))
            cmsError(log, "PKCS-002002");
    }

    const std::vector<bytes> signAlgorithm = der::getSequense(children[sigAlgIndex]);
    const ObjectIdentifier signOid = der::getObjectIdentifier(signAlgorithm.at(0));
    try {
        m_signAlgorithm = findSignAlgorithmId(signOid);
    } catch (const UnsupportedAlgorithm&) {
        m_foreignAlgorithm = signOid;
    }
    if (!m_foreignAlgorithm.empty()) {
        log.info("signer of an algorithm outside the catalogue: " + m_foreignAlgorithm.text());
        m_digestAlgorithm = AlgorithmId();
        m_signAlgorithm = AlgorithmId();
    }

    m_signature = der::getOctetString(children[sigAlgIndex + 1]);
    if (m_signature.empty())
        cmsError(log, "PKCS-002003");
    if (format != pkcs7::Format::SerialOnly && m_signAlgorithm.isGost())
        m_signature = gost::swapSignatureHalves(m_signature);

    const auto found = std::find_if(certificates.begin(), certificates.end(), [&](const bytes& certificate) {
        return identifies(certificate, format);
    });
    if (found != certificates.end()) {
        m_x509 = X509(*found);
        if (m_serial.empty())
            m_serial = m_x509.serial();
    }
}

bool SignerInfo::identifies(const bytes& certificate, pkcs7::Format format) const
{
    try {
        const X509 candidate(certificate);
        if (!m_subjectKeyId.empty())
            return subjectKeyIdentifier(candidate) == m_subjectKeyId;
        if (candidate.serial() != m_serial)
            return false;
        // Format 0 names no issuer; nor does an empty name.
        return format == pkcs7::Format::SerialOnly || m_issuer == EMPTY_NAME ||
               candidate.issuer() == m_issuer;
    } catch (const std::exception&) {
        return false; // a certificate that does not parse identifies no one
    }
}

bytes SignerInfo::signature(pkcs7::Format format) const
{
    if (format != pkcs7::Format::SerialOnly && m_signAlgorithm.isGost())
        return gost::swapSignatureHalves(m_signature);
    return m_signature;
}

bytes SignerInfo::digest() const
{
    if (!m_attributes.contains(pkcs9::oid::MESSAGE_DIGEST))
        return {};
    return der::getOctetString(m_attributes.getSingleValue(pkcs9::oid::MESSAGE_DIGEST));
}

bytes SignerInfo::derEncoding(pkcs7::Format format) const
{
    bs::Logger log("SignerInfo::derEncoding");
    if (!isKnownFormat(format)) {
        const auto error = bs::standardError<std::invalid_argument>(pkcs::localization, "PKCS-002004");
        log.error(error.what());
        throw error;
    }
    if (!m_encoding.empty())
        return m_encoding;
    bytes issuer = EMPTY_NAME;
    bytes serial = m_serial;
    if (format != pkcs7::Format::SerialOnly && !m_x509.empty()) {
        issuer = m_x509.issuer();
        if (format == pkcs7::Format::FromCertificate)
            serial = m_x509.serial();
    }
    std::vector<bytes> fields{der::encode(std::uint64_t{1}),
                              der::encode(std::vector<bytes>{issuer, der::encodeBinaryInt(serial)}),
                              m_digestAlgorithm.derEncoding(false)};
    if (!m_attributes.empty())
        fields.push_back(der::encodeExplicit(m_attributes.derEncoding()));
    fields.push_back(m_signAlgorithm.derEncoding(false));
    fields.push_back(der::encode(signature(format)));
    return der::encode(fields);
}

Pkcs7::Pkcs7(const std::vector<SignerInfo>& signers, pkcs7::Format format)
    : m_encapContentInfo{der::encode(pkcs9::oid::DATA)}, m_signerInfos(signers), m_format(format)
{
    for (const SignerInfo& signer : signers) {
        m_digestAlgorithms.insert(signer.digestAlgorithmId().derEncoding(false));
        if (!signer.x509().empty())
            m_certificates.insert(signer.x509().data());
    }
}

Pkcs7::Pkcs7(const X509& x509, const bytes& signature, const pkcs9::Attributes& attributes,
             pkcs7::Format format)
    : Pkcs7(std::vector<SignerInfo>{SignerInfo(x509, signature, attributes, format)}, format)
{
}

Pkcs7::Pkcs7(std::uint64_t keyNumber, const AlgorithmId& signAlgorithm, const X509& x509,
             const bytes& signature, const pkcs9::Attributes& attributes, bool flag,
             const AlgorithmId& digestAlgorithm)
    : Pkcs7(std::vector<SignerInfo>{SignerInfo(
                keyNumber, signAlgorithm, x509, signature, attributes,
                flag ? pkcs7::Format::SerialOnly : pkcs7::Format::SerialWithIssuer, digestAlgorithm)},
            flag ? pkcs7::Format::SerialOnly : pkcs7::Format::SerialWithIssuer)
{
}

Pkcs7::Pkcs7(const bytes& encoding, pkcs7::Format format) : m_format(format)
{
    bs::Logger log("Pkcs7::Pkcs7");
    // Messages from outside may be BER (indefinite lengths, strings in
    // pieces); they are read, and written again, in their DER form.
    const std::vector<bytes> contentInfo = der::getSequense(ber::toDer(encoding));
    if (contentInfo.size() < 2 || contentInfo[0] != der::encode(SIGNED_DATA_OID) ||
        contentInfo[1].front() != 0xA0)
        cmsError(log, "PKCS-001001");
    const std::vector<bytes> signedData = der::getSequense(Tlv(contentInfo[1]).value());
    if (signedData.size() < 4)
        cmsError(log, "PKCS-001001");

    m_version = signedData[0];
    // A SignedData that only carries certificates (a "p7b" bundle) has no
    // digest algorithm; it is refused below for want of a signer, with that
    // reason rather than as a malformed set.
    const Tlv digestAlgorithms(signedData[1]);
    if (digestAlgorithms.tag() != 0x31)
        throw Asn1DecodingError();
    for (bytes& algorithm : der::readVector(digestAlgorithms.valueRef(), true))
        m_digestAlgorithms.insert(std::move(algorithm));
    m_encapContentInfo = der::getSequense(signedData[2]);

    std::size_t next = 3;
    if (signedData[next].front() == 0xA0) {
        for (bytes& certificate : der::readVector(Tlv(signedData[next]).value(), true))
            m_certificates.insert(std::move(certificate));
        m_receivedCertificates = m_certificates;
        ++next;
    }
    // Revocation information ([1]) is kept as it came.
    if (next < signedData.size() && signedData[next].front() == 0xA1)
        m_crls = signedData[next++];
    if (next >= signedData.size())
        cmsError(log, "PKCS-001001");

    const Tlv signerInfos(signedData[next]);
    if (signerInfos.tag() != 0x31)
        throw Asn1DecodingError();
    if (signerInfos.valueRef().empty())
        cmsError(log, "PKCS-001002");
    for (const bytes& signer : der::getSet(signedData[next]))
        m_signerInfos.emplace_back(signer, m_certificates, format);
    if (m_signerInfos.empty())
        cmsError(log, "PKCS-001002");
}

bytes Pkcs7::contentType() const
{
    return m_encapContentInfo.empty() ? bytes{} : m_encapContentInfo.front();
}

bytes Pkcs7::content() const
{
    if (m_encapContentInfo.size() < 2)
        return {};
    return der::getOctetString(Tlv(m_encapContentInfo[1]).value());
}

void Pkcs7::setContent(const bytes& content)
{
    m_encapContentInfo = {der::encode(pkcs9::oid::DATA), Tlv(0xA0, der::encode(content)).data()};
}

void Pkcs7::addSignerInfo(const SignerInfo& signer)
{
    m_signerInfos.push_back(signer);
    // A signer without a certificate adds none: a message left without any
    // then has no certificate field at all, as other software writes it,
    // rather than an empty one.
    if (!signer.x509().empty())
        m_certificates.insert(signer.x509().data());
    m_digestAlgorithms.insert(signer.digestAlgorithmId().derEncoding(false));
}

bytes Pkcs7::derEncoding(bool withCertificates) const
{
    std::vector<bytes> signedData{m_version.empty() ? der::encode(std::uint64_t{1}) : m_version,
                                  der::encode(m_digestAlgorithms), der::encode(m_encapContentInfo)};
    const std::set<bytes>& certificates = withCertificates ? m_certificates : m_receivedCertificates;
    if (!certificates.empty())
        signedData.push_back(der::encodeExplicit(der::encode(certificates)));
    if (!m_crls.empty())
        signedData.push_back(m_crls);
    std::set<bytes> signers;
    for (const SignerInfo& signer : m_signerInfos)
        signers.insert(signer.derEncoding(m_format));
    signedData.push_back(der::encode(signers));
    return der::encode(
        std::vector<bytes>{der::encode(SIGNED_DATA_OID), Tlv(0xA0, der::encode(signedData)).data()});
}
