#include "x509/cert_builder.h"

#include <vector>

#include "asn1/der.h"
#include "icrypto/sha.h"
#include "x509/pkcs10.h"
#include "x509/subject_dn.h"

namespace
{

// One RDN SET { SEQUENCE { OID, value } } per non-empty value: countryName
// as PrintableString, as peers expect (RFC 5280), every other value as
// UTF8String.
void addName(std::vector<bytes>& rdns, const ObjectIdentifier& oid, const std::string& value)
{
    if (value.empty())
        return;
    const Asn1Tag tag = oid == cert::COUNTRY_NAME_OID ? Asn1Tag::PRINTABLE_STRING : Asn1Tag::UTF8_STRING;
    rdns.push_back(der::encode(
        std::set<bytes>{der::encode(std::vector<bytes>{der::encode(oid), encodeNameValue(tag, value)})}));
}

bytes issuerName(const IssuerInfo& info)
{
    std::vector<bytes> rdns;
    addName(rdns, cert::COUNTRY_NAME_OID, info.countryName);
    addName(rdns, cert::LOCALITY_NAME_OID, info.localityName);
    addName(rdns, cert::ORGANIZATION_NAME_OID, info.organizationName);
    addName(rdns, cert::COMMON_NAME_OID, info.commonName);
    return der::encode(rdns);
}

bytes subjectName(const SubjectInfo& info)
{
    std::vector<bytes> rdns;
    addName(rdns, cert::LOCALITY_NAME_OID, info.localityName);
    addName(rdns, cert::STATE_OR_PROVINCE_NAME_OID, info.stateOrProvinceName);
    addName(rdns, cert::COUNTRY_NAME_OID, info.countryName);
    addName(rdns, cert::GIVENNAME_OID, info.givenName);
    addName(rdns, cert::SURNAME_OID, info.surname);
    addName(rdns, cert::COMMON_NAME_OID, info.commonName);
    return der::encode(rdns);
}

bool writesDigestParams(const SubjectPublicKeyInfo& info)
{
    const std::string& set = info.paramsOid.text();
    return isSignAlgorithm(info.algorithm) && set != tc26_gost_3410::paramSetB_256 &&
           set != tc26_gost_3410::paramSetC_256 && set != tc26_gost_3410::paramSetD_256;
}

} // namespace

bytes SubjectPublicKeyInfo::derEncodingAlgInfo() const
{
    std::vector<bytes> fields{der::encode(algorithm.oidRef())};
    if (paramsOid.empty()) {
        if (algorithm.isRsa())
            fields.push_back(der::encode());
    } else {
        std::vector<bytes> params{der::encode(paramsOid)};
        if (writesDigestParams(*this) && !digestParamsOid.empty())
            params.push_back(der::encode(digestParamsOid));
        fields.push_back(der::encode(params));
    }
    return der::encode(fields);
}

bytes SubjectPublicKeyInfo::derEncoding() const
{
    return der::encode(std::vector<bytes>{derEncodingAlgInfo(), publicKey.derEncoding()});
}

TbsCertificate::TbsCertificate(const bytes& serialNumber, const ValidityPeriod& validity,
                               const AlgorithmId& algorithm, const IssuerInfo& issuerInfo,
                               const SubjectInfo& subjectInfo, const SubjectPublicKeyInfo& subjectKeyInfo,
                               const bytes& certExtensions)
    : m_serialNumber(serialNumber), m_validityPeriod(validity), m_algorithm(algorithm),
      m_issuerInfo(issuerInfo), m_subjectInfo(subjectInfo), m_subjectKeyInfo(subjectKeyInfo),
      m_certExtensions(certExtensions)
{
}

TbsCertificate::TbsCertificate(const bytes& serialNumber, const bytes& requestDer,
                               const ValidityPeriod& validity)
    : m_serialNumber(serialNumber), m_validityPeriod(validity)
{
    const Pkcs10 request(requestDer);
    const SubjectDN subject = request.subject();
    m_algorithm = findSignAlgorithmId(request.signAlgorithmOid());
    m_issuerInfo = {subject.countryName, subject.localityName, subject.organizationName, subject.commonName};
    m_subjectInfo = {subject.localityName, subject.stateOrProvinceName,
                     subject.countryName,  subject.givenName,
                     subject.surname,      subject.commonName};
    m_subjectKeyInfo = request.publicKeyInfo();
    const bytes keyId = cert::keyIdentifier(m_subjectKeyInfo.publicKey);
    m_certExtensions = cert::certificateExtensions(request.extensions(), keyId, keyId);
}

bytes TbsCertificate::derEncoding() const
{
    std::vector<bytes> fields{
        der::encodeExplicit(der::encode(std::vector<bytes>{der::encode(std::uint64_t{2})})),
        der::encodeBinaryInt(m_serialNumber),
        der::encode(std::vector<bytes>{der::encode(m_algorithm.oidRef())}),
        issuerName(m_issuerInfo),
        der::encode(std::vector<bytes>{m_validityPeriod.notBefore.derEncoding(),
                                       m_validityPeriod.notAfter.derEncoding()}),
        subjectName(m_subjectInfo),
        m_subjectKeyInfo.derEncoding(),
    };
    if (!m_certExtensions.empty())
        fields.push_back(m_certExtensions);
    return der::encode(fields);
}

bytes TbsCertificate::getSubjectKeyIdentyfier() const
{
    if (m_certExtensions.empty())
        return {};
    for (const bytes& element : der::getSequense(Tlv(m_certExtensions).value(), true)) {
        const Extension extension = der::getExtension(element);
        if (extension.oid == cert::SUBJECT_KEY_IDENTIFIER)
            return der::getOctetString(extension.value);
    }
    return {};
}

namespace cert
{

bytes keyIdentifier(const PublicKey& key)
{
    return icrypto::Sha1().digest(key.isGost() ? key.gostKey() : key.derEncoding());
}

bytes certificateExtensions(const Extensions& extensions, const bytes& subjectKeyId,
                            const bytes& authorityKeyId)
{
    // The key identifiers are ours: a request's own would appear twice, and
    // its subject identifier would shadow the one the authority names.
    Extensions carried = extensions;
    std::erase_if(carried.otherExtensions, [](const Extension& extension) {
        return extension.oid == SUBJECT_KEY_IDENTIFIER || extension.oid == ISSUER_KEY_IDENTIFIER;
    });
    std::vector<bytes> list = der::encodeExtensionList(carried);
    list.push_back(der::encode(Extension{SUBJECT_KEY_IDENTIFIER, der::encode(subjectKeyId), false}));
    const bytes authority = der::encode(std::vector<bytes>{Tlv(0x80, authorityKeyId).data()});
    list.push_back(der::encode(Extension{ISSUER_KEY_IDENTIFIER, authority, false}));
    return Tlv(0xA3, der::encode(list)).data();
}

} // namespace cert
