#include "capi/csp_engines.h"

#include <algorithm>
#include <utility>

#include "base/log_and_throw.h"
#include "base/logger.h"
#include "capi/errors.h"
#include "capi/functions.h"
#include "cryptoprovider/core/errors.h"
#include "x509/errors.h"

namespace capi
{

namespace
{

PROV_TYPE digestProviderType(const AlgorithmId& digestAlgorithm)
{
    if (isGost2001(digestAlgorithm)) {
        return PROV_GOST_2001_DH;
    }
    if (isGost2012_256(digestAlgorithm) || digestAlgorithm.isSha()) {
        return PROV_GOST_2012_256;
    }
    if (isGost2012_512(digestAlgorithm)) {
        return PROV_GOST_2012_512;
    }
    bs::logAndThrow(bs::Logger("capi::DigestCryptoApi::init"), UnsupportedAlgorithm(digestAlgorithm.name()));
}

} // namespace

// ---- DigestCryptoApi -------------------------------------------------------------

void DigestCryptoApi::init(const AlgorithmId& digestAlgorithm, std::string_view paramsOid)
{
    const bs::Logger log("capi::DigestCryptoApi::init");
    std::lock_guard lock(m_mutex);
    m_running.reset();
    Provider provider = Provider::verifyContext(digestProviderType(digestAlgorithm));
    Hash hash(provider.get(), digestAlgorithm);
    const bool gost = digestAlgorithm.isGost();
    if (digestAlgorithm == GOST_R_3411_1994 && !paramsOid.empty()) {
        bytes oid(paramsOid.begin(), paramsOid.end());
        oid.push_back(0);
        hash.setParam(HP_PARAMSET_OID, oid, 0);
    }
    m_running.emplace(Running{std::move(provider), std::move(hash), gost});
}

void DigestCryptoApi::update(const bytes& data)
{
    std::lock_guard lock(m_mutex);
    if (!m_running) {
        bs::logAndThrow(bs::Logger("capi::DigestCryptoApi::update"), DigestContextNotInitialized());
    }
    m_running->hash.update(data);
}

bytes DigestCryptoApi::doFinal(Endian endian)
{
    std::lock_guard lock(m_mutex);
    if (!m_running) {
        bs::logAndThrow(bs::Logger("capi::DigestCryptoApi::doFinal"), DigestContextNotInitialized());
    }
    // The hash ends here whatever the outcome.
    const Running running = std::exchange(m_running, std::nullopt).value();
    bytes value = running.hash.doFinal();
    if (running.gost && endian == Endian::Little) {
        std::reverse(value.begin(), value.end());
    }
    return value;
}

// ---- VerifySignCryptoApi -----------------------------------------------------------

VerifySignCryptoApi::VerifySignCryptoApi(std::shared_ptr<DigestEngine> digestEngine)
    : VerifySignEngine(std::move(digestEngine))
{
}

bool verifyGostSignature(const bytes& data, const bytes& signature, const bytes& publicKey,
                         const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode)
{
    const bs::Logger log("capi::VerifySignCryptoApi::verifyGostSign");
    if (kalvaMode && isGost34102001(signAlgorithm)) {
        bs::logAndThrow(log, FunctionNotImplemented());
    }
    try {
        // The CSP takes each half and each coordinate little-endian.
        capi::verifySign(data, reverseHalves(signature), reverseHalves(publicKey), signAlgorithm, paramsOid);
        return true;
    } catch (const WrongSign& e) {
        log.error(e.what());
        return false;
    }
}

bool VerifySignCryptoApi::verifyGostSign(const bytes& data, const bytes& signature, const bytes& publicKey,
                                         const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                                         bool kalvaMode)
{
    return verifyGostSignature(data, signature, publicKey, signAlgorithm, paramsOid, kalvaMode);
}

bool VerifySignCryptoApi::verifyRsaSign(const bytes& data, const bytes& signature,
                                        const RsaPublicKey& publicKey, const AlgorithmId& digestAlgorithm)
{
    const bs::Logger log("capi::VerifySignCryptoApi::verifyRsaSign");
    try {
        capi::verifyRsaSign(data, bytes(signature.rbegin(), signature.rend()), publicKey, digestAlgorithm);
        return true;
    } catch (const WrongSign& e) {
        log.error(e.what());
        return false;
    }
}

} // namespace capi
