#include "cryptoprovider/core/key_record.h"

#include <array>
#include <utility>

#include "base/logger.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"
#include "x509/errors.h"

KeyRecord::KeyRecord(std::string_view alias, const AlgorithmId& signAlgorithm, std::string_view algParamsOid,
                     std::string_view cryptoType, const X509& x509)
    : m_alias(alias), m_signAlgorithm(signAlgorithm),
      m_digestAlgorithm(signAlgorithm.empty() ? AlgorithmId() : getDigestAlgorithm(signAlgorithm)),
      m_algParamsOid(algParamsOid), m_cryptoType(cryptoType), m_x509(x509)
{
}

void KeyRecord::check() const
{
    emptyAliasCheck();
    if (m_signAlgorithm.oidRef().empty()) {
        throw UnknownAlgorithm();
    }
    emptyKeyAlgParams();
}

void KeyRecord::emptyAliasCheck() const
{
    if (bs::trim(m_alias).empty()) {
        throw EmptyKeyAlias();
    }
}

void KeyRecord::emptyKeyAlgParams() const
{
    if (m_signAlgorithm.isGost() && m_algParamsOid.empty()) {
        throw Gost3410ECParamsEmpty();
    }
}

void KeyRecord::setAlias(std::string_view alias)
{
    m_alias = bs::trim(alias);
}

void KeyRecord::setSignAlgorithm(const AlgorithmId& signAlgorithm)
{
    if (!signAlgorithm.empty()) {
        m_digestAlgorithm = getDigestAlgorithm(signAlgorithm);
    }
    m_signAlgorithm = signAlgorithm;
}

std::string fullKeyAlias(std::string_view first, std::string_view second)
{
    std::string alias;
    alias.reserve(first.size() + 1 + second.size());
    alias.append(first).append("_").append(second);
    return alias;
}

AlgorithmId findSignAlgorithmIdByParamsId(std::string_view paramsOid)
{
    static const std::array<std::pair<std::string_view, const AlgorithmId*>, 10> table{{
        {crypto_pro_param::A, &GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
        {crypto_pro_param::B, &GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
        {crypto_pro_param::C, &GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
        {crypto_pro_param::XchA, &GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
        {crypto_pro_param::XchB, &GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
        {tc26_gost_3410::paramSetA_256, &GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
        {tc26_gost_3410::paramSetA_512, &GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN},
        {tc26_gost_3410::paramSetB_512, &GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN},
        {tc26_gost_3410::paramSetC_512, &GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN},
        {RSA_ENCRYPTION_OID, &RSA_ENCRYPTION},
    }};
    for (const auto& [oid, algorithm] : table) {
        if (oid == paramsOid) {
            return *algorithm;
        }
    }
    UnsupportedAlgorithm error(paramsOid);
    bs::Logger("findSignAlgorithmIdByParamsId").error(error.what());
    throw error;
}
