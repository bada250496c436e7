#include "capi/functions.h"

#include <set>
#include <stdexcept>

#include "base/encoding.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/strings.h"
#include "capi/errors.h"
#include "capi/wrapper.h"
#include "x509/errors.h"

namespace capi
{

namespace
{

void appendDword(bytes& out, DWORD value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

[[noreturn]] void unknownProvType(const char* function)
{
    bs::logAndThrow(bs::Logger(function),
                    bs::standardError<std::invalid_argument>(localization, "CAPI-000022"));
}

CRYPT_VERIFY_MESSAGE_PARA verifyParameters()
{
    CRYPT_VERIFY_MESSAGE_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    return parameters;
}

} // namespace

std::string versionText(const bytes& value)
{
    std::string text;
    for (const unsigned char byte : value) {
        if (byte == 0 && !text.empty())
            continue;
        text = text.empty() ? std::to_string(byte) : std::to_string(byte) + "." + text;
    }
    return text;
}

std::string version(PROV_TYPE provType)
{
    return versionText(Provider::verifyContext(provType).param(PP_VERSION, 0));
}

std::vector<std::string> availableReaders()
{
    std::vector<std::string> readers;
    Provider::verifyContext(PROV_GOST_2001_DH).enumerate(PP_ENUMREADERS, 0, [&](std::string name) {
        readers.push_back(encoding::cp1251_to_utf8(name));
    });
    return readers;
}

std::vector<std::string> availableContainers(const std::vector<PROV_TYPE>& provTypes, unsigned int flags)
{
    const bs::Logger log("capi::availableContainers");
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (const PROV_TYPE provType : provTypes) {
        try {
            Provider::verifyContext(provType).enumerate(PP_ENUMCONTAINERS, flags, [&](std::string name) {
                std::string utf8 = encoding::cp1251_to_utf8(name);
                if (seen.insert(utf8).second)
                    names.push_back(std::move(utf8));
            });
        } catch (const Error& e) {
            log.warning("provider type " + std::to_string(provType) + ": " + e.what());
        }
    }
    return names;
}

void installCertificateToSystemStore(PROV_TYPE provType, std::string_view container, unsigned long keySpec,
                                     const bytes& certificate)
{
    const bs::Logger log("capi::installCertificateToSystemStore");
    log.info(std::string(container));
    const CertStore store(L"MY");
    const CertContext context(certificate);
    std::wstring containerName = encoding::utf8_to_utf16(container);
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = containerName.data();
    info.dwProvType = provType;
    info.dwKeySpec = static_cast<DWORD>(keySpec);
    const Wrapper& wrapper = *Wrapper::instance();
    if (!wrapper.CertSetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info))
        handleError(wrapper.GetLastError());
    store.addCertificate(context);
}

AlgorithmId signAlgorithmByProvType(PROV_TYPE provType)
{
    switch (provType) {
    case 24:
        return RSA_ENCRYPTION;
    case 2:
    case 75:
        return GOST_R_3410_2001_GOST_R_3411_1994;
    case 77:
    case 80:
        return GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN;
    case 78:
    case 81:
        return GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN;
    default:
        unknownProvType("capi::signAlgorithmByProvType");
    }
}

unsigned int getOidParamByProviderType(PROV_TYPE provType)
{
    switch (provType) {
    case 75:
    case 80:
    case 81:
        return PP_KEY_PARAMSET_OID;
    case 2:
    case 77:
    case 78:
        return PP_KEY_PARAMSET_OID_LEGACY;
    default:
        unknownProvType("capi::getOidParamByProviderType");
    }
}

PROV_TYPE provTypeBySignAlgorithm(const AlgorithmId& signAlgorithm)
{
    if (isGost34102001(signAlgorithm))
        return PROV_GOST_2001_DH;
    if (isGost34102012_256(signAlgorithm))
        return PROV_GOST_2012_256;
    if (isGost34102012_512(signAlgorithm))
        return PROV_GOST_2012_512;
    if (signAlgorithm.isRsa())
        return PROV_RSA_AES;
    bs::logAndThrow(bs::Logger("capi::provTypeBySignAlgorithm"), UnsupportedAlgorithm(signAlgorithm.name()));
}

ALG_ID getDigestAlgorithmId(const AlgorithmId& digest)
{
    static const std::pair<const AlgorithmId*, ALG_ID> NUMBERS[] = {
        {&GOST_R_3411_1994, CALG_GOST_R3411_94},
        {&GOST_R_3411_2012_256, CALG_GOST_R3411_2012_256},
        {&GOST_R_3411_2012_512, CALG_GOST_R3411_2012_512},
        {&SHA_1, CALG_SHA1},
        {&SHA_224, CALG_SHA_224},
        {&SHA_256, CALG_SHA_256},
        {&SHA_384, CALG_SHA_384},
        {&SHA_512, CALG_SHA_512},
    };
    for (const auto& [algorithm, number] : NUMBERS) {
        if (*algorithm == digest)
            return number;
    }
    bs::logAndThrow(bs::Logger("capi::getDigestAlgorithmId"), UnsupportedAlgorithm(digest.name()));
}

ALG_ID getKeyAlgorithmId(const AlgorithmId& signAlgorithm)
{
    if (isGost34102001(signAlgorithm))
        return CALG_GOST_R3410_2001;
    if (isGost34102012_256(signAlgorithm))
        return CALG_GOST_R3410_2012_256;
    if (isGost34102012_512(signAlgorithm))
        return CALG_GOST_R3410_2012_512;
    if (signAlgorithm.isRsa())
        return CALG_RSA_SIGN;
    bs::logAndThrow(bs::Logger("capi::getKeyAlgorithmId"), UnsupportedAlgorithm(signAlgorithm.name()));
}

bytes makePublicKeyBlob(const bytes& publicKey, const AlgorithmId& signAlgorithm, std::string_view paramsOid)
{
    const bs::Logger log("capi::makePublicKeyBlob");
    if (publicKey.empty())
        bs::logAndThrow(log, std::invalid_argument("Public key is empty"));
    if (!signAlgorithm.isGost())
        bs::logAndThrow(log, UnsupportedAlgorithm(signAlgorithm.name()));
    const ALG_ID algorithm = getKeyAlgorithmId(signAlgorithm);
    const unsigned bits = 2 * getKeyParamBits(paramsOid);
    bytes blob{PUBLICKEYBLOB, GOST_BLOB_VERSION, 0, 0};
    appendDword(blob, algorithm);
    appendDword(blob, GOST_PUBKEY_MAGIC);
    appendDword(blob, bits);
    const bytes keyParams = ObjectIdentifier(paramsOid).derEncoding();
    const bytes digestParams = getDigestAlgorithmParams(signAlgorithm).derEncoding();
    blob.insert(blob.end(), keyParams.begin(), keyParams.end());
    blob.insert(blob.end(), digestParams.begin(), digestParams.end());
    blob.insert(blob.end(), publicKey.begin(), publicKey.end());
    return blob;
}

bytes makeRsaPublicKeyBlob(const RsaPublicKey& key)
{
    const bs::Logger log("capi::makeRsaPublicKeyBlob");
    const bytes modulus = key.modulus.empty() ? bytes() : bs::deleteLeadingZeros(key.modulus);
    if (modulus.empty() || (modulus.size() == 1 && modulus[0] == 0))
        bs::logAndThrow(log, std::invalid_argument("Public key is empty"));
    if (key.exponent > 0xFFFFFFFFu)
        bs::logAndThrow(log, std::invalid_argument("RSA public exponent does not fit 32 bits"));
    bytes blob{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, 0};
    appendDword(blob, CALG_RSA_SIGN);
    appendDword(blob, RSA1_MAGIC);
    appendDword(blob, bufferLength(modulus.size() * 8));
    appendDword(blob, static_cast<DWORD>(key.exponent));
    blob.insert(blob.end(), modulus.rbegin(), modulus.rend());
    return blob;
}

void verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                const AlgorithmId& signAlgorithm, std::string_view paramsOid)
{
    const bs::Logger log("capi::verifySign");
    if (data.empty())
        bs::logAndThrow(log, std::invalid_argument("Empty data"));
    const Key key(provTypeBySignAlgorithm(signAlgorithm),
                  makePublicKeyBlob(publicKey, signAlgorithm, paramsOid));
    const Hash hash(key.provider().get(), getDigestAlgorithm(signAlgorithm));
    hash.update(data);
    hash.verify(signature, key);
}

void verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                   const AlgorithmId& digestAlgorithm)
{
    const bs::Logger log("capi::verifyRsaSign()");
    if (data.empty())
        bs::logAndThrow(log, std::invalid_argument("Empty data"));
    const Key key(PROV_RSA_AES, makeRsaPublicKeyBlob(publicKey));
    const Hash hash(key.provider().get(), digestAlgorithm);
    hash.update(data);
    hash.verify(signature, key);
}

void verifyMessageSignature(const bytes& cms)
{
    const bs::Logger log("capi::verify");
    if (cms.empty())
        bs::logAndThrow(log, std::invalid_argument("Empty data"));
    CRYPT_VERIFY_MESSAGE_PARA parameters = verifyParameters();
    const Wrapper& wrapper = *Wrapper::instance();
    if (!wrapper.CryptVerifyMessageSignature(&parameters, 0, cms.data(), bufferLength(cms.size()), nullptr,
                                             nullptr, nullptr))
        handleError(wrapper.GetLastError());
}

void verifyDetachedMessageSignature(const bytes& cms, const bytes& data)
{
    const bs::Logger log("capi::verifyDetached");
    if (cms.empty() || data.empty())
        bs::logAndThrow(log, std::invalid_argument("Empty data"));
    CRYPT_VERIFY_MESSAGE_PARA parameters = verifyParameters();
    const BYTE* content[] = {data.data()};
    DWORD contentSize[] = {bufferLength(data.size())};
    const Wrapper& wrapper = *Wrapper::instance();
    if (!wrapper.CryptVerifyDetachedMessageSignature(&parameters, 0, cms.data(), bufferLength(cms.size()), 1,
                                                     content, contentSize, nullptr))
        handleError(wrapper.GetLastError());
}

} // namespace capi
