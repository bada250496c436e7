// The key record kept on a token next to each key: its alias, identifiers and
// GOST parameter set in a few bytes, with the alias compressed by a fixed
// table of Russian letter groups. PKCS#11 tokens write the version-1 form;
// the confirmation token the version-2 form with its algorithm byte.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"
#include "cryptoprovider/core/key_record.h"
#include "x509/algorithms.h"

// Layout of a key record: version 1 (PKCS#11 tokens) ends with the alias,
// version 2 (the confirmation token) appends the signature algorithm index.
enum class FORMAT_VERSION : std::uint8_t {
    V1 = 1,
    V2 = 2,
};

// Signature algorithms of version-2 records, by the index stored in their
// last byte.
inline const std::vector<AlgorithmId> VEL_TOKEN_SIGN_ALGORITHMS{
    GOST_R_3410_2001,
    GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
    GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN,
};

// Compresses a Windows-1251 alias: words, then four-, three- and two-letter
// groups, each replaced by its code byte wherever it occurs. The result never
// holds a line-break byte that the alias did not hold.
std::string encodeAlias(std::string_view cp1251);
// The reverse walk: every code byte becomes its group again, so a code byte
// that stood in the alias literally does not survive a round trip.
std::string decodeAlias(std::string_view encoded);

class TokenKeyRecord : public KeyRecord
{
  public:
    // The token model's parameter sets: index stored in records to OID.
    using ParamSets = std::map<std::uint8_t, std::string_view>;

    // Parses a version-1 record (at least 12 bytes, else
    // std::invalid_argument). The algorithm is GOST R 34.10-2001 for
    // `legacy2001`, else the one of the parameter set (UnsupportedAlgorithm
    // when the index is not in `paramSets` or its set is unknown).
    TokenKeyRecord(std::uint8_t id, const bytes& data, const ParamSets& paramSets, std::string_view cryptoType,
                   bool legacy2001);
    // Parses a version-2 record: the version-1 part with id 255, then the
    // algorithm index (UnknownAlgorithm beyond VEL_TOKEN_SIGN_ALGORITHMS).
    TokenKeyRecord(const bytes& data, const ParamSets& paramSets, std::string_view cryptoType);
    // A record from its values; the parameter set must be in `paramSets`
    // (getGost3410AlgParamsId).
    TokenKeyRecord(std::string_view alias, std::uint16_t systemId, std::uint64_t externalId,
                   const AlgorithmId& signAlgorithm, std::string_view paramsOid, const ParamSets& paramSets,
                   std::uint8_t id, std::string_view cryptoType);

    // The record bytes, big-endian integers, the alias in Windows-1251 and
    // encoded. Version 2 appends the algorithm index (UnsupportedAlgorithm
    // for an algorithm outside VEL_TOKEN_SIGN_ALGORITHMS).
    bytes data(FORMAT_VERSION version) const;

    std::uint8_t paramSetIndex() const noexcept { return m_paramSetIndex; }

  private:
    // The version-1 fields; `data` must already be of a valid length.
    void parse(std::uint8_t id, const bytes& data, const ParamSets& paramSets, std::string_view cryptoType,
               bool legacy2001);

    std::uint8_t m_paramSetIndex = 0;
};
