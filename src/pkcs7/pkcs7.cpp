#include "pkcs7/pkcs7.h"

#include <stdexcept>

#include "asn1/binary.h"
#include "asn1/der.h"
#include "asn1/errors.h"
#include "base/logger.h"
#include "pkcs7/errors.h"
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
{
    bs::Logger log("SignerInfo::SignerInfo");
    const std::vector<bytes> children = der::getSequense(encoding);
    // version, sid, digestAlgorithm, [0] signedAttrs?, signatureAlgorithm,
    // signature, [1] unsignedAttrs? (read past, not kept)
    if (children.size() < 5 || children.size() > 7)
        cmsError(log, "PKCS-001001");
    const bool hasSigned = children[3].front() == 0xA0;
    const std::size_t sigAlgIndex = hasSigned ? 4 : 3;
    const std::size_t expected = sigAlgIndex + 2;
    if (children.size() != expected && !(children.size() == expected + 1 && children.back().front() == 0xA1))
        cmsError(log, "PKCS-001001");

    if (children[1].front() != 0x30)
        cmsError(log, "PKCS-002001");
    const std::vector<bytes> sid = der::getSequense(children[1], true);
    if (sid.size() < 2)
        cmsError(log, "PKCS-002001");
    m_serial = der::getBinaryInt(sid[1]);

    const std::vector<bytes> digestAlgorithm = der::getSequense(children[2]);
    m_digestAlgorithm = findDigestAlgorithmId(der::getObjectIdentifier(digestAlgorithm[0]));

    if (hasSigned) {
        m_attributes = pkcs9::Attributes(Tlv(children[3]).value());
        if (!m_attributes.contains(pkcs9::oid::MESSAGE_DIGEST))
            cmsError(log, "PKCS-002002");
    }

    const std::vector<bytes> signAlgorithm = der::getSequense(children[sigAlgIndex]);
    m_signAlgorithm = findSignAlgorithmId(der::getObjectIdentifier(signAlgorithm[0]));

    m_signature = der::getOctetString(children[sigAlgIndex + 1]);
    if (m_signature.empty())
        cmsError(log, "PKCS-002003");
    if (format != pkcs7::Format::SerialOnly && m_signAlgorithm.isGost())
        m_signature = gost::swapSignatureHalves(m_signature);

    for (const bytes& certificate : certificates) {
        X509 candidate(certificate);
        if (candidate.serial() == m_serial) {
            m_x509 = std::move(candidate);
            break;
        }
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
        const char* text = pkcs::localization.get("PKCS-002004");
        log.error(text);
        throw std::invalid_argument(text);
    }
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
    const std::vector<bytes> contentInfo = der::getSequense(encoding);
    if (contentInfo.size() < 2 || contentInfo[0] != der::encode(SIGNED_DATA_OID) ||
        contentInfo[1].front() != 0xA0)
        cmsError(log, "PKCS-001001");
    const std::vector<bytes> signedData = der::getSequense(Tlv(contentInfo[1]).value());
    if (signedData.size() < 4)
        cmsError(log, "PKCS-001001");

    m_digestAlgorithms = der::getSet(signedData[1]);
    m_encapContentInfo = der::getSequense(signedData[2]);

    std::size_t next = 3;
    if (signedData[next].front() == 0xA0) {
        for (bytes& certificate : der::readVector(Tlv(signedData[next]).value(), true))
            m_certificates.insert(std::move(certificate));
        ++next;
    }
    // Revocation information ([1]) is read past.
    if (next < signedData.size() && signedData[next].front() == 0xA1)
        ++next;
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
    m_certificates.insert(signer.x509().data());
    m_digestAlgorithms.insert(signer.digestAlgorithmId().derEncoding(false));
}

bytes Pkcs7::derEncoding(bool withCertificates) const
{
    std::vector<bytes> signedData{der::encode(std::uint64_t{1}), der::encode(m_digestAlgorithms),
                                  der::encode(m_encapContentInfo)};
    if (withCertificates && !m_certificates.empty())
        signedData.push_back(der::encodeExplicit(der::encode(m_certificates)));
    std::set<bytes> signers;
    for (const SignerInfo& signer : m_signerInfos)
        signers.insert(signer.derEncoding(m_format));
    signedData.push_back(der::encode(signers));
    return der::encode(
        std::vector<bytes>{der::encode(SIGNED_DATA_OID), Tlv(0xA0, der::encode(signedData)).data()});
}
