#include "cryptoprovider/core/verify_sign_engine.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "base/logger.h"
#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/core/key_store.h"
#include "pkcs7/attributes.h"
#include "x509/errors.h"

namespace
{

[[noreturn]] void throwEmptyData()
{
    throw bs::standardError<std::runtime_error>(cp::localization, "CP-008060");
}

// A signer of an algorithm outside the catalogue is never valid.
void logNotVerifiable(const char* where, const SignerInfo& signer)
{
    bs::Logger(where).error("signer of an algorithm outside the catalogue, not verifiable: " +
                            signer.foreignAlgorithm().text());
}

} // namespace

std::string getGost3410Params(std::string_view paramsOid)
{
    if (paramsOid.empty()) {
        throw Gost3410ECParamsEmpty();
    }
    if (paramsOid == crypto_pro_param::XchA) {
        return std::string(crypto_pro_param::A);
    }
    if (paramsOid == crypto_pro_param::XchB) {
        return std::string(crypto_pro_param::C);
    }
    return std::string(paramsOid);
}

VerifySignEngine::VerifySignEngine(std::shared_ptr<DigestEngine> digestEngine)
    : m_digestEngine(std::move(digestEngine))
{
}

bool VerifySignEngine::verifyRsaSign(const bytes&, const bytes&, const RsaPublicKey&, const AlgorithmId&)
{
    throw FunctionNotImplemented();
}

bytes VerifySignEngine::digest(const bytes& data, const AlgorithmId& algorithm, Endian endian,
                               std::string_view paramsOid)
{
    bs::Logger log("VerifySignEngine::digest");
    if (!m_digestEngine) {
        DigestContextNotInitialized error;
        log.error(error.what());
        throw error;
    }
    return m_digestEngine->digest(data, algorithm, endian, paramsOid);
}

bool VerifySignEngine::verifyRawSign(const bytes& data, const bytes& signature, const PublicKey& key,
                                     const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                                     bool kalvaMode)
{
    if (data.empty() || signature.empty()) {
        throwEmptyData();
    }
    if (key.empty()) {
        throw PublicKeyEmpty();
    }
    const bytes oriented = key.isGost() && !kalvaMode ? swapSignatureHalves(signature) : signature;
    const std::string parameters = signAlgorithm.isRsa() ? std::string() : getGost3410Params(paramsOid);
    return verifySign(data, oriented, key, signAlgorithm, parameters, kalvaMode);
}

bool VerifySignEngine::verifySign(const bytes& data, const bytes& signature, const PublicKey& key,
                                  const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                                  bool kalvaMode)
{
    if (key.isGost()) {
        const bytes keyOctets = kalvaMode ? key.gostKey() : key.reverseKalva2().gostKey();
        return verifyGostSign(data, signature, keyOctets, signAlgorithm, paramsOid, kalvaMode);
    }
    if (key.isRsa()) {
        return verifyRsaSign(data, signature, key.rsaKey(), getDigestAlgorithm(signAlgorithm));
    }
    throw UnknownPublicKeyType();
}

bool VerifySignEngine::verifyContentDigest(const bytes& data, const SignerInfo& signer, bool kalvaMode)
{
    if (data.empty()) {
        throwEmptyData();
    }
    const bytes expected = signer.digest();
    const bytes computed =
        digest(data, signer.digestAlgorithmId(), Endian(kalvaMode), gost3411::paramSet(kalvaMode));
    if (computed == expected) {
        return true;
    }
    bs::Logger("VerifySignEngine::verifyContentDigest").error("digestCheck != digestEtalon");
    return false;
}

bool VerifySignEngine::verifyCmsSign(const bytes& data, const std::vector<SignerInfo>& signerInfos,
                                     bool kalvaMode, const PublicKey& key, std::string_view paramsOid)
{
    if (signerInfos.empty()) {
        throw bs::standardError<std::invalid_argument>(cp::localization, "CP-011001");
    }
    if (signerInfos.size() > 1) {
        throw bs::standardError<std::invalid_argument>(cp::localization, "CP-011002");
    }
    if (key.empty()) {
        throw PublicKeyEmpty();
    }
    const SignerInfo& signer = signerInfos.front();
    if (!signer.verifiable()) {
        logNotVerifiable("VerifySignEngine::verifyCmsSign", signer);
        return false;
    }
    // Without signed attributes the signature is over the content itself.
    const bool overContent = signer.attributes().empty();
    if (overContent && data.empty()) {
        throwEmptyData();
    }
    if (!overContent && !verifyContentDigest(data, signer, kalvaMode)) {
        return false;
    }
    AlgorithmId algorithm = signer.signAlgorithmId();
    std::string parameters;
    if (algorithm.isGost()) {
        parameters = getGost3410Params(paramsOid);
        checkGost3410Params(algorithm, parameters);
    } else if (algorithm.isRsa()) {
        algorithm = getSignAlgorithm(signer.digestAlgorithmId());
    }
    return verifySign(overContent ? data : signer.attributes().derEncoding(),
                      signer.signature(pkcs7::Format::SerialOnly), key, algorithm, parameters, kalvaMode);
}

VerifySignEngine::Verdict VerifySignEngine::cadesVerdict(const bytes& data, const SignerInfo& signer)
{
    if (!signer.verifiable()) {
        logNotVerifiable("VerifySignEngine::verifyCades", signer);
        return Verdict::NotVerifiable;
    }
    if (signer.attributes().empty()) {
        bs::Logger("VerifySignEngine::verifyCades").error("no signed attributes: not a CAdES-BES signature");
        return Verdict::Invalid;
    }
    const bool valid =
        verifyContentDigest(data, signer, false) && verifyCertDigest(signer) && verifyCadesSign(signer);
    return valid ? Verdict::Valid : Verdict::Invalid;
}

VerifySignEngine::Verdict VerifySignEngine::cmsVerdict(const bytes& data, const SignerInfo& signer)
{
    if (!signer.verifiable()) {
        logNotVerifiable("VerifySignEngine::verifyCmsSigners", signer);
        return Verdict::NotVerifiable;
    }
    if (signer.attributes().empty()) {
        return verifyContentSign(data, signer) ? Verdict::Valid : Verdict::Invalid;
    }
    // A signing-certificate attribute is checked where there is one; CMS
    // does not require it.
    const pkcs9::Attributes& attributes = signer.attributes();
    const bool namesCertificate = attributes.contains(pkcs9::oid::SIGNING_CERTIFICATE_V2) ||
                                  attributes.contains(pkcs9::oid::SIGNING_CERTIFICATE);
    const bool valid = verifyContentDigest(data, signer, false) &&
                       (!namesCertificate || verifyCertDigest(signer)) && verifyCadesSign(signer);
    return valid ? Verdict::Valid : Verdict::Invalid;
}

std::vector<VerifySignEngine::Verdict>
VerifySignEngine::verdicts(const bytes& data, const std::vector<SignerInfo>& signerInfos, Rule rule)
{
    if (signerInfos.empty()) {
        throw bs::standardError<std::invalid_argument>(cp::localization, "CP-011001");
    }
    std::vector<Verdict> verdicts;
    verdicts.reserve(signerInfos.size());
    for (const SignerInfo& signer : signerInfos)
        verdicts.push_back((this->*rule)(data, signer));
    return verdicts;
}

bool VerifySignEngine::allValid(const bytes& data, const std::vector<SignerInfo>& signerInfos, Rule rule)
{
    if (signerInfos.empty()) {
        throw bs::standardError<std::invalid_argument>(cp::localization, "CP-011001");
    }
    // Stops at the first signer that is not valid.
    return std::all_of(signerInfos.begin(), signerInfos.end(), [&](const SignerInfo& signer) {
        return (this->*rule)(data, signer) == Verdict::Valid;
    });
}

bool VerifySignEngine::verifyCades(const bytes& data, const std::vector<SignerInfo>& signerInfos)
{
    return allValid(data, signerInfos, &VerifySignEngine::cadesVerdict);
}

std::vector<VerifySignEngine::Verdict>
VerifySignEngine::verifyCadesSigners(const bytes& data, const std::vector<SignerInfo>& signerInfos)
{
    return verdicts(data, signerInfos, &VerifySignEngine::cadesVerdict);
}

std::vector<VerifySignEngine::Verdict>
VerifySignEngine::verifyCmsSigners(const bytes& data, const std::vector<SignerInfo>& signerInfos)
{
    return verdicts(data, signerInfos, &VerifySignEngine::cmsVerdict);
}

bool VerifySignEngine::verifyWithCertificates(const bytes& data, const std::vector<SignerInfo>& signerInfos)
{
    return allValid(data, signerInfos, &VerifySignEngine::cmsVerdict);
}

bool VerifySignEngine::verifyCertDigest(const SignerInfo& signer)
{
    bs::Logger log("VerifySignEngine::verifyCertDigest");
    const X509& certificate = signer.x509();
    if (certificate.empty()) {
        CertificateNotFound error;
        log.error(error.what());
        throw error;
    }
    const pkcs9::Attributes& attributes = signer.attributes();
    // The older signingCertificate (SHA-1) stands in only where the V2 form
    // is absent; without either the V2 lookup reports the missing attribute.
    const pkcs9::EssCertIdV2 essCertId =
        !attributes.contains(pkcs9::oid::SIGNING_CERTIFICATE_V2) &&
                attributes.contains(pkcs9::oid::SIGNING_CERTIFICATE)
            ? pkcs9::essCertIdV1(attributes.getSingleValue(pkcs9::oid::SIGNING_CERTIFICATE))
            : pkcs9::EssCertIdV2(attributes.getSingleValue(pkcs9::oid::SIGNING_CERTIFICATE_V2));
    const bytes computed = digest(certificate.data(), essCertId.hashAlgorithm, Endian::Big,
                                  gost3411::CRYPTOPRO_PARAM_SET.text());
    if (computed == essCertId.certHash) {
        return true;
    }
    log.error("p_verifySignEngine->digest(x509.data) != EssCertIdV2.digest");
    return false;
}

bool VerifySignEngine::verifyWithCertificate(const bytes& signedOctets, const SignerInfo& signer,
                                             const char* where)
{
    const X509& certificate = signer.x509();
    if (certificate.empty()) {
        CertificateNotFound error;
        bs::Logger(where).error(error.what());
        throw error;
    }
    const PublicKey publicKey = certificate.publicKey(Endian::Big);
    const AlgorithmId algorithm = getSignAlgorithm(signer.digestAlgorithmId());
    const std::string parameters =
        algorithm.isRsa() ? std::string() : getGost3410Params(certificate.gost3410ParamsOid());
    return verifySign(signedOctets, signer.signature(pkcs7::Format::SerialOnly), publicKey, algorithm,
                      parameters, false);
}

bool VerifySignEngine::verifyCadesSign(const SignerInfo& signer)
{
    return verifyWithCertificate(signer.attributes().derEncoding(), signer,
                                 "VerifySignEngine::verifyCadesSign");
}

bool VerifySignEngine::verifyContentSign(const bytes& data, const SignerInfo& signer)
{
    if (data.empty()) {
        throwEmptyData();
    }
    return verifyWithCertificate(data, signer, "VerifySignEngine::verifyContentSign");
}

VerifySignHwDevice::VerifySignHwDevice(std::shared_ptr<DigestEngine> digestEngine,
                                       std::shared_ptr<HardwareDevice> device)
    : VerifySignEngine(std::move(digestEngine)), m_device(std::move(device))
{
    if (!m_device) {
        throw bs::standardError<std::invalid_argument>(cp::localization, "CP-008060");
    }
}

bool VerifySignHwDevice::verifyGostSign(const bytes& data, const bytes& signature, const bytes& publicKey,
                                        const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                                        bool kalvaMode)
{
    bs::Logger log("VerifySignHwDevice::verifySign");
    return m_device->verifySign(data, signature, publicKey, signAlgorithm, paramsOid, kalvaMode);
}

bool VerifySignHwDevice::verifyRsaSign(const bytes& data, const bytes& signature,
                                       const RsaPublicKey& publicKey, const AlgorithmId& digestAlgorithm)
{
    bs::Logger log("VerifySignHwDevice::verifyRsaSign");
    return m_device->verifyRsaSign(data, signature, publicKey, digestAlgorithm);
}
