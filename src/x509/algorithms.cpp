#include "x509/algorithms.h"

#include <array>

#include "asn1/der.h"
#include "x509/errors.h"

bytes AlgorithmId::derEncoding(bool withNull) const
{
    std::vector<bytes> elements{der::encode(m_oid)};
    if (withNull || !omitsNull()) {
        elements.push_back(der::encode());
    }
    return der::encode(elements);
}

namespace gost3411
{

std::string paramSet(bool test)
{
    return test ? TEST_PARAM_SET.toString() : CRYPTOPRO_PARAM_SET.toString();
}

} // namespace gost3411

AlgorithmId findDigestAlgorithmId(const bytes& der)
{
    for (const auto& [digest, sign] : SUPPORTED_ALGORITHMS) {
        if (der == digest.derEncoding(true) || der == digest.derEncoding(false)) {
            return digest;
        }
    }
    throw UnknownAlgorithm();
}

AlgorithmId findDigestAlgorithmId(const ObjectIdentifier& oid)
{
    for (const auto& [digest, sign] : SUPPORTED_ALGORITHMS) {
        if (digest.oidRef() == oid) {
            return digest;
        }
    }
    throw UnsupportedAlgorithm(oid.toString());
}

AlgorithmId findSignAlgorithmId(std::string_view name)
{
    for (const auto& [digest, sign] : SUPPORTED_ALGORITHMS) {
        if (sign.nameRef() == name) {
            return sign;
        }
    }
    throw UnsupportedAlgorithm(name);
}

AlgorithmId findSignAlgorithmId(const ObjectIdentifier& oid)
{
    for (const auto& [digest, sign] : SUPPORTED_ALGORITHMS) {
        if (sign.oidRef() == oid) {
            return sign;
        }
    }
    throw UnsupportedAlgorithm(oid.toString());
}

AlgorithmId findSignAlgorithmId(const bytes& der)
{
    for (const auto& [digest, sign] : SUPPORTED_ALGORITHMS) {
        if (der == sign.derEncoding(false) || der == der::encode(sign.oidRef())) {
            return sign;
        }
    }
    throw UnknownAlgorithm();
}

AlgorithmId findEncryptAlgorithmId(const ObjectIdentifier& oid)
{
    for (const auto& alg : ENCRYPTION_ALGORITHMS) {
        if (alg.oidRef() == oid) {
            return alg;
        }
    }
    throw UnsupportedAlgorithm(oid.toString());
}

AlgorithmId getDigestAlgorithm(const AlgorithmId& sign)
{
    for (const auto& [digest, s] : SUPPORTED_ALGORITHMS) {
        if (s == sign) {
            return digest;
        }
    }
    throw UnsupportedAlgorithm(sign.oidRef().toString());
}

AlgorithmId getSignAlgorithm(const AlgorithmId& digest)
{
    for (const auto& [d, sign] : SUPPORTED_ALGORITHMS) {
        if (d == digest) {
            return sign;
        }
    }
    throw UnsupportedAlgorithm(digest.oidRef().toString());
}

AlgorithmId getPublicKeyAlgorithmBySign(const AlgorithmId& sign)
{
    for (const auto& [publicKey, s] : PUBLIC_KEY_SIGN_ALGORITHMS) {
        if (s == sign) {
            return publicKey;
        }
    }
    throw UnsupportedAlgorithm(sign.oidRef().toString());
}

namespace
{

bool isOneOf(const AlgorithmId& alg, std::initializer_list<const AlgorithmId*> family)
{
    for (const AlgorithmId* member : family) {
        if (*member == alg) {
            return true;
        }
    }
    return false;
}

bool contains(const std::vector<AlgorithmId>& list, const AlgorithmId& alg)
{
    for (const auto& member : list) {
        if (member == alg) {
            return true;
        }
    }
    return false;
}

} // namespace

bool isDigestAlgorithm(const AlgorithmId& alg)
{
    return contains(DIGEST_ALGORITHMS, alg);
}

bool isSignAlgorithm(const AlgorithmId& alg)
{
    return contains(SIGN_ALGORITHMS, alg);
}

AlgorithmId getShaAlgorithmByDigest(const bytes& digest)
{
    switch (digest.size()) {
    case 20:
        return SHA_1;
    case 28:
        return SHA_224;
    case 32:
        return SHA_256;
    case 48:
        return SHA_384;
    case 64:
        return SHA_512;
    default:
        throw UnknownAlgorithm();
    }
}

bool isGost34102001(const AlgorithmId& alg)
{
    return isOneOf(alg, {&GOST_R_3410_2001_GOST_R_3411_1994, &GOST_R_3410_2001, &ECR_3410_2001});
}

bool isGost2001(const AlgorithmId& alg)
{
    return isGost34102001(alg) || alg == GOST_R_3411_1994;
}

bool isGost34102012_256(const AlgorithmId& alg)
{
    return isOneOf(alg, {&GOST_R_3410_2012_256, &GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN});
}

bool isGost2012_256(const AlgorithmId& alg)
{
    return isGost34102012_256(alg) || alg == GOST_R_3411_2012_256;
}

bool isGost34102012_512(const AlgorithmId& alg)
{
    return isOneOf(alg, {&GOST_R_3410_2012_512, &GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN});
}

bool isGost2012_512(const AlgorithmId& alg)
{
    return isGost34102012_512(alg) || alg == GOST_R_3411_2012_512;
}

ObjectIdentifier getDigestAlgorithmParams(const AlgorithmId& sign)
{
    if (isGost34102001(sign)) {
        return gost3411::CRYPTOPRO_PARAM_SET;
    }
    return getDigestAlgorithm(sign).oid();
}

namespace
{

struct ParamName {
    std::string_view oid;
    std::string_view name;
};

namespace cp = crypto_pro_param;
namespace tc = tc26_gost_3410;

constexpr std::array<ParamName, 7> PARAM_NAMES_2001{{
    {cp::TEST, "id-GostR3410-2001-TestParamSet"},
    {cp::A, "id-GostR3410-2001-CryptoPro-A-ParamSet"},
    {cp::B, "id-GostR3410-2001-CryptoPro-B-ParamSet"},
    {cp::C, "id-GostR3410-2001-CryptoPro-C-ParamSet"},
    {cp::XchA, "id-GostR3410-2001-CryptoPro-XchA-ParamSet"},
    {cp::XchB, "id-GostR3410-2001-CryptoPro-XchB-ParamSet"},
    {cp::SECP256R1, "secp256r1"},
}};

constexpr std::array<ParamName, 9> PARAM_NAMES_2012_256{{
    {cp::A, "id-GostR3410-2012-256-CryptoPro-A-ParamSet"},
    {cp::B, "id-GostR3410-2012-256-CryptoPro-B-ParamSet"},
    {cp::C, "id-GostR3410-2012-256-CryptoPro-C-ParamSet"},
    {cp::XchA, "id-GostR3410-2012-256-CryptoPro-XchA-ParamSet"},
    {cp::XchB, "id-GostR3410-2012-256-CryptoPro-XchB-ParamSet"},
    {tc::paramSetA_256, "id-tc26-gost-3410-12-256-paramSetA"},
    {tc::paramSetB_256, "id-tc26-gost-3410-12-256-paramSetB"},
    {tc::paramSetC_256, "id-tc26-gost-3410-12-256-paramSetC"},
    {tc::paramSetD_256, "id-tc26-gost-3410-12-256-paramSetD"},
}};

constexpr std::array<ParamName, 3> PARAM_NAMES_2012_512{{
    {tc::paramSetA_512, "id-tc26-gost-3410-12-512-paramSetA"},
    {tc::paramSetB_512, "id-tc26-gost-3410-12-512-paramSetB"},
    {tc::paramSetC_512, "id-tc26-gost-3410-12-512-paramSetC"},
}};

template <std::size_t N> std::string nameIn(const std::array<ParamName, N>& names, std::string_view paramsOid)
{
    for (const auto& entry : names) {
        if (entry.oid == paramsOid) {
            return std::string(entry.name);
        }
    }
    return std::string(paramsOid);
}

} // namespace

std::string gost3410ParamName(const AlgorithmId& alg, std::string_view paramsOid)
{
    if (isGost2001(alg)) {
        return nameIn(PARAM_NAMES_2001, paramsOid);
    }
    if (isGost2012_256(alg)) {
        return nameIn(PARAM_NAMES_2012_256, paramsOid);
    }
    if (isGost2012_512(alg)) {
        return nameIn(PARAM_NAMES_2012_512, paramsOid);
    }
    return std::string(paramsOid);
}

void checkGost3410Params(const AlgorithmId& alg, std::string_view paramsOid)
{
    if (!alg.isGost()) {
        return;
    }
    for (const auto& table : GOST3410_COMPATIBLE_TABLE) {
        for (const auto& [sign, params] : table) {
            if (params == paramsOid && sign == alg) {
                return;
            }
        }
    }
    throw Gost3410ECParamsIncompatible();
}

namespace
{

// An unsupported parameter set with no text at all reads as "empty".
[[noreturn]] void throwUnsupported(std::string_view paramsOid)
{
    if (paramsOid.empty()) {
        throw Gost3410ECParamsEmpty();
    }
    throw Gost3410ECParamsUnsupported(paramsOid);
}

} // namespace

unsigned getKeyParamBits(const ObjectIdentifier& paramsOid)
{
    return getKeyParamBits(std::string_view(paramsOid.toString()));
}

unsigned getKeyParamBits(std::string_view paramsOid)
{
    for (std::string_view oid :
         {cp::TEST, cp::A, cp::B, cp::C, cp::XchA, cp::XchB, cp::SECP256R1, tc::paramSetA_256,
          tc::paramSetB_256, tc::paramSetC_256, tc::paramSetD_256}) {
        if (oid == paramsOid) {
            return 256;
        }
    }
    for (std::string_view oid : {tc::paramSetA_512, tc::paramSetB_512, tc::paramSetC_512}) {
        if (oid == paramsOid) {
            return 512;
        }
    }
    throwUnsupported(paramsOid);
}

std::uint8_t getGost3410AlgParamsId(std::string_view paramsOid,
                                    const std::map<std::uint8_t, std::string_view>& ids)
{
    const auto find = [&ids](std::string_view oid) -> const std::uint8_t* {
        for (const auto& [id, text] : ids) {
            if (text == oid) {
                return &id;
            }
        }
        return nullptr;
    };
    const std::uint8_t* id = find(paramsOid);
    if (id == nullptr && paramsOid == cp::XchA) {
        id = find(cp::A);
    } else if (id == nullptr && paramsOid == cp::XchB) {
        id = find(cp::C);
    }
    if (id == nullptr) {
        throwUnsupported(paramsOid);
    }
    return *id;
}
