#include "x509/x509.h"

#include <algorithm>

#include "asn1/binary.h"
#include "asn1/der.h"
#include "asn1/errors.h"
#include "base/logger.h"
#include "base/strings.h"
#include "x509/errors.h"

namespace
{

[[noreturn]] void parseFailure(const bs::Logger& log)
{
    const X509ParseError error;
    log.error(error.what());
    throw error;
}

// Children of a structural SEQUENCE of the certificate; a malformed one is a
// certificate parse failure.
std::vector<bytes> structure(const bytes& der, const char* operation)
{
    try {
        return der::getSequense(der);
    } catch (const Asn1DecodingError&) {
        parseFailure(bs::Logger(operation));
    }
}

// commonName of a Name: the first attribute of each RDN (in DER order) is
// compared with the commonName type.
std::string commonName(const bytes& name)
{
    const bs::Logger log("X509::commonName");
    const bytes cnType = der::encode(cert::COMMON_NAME_OID);
    for (const bytes& rdn : der::getSequense(name)) {
        const std::set<bytes> attributes = der::getSet(rdn);
        const std::vector<bytes> typeAndValue = der::getSequense(*attributes.begin());
        if (typeAndValue.size() >= 2 && typeAndValue[0] == cnType) {
            return der::parseString(typeAndValue[1]);
        }
    }
    log.debug("no attribute " + cert::COMMON_NAME_OID.toString());
    throw X509ParseError();
}

// Text of a certificate time in UTC, YYMMDDHHMMSSZ or YYYYMMDDHHMMSSZ, from
// any form derTimeText reads (no seconds, fractions, offsets). Any other
// form would read as another date (a 15-character UTCTime as a
// GeneralizedTime) and is a parse failure.
std::string timeText(const bytes& element)
{
    const Tlv tlv(element);
    const std::string text(tlv.valueRef().begin(), tlv.valueRef().end());
    try {
        return derTimeText(tlv.tag(), text);
    } catch (const std::invalid_argument& e) {
        bs::Logger log("X509::validityPeriod");
        log.error(e.what());
        parseFailure(log);
    }
}

// Catalogue entry of the OBJECT IDENTIFIER element of an AlgorithmIdentifier;
// an algorithm outside the catalogue is reported as unknown with its OID.
AlgorithmId algorithmOf(const bytes& algorithmIdentifier)
{
    const bytes oidElement = der::getSequense(algorithmIdentifier).at(0);
    try {
        return findSignAlgorithmId(oidElement);
    } catch (const UnknownAlgorithm&) {
        return AlgorithmId::unknown(der::getObjectIdentifier(oidElement));
    }
}

} // namespace

X509::X509(const bytes& data) : X509(DEFAULT_CERT_ID, data) {}

X509::X509(const bytes& id, const bytes& data) : m_id(id), m_data(data)
{
    try {
        m_version = tbsVersion();
    } catch (...) {
        m_version = 2;
    }
}

X509::X509(const bytes& id, const bytes& tbsDer, const ObjectIdentifier& signatureAlgorithm,
           const bytes& signatureElement)
    : X509(id,
           der::encode(std::vector<bytes>{
               tbsDer, der::encode(std::vector<bytes>{der::encode(signatureAlgorithm)}), signatureElement}))
{
}

bytes X509::version() const
{
    return conv::int_to_binary(m_version);
}

std::size_t X509::tbsPos(tbs::TbsFieldType field) const noexcept
{
    const std::size_t index = field;
    return (field != tbs::VERSION && m_version == 0) ? index - 1 : index;
}

std::vector<bytes> X509::certInfo() const
{
    std::vector<bytes> children = structure(m_data, "X509::certInfo");
    if (children.size() != 3) {
        parseFailure(bs::Logger("X509::certInfo"));
    }
    return children;
}

bytes X509::tbsCertificate() const
{
    return certInfo()[0];
}

std::vector<bytes> X509::tbsCertInfo() const
{
    return structure(tbsCertificate(), "X509::tbsCertInfo");
}

std::uint8_t X509::tbsVersion() const
{
    const bs::Logger log("X509::tbsVersion");
    // v1 has the six fields alone; v2 and v3 start with the explicit
    // version and may add unique identifiers and extensions (7 to 10 fields).
    const std::vector<bytes> tbs = tbsCertInfo();
    if (tbs.size() == 6) {
        return 0;
    }
    if (tbs.size() < 7 || tbs.size() > 10) {
        parseFailure(log);
    }
    const Tlv versionElement(tbs[0]);
    if (versionElement.tag() != 0xA0) {
        parseFailure(log);
    }
    // Versions are v1 (0) to v3 (2); any other number is no certificate
    // this reader knows.
    const Tlv number(versionElement.valueRef());
    const bytes& version = number.valueRef();
    if (number.tag() != asn1tag::INTEGER || version.size() != 1 || version[0] > 2) {
        parseFailure(log);
    }
    return version[0];
}

bytes X509::serial() const noexcept
{
    try {
        return der::getBinaryInt(tbsCertInfo().at(tbsPos(tbs::SERIAL_NUMBER)));
    } catch (...) {
        return {};
    }
}

AlgorithmId X509::algorithm() const
{
    return algorithmOf(tbsCertInfo().at(tbsPos(tbs::SIGNATURE)));
}

bytes X509::issuer() const
{
    return tbsCertInfo().at(tbsPos(tbs::ISSUER));
}

bytes X509::subject() const
{
    return tbsCertInfo().at(tbsPos(tbs::SUBJECT));
}

std::string X509::issuerName() const noexcept
{
    try {
        return commonName(issuer());
    } catch (...) {
        return {};
    }
}

std::string X509::subjectName() const noexcept
{
    try {
        return commonName(subject());
    } catch (...) {
        return {};
    }
}

std::vector<bytes> X509::keyInfo() const
{
    std::vector<bytes> children =
        structure(tbsCertInfo().at(tbsPos(tbs::SUBJECT_PUBLIC_KEY_INFO)), "X509::keyInfo");
    if (children.size() != 2) {
        parseFailure(bs::Logger("X509::keyInfo"));
    }
    return children;
}

AlgorithmId X509::signAlgorithm() const
{
    return algorithmOf(keyInfo()[0]);
}

std::string X509::gost3410ParamsOid() const
{
    const bytes last = der::getSequense(keyInfo()[0]).back();
    const Tlv element(last);
    if (element.tag() == 0x30) {
        // Parameters of other algorithms (DSA domain, RSA-PSS, explicit
        // curves) are a SEQUENCE that names no parameter set.
        const std::vector<bytes> params = der::getSequense(last);
        if (params.empty() || Tlv(params.front()).tag() != 0x06) {
            return {};
        }
        return der::getObjectIdentifier(params.front()).toString();
    }
    if (element.tag() == 0x05) {
        return {};
    }
    return der::getObjectIdentifier(last).toString();
}

std::string X509::gost3410ParamsName() const
{
    return gost3410ParamName(signAlgorithm(), gost3410ParamsOid());
}

PublicKey X509::publicKey(Endian endian) const
{
    const AlgorithmId alg = signAlgorithm();
    if (alg.isGost()) {
        return PublicKey(gostPublicKey(endian));
    }
    if (alg.isRsa()) {
        return PublicKey(rsaPublicKey());
    }
    throw UnknownAlgorithm();
}

bytes X509::gostPublicKey(Endian endian) const
{
    const bytes content = der::getBitString(keyInfo()[1]);
    const Tlv element(content);
    bytes key = element.tag() == 0x30 ? der::getSequense(element.data()).front() : element.value();
    if (endian == Endian::Little) {
        key = reverseHalves(key);
    }
    return key;
}

RsaPublicKey X509::rsaPublicKey() const
{
    const std::vector<bytes> fields = der::getSequense(der::getBitString(keyInfo()[1]));
    if (fields.size() < 2) {
        parseFailure(bs::Logger("X509::rsaPublicKey"));
    }
    RsaPublicKey key;
    key.modulus = bs::deleteLeadingZeros(der::getBinaryInt(fields[0]));
    key.exponent = conv::binary_to_int(der::getBinaryInt(fields[1]));
    return key;
}

ValidityPeriod X509::validityPeriod() const
{
    const std::vector<bytes> times = structure(tbsCertInfo().at(tbsPos(tbs::VALIDITY)), "X509::validityPeriod");
    if (times.size() != 2) {
        parseFailure(bs::Logger("X509::validityPeriod"));
    }
    return ValidityPeriod{Asn1Time(timeText(times.front())), Asn1Time(timeText(times.back()))};
}

bytes X509::signature() const
{
    return der::getBitString(certInfo()[2]);
}

bytes getCertIdByKeyId(std::uint8_t keyId)
{
    return bytes{0x00, keyId};
}

std::uint8_t getKeyIdByCertId(const bytes& id)
{
    if (id.empty()) {
        return 0;
    }
    if (id.size() == 1) {
        return id[0];
    }
    return static_cast<std::uint8_t>(conv::binary_to_int(id) & 0xFF);
}
