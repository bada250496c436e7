// The digest and signature-verification engines that use a CSP.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "asn1/bytes.h"
#include "capi/handles.h"
#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/verify_sign_engine.h"

namespace capi
{

// Hashing in a verify-only context of the CSP. GOST R 34.11-94 runs with
// the parameter set given to init; the others ignore it.
class DigestCryptoApi : public DigestEngine
{
  public:
    // Provider type by digest: GOST R 34.11-94 75, GOST R 34.11-2012-256 and
    // every SHA 80, GOST R 34.11-2012-512 81; UnsupportedAlgorithm otherwise.
    // A hash in progress is dropped.
    void init(const AlgorithmId& digestAlgorithm, std::string_view paramsOid) override;
    // DigestContextNotInitialized without init.
    void update(const bytes& data) override;
    // The hash value as the CSP gives it for Endian::Big, GOST values
    // reversed for Endian::Little; ends the hash (DigestContextNotInitialized
    // without init).
    bytes doFinal(Endian endian) override;

  private:
    struct Running {
        Provider provider; // outlives the hash made in it
        Hash hash;
        bool gost;
    };
    std::mutex m_mutex;
    std::optional<Running> m_running;
};

// Verification by the CSP. Keys and signatures arrive in the back end's
// orientation (each coordinate and each half big-endian) and are handed to
// the CSP in its own.
class VerifySignCryptoApi : public VerifySignEngine
{
  public:
    explicit VerifySignCryptoApi(std::shared_ptr<DigestEngine> digestEngine);

    // False for a signature that does not hold; FunctionNotImplemented for a
    // GOST R 34.10-2001 request in legacy-bank mode (the CSP hashes with the
    // CryptoPro parameter set only); other CSP refusals as their exceptions.
    bool verifyGostSign(const bytes& data, const bytes& signature, const bytes& publicKey,
                        const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                        bool kalvaMode) override;
    // `signature` big-endian, as PKCS#1 writes it.
    bool verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                       const AlgorithmId& digestAlgorithm) override;
};

// The check of VerifySignCryptoApi::verifyGostSign, for key stores too.
bool verifyGostSignature(const bytes& data, const bytes& signature, const bytes& publicKey,
                         const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode);

} // namespace capi
