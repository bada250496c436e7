// Hashing through whatever implements it for a crypto type: software GOST,
// a PKCS#11 token or the CSP.
#pragma once

#include <mutex>
#include <string_view>

#include "asn1/bytes.h"
#include "cryptoprovider/core/content_source.h"
#include "icrypto/endian.h"
#include "x509/algorithms.h"

class DigestEngine
{
  public:
    DigestEngine() = default;
    DigestEngine(const DigestEngine&) = delete;
    DigestEngine& operator=(const DigestEngine&) = delete;
    virtual ~DigestEngine() = default;

    // Starts a hash; `paramsOid` is the GOST R 34.11-94 parameter set text and
    // is ignored by other algorithms.
    virtual void init(const AlgorithmId& digestAlgorithm, std::string_view paramsOid) = 0;
    virtual void update(const bytes& data) = 0;
    // Finishes the hash. Little is the order the algorithm or token produces,
    // Big that order reversed.
    virtual bytes doFinal(Endian endian) = 0;

    // init, update (skipped for empty data) and doFinal as one step. One
    // engine runs one such digest at a time (its steps share one state: a
    // token session, a CSP hash, a context), so threads sharing an engine
    // get whole digests; digests of different engines run at once. An
    // engine over a means that takes one call at a time serialises its own
    // calls (a PKCS#11 module initialised without OS locking: TokenDigest).
    bytes digest(const bytes& data, const AlgorithmId& algorithm, Endian endian, std::string_view paramsOid);
    // The same over a content read in pieces: one update per piece.
    bytes digest(const ContentSource& content, const AlgorithmId& algorithm, Endian endian,
                 std::string_view paramsOid);

  private:
    std::mutex m_mutex; // one digest of this engine at a time
};
