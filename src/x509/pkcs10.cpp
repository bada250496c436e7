#include "x509/pkcs10.h"

#include <stdexcept>
#include <string>
#include <string_view>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "base/conv.h"
#include "base/logger.h"
#include "x509/errors.h"

namespace
{

constexpr std::string_view PEM_BEGIN = "-----BEGIN CERTIFICATE REQUEST-----";
constexpr std::string_view PEM_END = "-----END CERTIFICATE REQUEST-----";
constexpr std::string_view PEM_BEGIN_NEW = "-----BEGIN NEW CERTIFICATE REQUEST-----";
constexpr std::string_view PEM_END_NEW = "-----END NEW CERTIFICATE REQUEST-----";

std::vector<bytes> requestInfoChildren(const bytes& infoDer, const bs::Logger& log)
{
    std::vector<bytes> children = der::getSequense(infoDer);
    if (children.size() != 4) {
        log.error("Incorrect cert req number info");
        throw ParsePkcs10Error();
    }
    return children;
}

} // namespace

bytes Pkcs10::Info::derEncoding() const
{
    return der::encode(std::vector<bytes>{der::encode(version), SubjectDNParser(subject).encode(),
                                          subjectPublicKeyInfo.derEncoding(), der::encode(extensions)});
}

Pkcs10::Pkcs10(const AlgorithmId& signAlgorithm, const bytes& infoDer, const bytes& signature)
    : m_signAlgorithmOid(signAlgorithm.oid()), m_signature(signature)
{
    bs::Logger log("Pkcs10::Pkcs10");
    m_info = requestInfoChildren(infoDer, log);
}

Pkcs10::Pkcs10(const bytes& encoding)
{
    bs::Logger log("Pkcs10::Pkcs10");
    const std::vector<bytes> request = der::getSequense(encoding);
    if (request.size() != 3) {
        log.error("Incorrect cert req number info");
        throw ParsePkcs10Error();
    }
    m_info = requestInfoChildren(request[0], log);
    // PKCS#10 knows version 1 (0) only.
    if (m_info[0] != der::encode(std::uint64_t{0})) {
        log.error("Unsupported cert req version");
        throw ParsePkcs10Error();
    }
    // The OID is kept as it is, also for an algorithm outside the catalogue
    // (ECDSA, DSA): the request reads, and whoever must sign or verify with
    // the algorithm refuses it.
    m_signAlgorithmOid = der::getObjectIdentifier(der::getSequense(request[1]).at(0));
    m_signature = der::getBitString(request[2]);
}

bytes Pkcs10::derEncoding() const
{
    return der::encode(std::vector<bytes>{
        der::encode(m_info), der::encode(std::vector<bytes>{der::encode(m_signAlgorithmOid), der::encode()}),
        der::encode(m_signature, 0)});
}

SubjectDN Pkcs10::subject() const
{
    return SubjectDNParser().parse(m_info.at(1));
}

SubjectPublicKeyInfo Pkcs10::publicKeyInfo() const
{
    bs::Logger log("Pkcs10::publicKeyInfo");
    const std::vector<bytes> keyInfo = der::getSequense(m_info.at(2));
    if (keyInfo.size() != 2) {
        log.error("Incorrect cert req number info");
        throw ParsePkcs10Error();
    }
    const std::vector<bytes> algorithm = der::getSequense(keyInfo[0]);
    SubjectPublicKeyInfo result;
    result.algorithm = findSignAlgorithmId(der::getObjectIdentifier(algorithm[0]));
    result.digestParamsOid = getDigestAlgorithmParams(result.algorithm);
    const bytes subjectPublicKey = der::getBitString(keyInfo[1]);
    if (result.algorithm.isGost()) {
        if (algorithm.size() < 2) {
            log.error("GOST public key without parameters");
            throw ParsePkcs10Error();
        }
        const std::vector<bytes> params = der::getSequense(algorithm[1]);
        result.paramsOid = der::getObjectIdentifier(params[0]);
        if (params.size() > 1)
            result.digestParamsOid = der::getObjectIdentifier(params[1]);
        result.publicKey = PublicKey(der::getOctetString(subjectPublicKey));
    } else if (result.algorithm.isRsa()) {
        const std::vector<bytes> rsa = der::getSequense(subjectPublicKey);
        if (rsa.size() != 2) {
            log.error("RSA public key is not a modulus and an exponent");
            throw ParsePkcs10Error();
        }
        const bytes exponent = der::getBinaryInt(rsa[1]);
        if (exponent.size() > 8) {
            log.error("RSA public exponent too large");
            throw ParsePkcs10Error();
        }
        std::uint64_t value = 0;
        for (std::uint8_t octet : exponent)
            value = (value << 8) | octet;
        result.publicKey = PublicKey(RsaPublicKey{der::getBinaryInt(rsa[0]), value});
    } else {
        throw UnknownPublicKeyType();
    }
    return result;
}

Extensions Pkcs10::extensions() const
{
    const Tlv attributesField(m_info.at(3));
    for (const bytes& attribute : der::readVector(attributesField.valueRef(), true)) {
        const std::vector<bytes> children = der::getSequense(attribute);
        if (der::getObjectIdentifier(children.front()) != EXTENSION_REQUEST_OID)
            continue;
        if (children.size() < 2)
            throw ParsePkcs10Error();
        const std::set<bytes> values = der::getSet(children[1]);
        return der::getExtensions(*values.begin());
    }
    return {};
}

namespace pkcs10
{

bool isPemFormat(const bytes& data)
{
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    return text.find(PEM_BEGIN) != std::string_view::npos ||
           text.find(PEM_BEGIN_NEW) != std::string_view::npos;
}

bytes pem_to_der(const bytes& pem)
{
    bs::Logger log("pkcs10::pem_to_x509");
    const auto notPem = bs::standardError<std::invalid_argument>(x509::localization, "X509-001002");
    if (!isPemFormat(pem)) {
        log.error(notPem.what());
        throw notPem;
    }
    std::string text;
    for (std::uint8_t c : pem)
        if (c != '\r' && c != '\n')
            text.push_back(static_cast<char>(c));
    std::string_view begin = PEM_BEGIN;
    std::string_view end = PEM_END;
    std::size_t start = text.find(begin);
    if (start == std::string::npos) {
        begin = PEM_BEGIN_NEW;
        end = PEM_END_NEW;
        start = text.find(begin);
    }
    start += begin.size();
    // The body ends at the matching END marker; text after it is ignored.
    const std::size_t stop = text.find(end, start);
    if (stop == std::string::npos) {
        log.error(notPem.what());
        throw notPem;
    }
    return conv::base64_to_binary(std::string_view(text).substr(start, stop - start));
}

} // namespace pkcs10
