#include "pkcs7/attributes.h"

#include "asn1/asn1_time.h"
#include "asn1/der.h"
#include "asn1/errors.h"
#include "base/logger.h"
#include "base/random.h"
#include "pkcs7/errors.h"
#include "pkcs7/pkcs7.h"
#include "x509/x509.h"

namespace pkcs9
{

Attributes::Attributes(const bytes& encodedAttributes)
{
    bs::Logger log("pkcs9::Attributes::Attributes");
    for (const bytes& attribute : der::readVector(encodedAttributes, true)) {
        const std::vector<bytes> children = der::getSequense(attribute);
        if (children.size() != 2) {
            log.error("attribute is not a pair of type and values");
            throw IncorrectPKCS9Attribute();
        }
        ObjectIdentifier type = der::getObjectIdentifier(children[0]);
        Values values = der::getSet(children[1]);
        m_attributes.emplace(std::move(type), std::move(values));
    }
}

void Attributes::insert(const ObjectIdentifier& oid, const bytes& value)
{
    m_attributes[oid].insert(value);
}

void Attributes::insert(const ObjectIdentifier& oid, const Values& values)
{
    if (values.empty()) {
        m_attributes.erase(oid);
        return;
    }
    m_attributes[oid] = values;
}

Attributes::Values Attributes::getValues(const ObjectIdentifier& oid) const
{
    const auto it = m_attributes.find(oid);
    return it == m_attributes.end() ? Values{} : it->second;
}

bytes Attributes::getSingleValue(const ObjectIdentifier& oid) const
{
    const auto it = m_attributes.find(oid);
    if (it == m_attributes.end() || it->second.empty())
        throw NoAttribute(oid);
    if (it->second.size() > 1)
        throw SingleValuedException(oid);
    return *it->second.begin();
}

bytes Attributes::derEncoding() const
{
    std::set<bytes> encoded;
    for (const auto& [type, values] : m_attributes)
        encoded.insert(der::encode(std::vector<bytes>{der::encode(type), der::encode(values)}));
    return der::encode(encoded);
}

EssCertIdV2::EssCertIdV2(AlgorithmId hashAlgorithm_, bytes certHash_, std::vector<bytes> issuerSerial_)
    : hashAlgorithm(std::move(hashAlgorithm_)), certHash(std::move(certHash_)),
      issuerSerial(std::move(issuerSerial_))
{
}

EssCertIdV2::EssCertIdV2(const bytes& encoding)
{
    bs::Logger log("pkcs9::EssCertIdV2::EssCertIdV2");
    const std::vector<bytes> signingCertificate = der::getSequense(encoding);
    const std::vector<bytes> certs = der::getSequense(signingCertificate.at(0));
    const std::vector<bytes> certId = der::getSequense(certs.at(0));
    // hashAlgorithm is DEFAULT SHA-256: DER leaves it out for SHA-256, so the
    // first field is then the hash itself.
    const bool hasAlgorithm = !certId.empty() && certId[0].front() == 0x30;
    const std::size_t hashIndex = hasAlgorithm ? 1 : 0;
    if (certId.size() <= hashIndex || certId.size() > hashIndex + 2) {
        log.error("ESSCertIDv2 without hash or with extra fields");
        throw IncorrectPKCS9Attribute();
    }
    if (hasAlgorithm) {
        const std::vector<bytes> algorithm = der::getSequense(certId[0]);
        const ObjectIdentifier oid = der::getObjectIdentifier(algorithm.at(0));
        hashAlgorithm =
            findDigestAlgorithmId(der::encode(std::vector<bytes>{der::encode(oid), der::encode()}));
    } else {
        hashAlgorithm = SHA_256;
    }
    certHash = der::getOctetString(certId[hashIndex]);
    if (certId.size() > hashIndex + 1)
        issuerSerial = der::getSequense(certId[hashIndex + 1]);
}

EssCertIdV2 essCertIdV1(const bytes& encoding)
{
    const std::vector<bytes> signingCertificate = der::getSequense(encoding);
    const std::vector<bytes> certId = der::getSequense(der::getSequense(signingCertificate.at(0)).at(0));
    // certHash, issuerSerial OPTIONAL
    if (certId.empty() || certId.size() > 2) {
        bs::Logger("pkcs9::essCertIdV1").error("ESSCertID without hash or with extra fields");
        throw IncorrectPKCS9Attribute();
    }
    EssCertIdV2 id(SHA_1, der::getOctetString(certId[0]), {});
    if (certId.size() == 2)
        id.issuerSerial = der::getSequense(certId[1]);
    return id;
}

bytes EssCertIdV2::derEncoding() const
{
    const bytes algorithm = der::encode(std::vector<bytes>{der::encode(hashAlgorithm.oidRef())});
    std::vector<bytes> certId{algorithm, der::encode(certHash)};
    if (!issuerSerial.empty())
        certId.push_back(der::encode(issuerSerial));
    return der::encode(std::vector<bytes>{der::encode(std::vector<bytes>{der::encode(certId)})});
}

EssCertIdV2 signingCertificateV2(const X509& cert, const bytes& certHash)
{
    const bytes generalNames = der::encode(std::vector<bytes>{Tlv(0xA4, cert.issuer()).data()});
    return EssCertIdV2(getDigestAlgorithm(cert.algorithm()), certHash,
                       {generalNames, der::encodeBinaryInt(cert.serial())});
}

Attributes generateSignedAttributes(const bytes& digest, const Attributes& extra, bool addSigningTime,
                                    const EssCertIdV2& essCertId, const bytes& contentId,
                                    const std::set<bytes>& contentReferences)
{
    Attributes result = extra;
    result.insert(oid::CONTENT_TYPE, der::encode(oid::DATA));
    result.insert(oid::MESSAGE_DIGEST, der::encode(digest));
    if (addSigningTime && !result.contains(oid::SIGNING_TIME))
        result.insert(oid::SIGNING_TIME, Asn1Time().derEncoding());
    if (!essCertId.certHash.empty() && !result.contains(oid::SIGNING_CERTIFICATE_V2))
        result.insert(oid::SIGNING_CERTIFICATE_V2, essCertId.derEncoding());
    if (!contentId.empty() && !result.contains(oid::CONTENT_IDENTIFIER))
        result.insert(oid::CONTENT_IDENTIFIER, der::encode(contentId));
    if (!contentReferences.empty())
        result.insert(oid::CONTENT_REFERENCE, contentReferences);
    return result;
}

bytes contentIdentifier(const bytes& prefix)
{
    bytes result = prefix;
    const bytes now = Asn1Time(asn1tag::GENERALIZED_TIME).derEncoding();
    const std::vector<unsigned char> random = bs::getRandomBytes(16);
    result.insert(result.end(), now.begin(), now.end());
    result.insert(result.end(), random.begin(), random.end());
    return result;
}

std::set<bytes> contentReference(const std::vector<bytes>& cmsContainers, bool flag)
{
    const pkcs7::Format format = flag ? pkcs7::Format::SerialOnly : pkcs7::Format::SerialWithIssuer;
    std::set<bytes> references;
    for (const bytes& container : cmsContainers) {
        const Pkcs7 cms(container, format);
        const bytes contentType = cms.contentType();
        for (const SignerInfo& signer : cms.signerInfos()) {
            references.insert(der::encode(
                std::vector<bytes>{contentType, signer.attributes().getSingleValue(oid::CONTENT_IDENTIFIER),
                                   der::encode(signer.signature(format))}));
        }
    }
    return references;
}

} // namespace pkcs9
