// The algorithm vocabulary: algorithm identifiers, their relations, the
// GOST R 34.10 parameter sets and the OIDs of certificate and message
// structures.
#pragma once

// Constants are inline variables so that static tables of other modules that
// are built from them see them initialised first.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "asn1/bytes.h"
#include "asn1/oid.h"

class AlgorithmId
{
  public:
    AlgorithmId() = default;
    AlgorithmId(std::string_view name, std::string_view oid) : m_name(name), m_oid(oid) {}

    // An algorithm outside the catalogue (ECDSA, DSA, RSA-PSS, ...): no name,
    // its OID kept so that callers can report what it is.
    static AlgorithmId unknown(const ObjectIdentifier& oid)
    {
        AlgorithmId alg;
        alg.m_oid = oid;
        return alg;
    }

    std::string name() const { return m_name; }
    ObjectIdentifier oid() const { return m_oid; }
    const std::string& nameRef() const noexcept { return m_name; }
    const ObjectIdentifier& oidRef() const noexcept { return m_oid; }

    bool isGost() const noexcept { return m_name.find("GOST") != std::string::npos; }
    bool isSha() const noexcept { return m_name.find("SHA") != std::string::npos; }
    bool isRsa() const noexcept { return m_name.find("RSA") != std::string::npos; }
    bool empty() const noexcept { return m_name.empty() && m_oid.empty(); }
    bool isUnknown() const noexcept { return m_name.empty() && !m_oid.empty(); }

    // AlgorithmIdentifier SEQUENCE { OID, NULL }. The NULL is left out only
    // for plain SHA digests when `withNull` is false.
    bytes derEncoding(bool withNull) const;

    // Equal when derEncoding(false) is: the same identifier, and a NULL on
    // both sides or on neither.
    friend bool operator==(const AlgorithmId& a, const AlgorithmId& b)
    {
        return a.omitsNull() == b.omitsNull() && a.m_oid.sameEncoding(b.m_oid);
    }
    friend bool operator!=(const AlgorithmId& a, const AlgorithmId& b) { return !(a == b); }

  private:
    // Plain SHA digests leave the NULL out when allowed.
    bool omitsNull() const noexcept { return isSha() && !isRsa(); }

    std::string m_name;
    ObjectIdentifier m_oid;
};

using AlgorithmPair = std::pair<AlgorithmId, AlgorithmId>;
using AlgorithmParamsPair = std::pair<AlgorithmId, std::string_view>;

inline const AlgorithmId GOST_R_3411_1994{"GOST R 34.11-1994", "1.2.643.2.2.9"};
inline const AlgorithmId GOST_R_3411_2012_256{"GOST R 34.11-2012-256", "1.2.643.7.1.1.2.2"};
inline const AlgorithmId GOST_R_3411_2012_512{"GOST R 34.11-2012-512", "1.2.643.7.1.1.2.3"};
inline const AlgorithmId SHA_1{"SHA1", "1.3.14.3.2.26"};
inline const AlgorithmId SHA_224{"SHA224", "2.16.840.1.101.3.4.2.4"};
inline const AlgorithmId SHA_256{"SHA256", "2.16.840.1.101.3.4.2.1"};
inline const AlgorithmId SHA_384{"SHA384", "2.16.840.1.101.3.4.2.2"};
inline const AlgorithmId SHA_512{"SHA512", "2.16.840.1.101.3.4.2.3"};
inline const AlgorithmId ECR_3410_2001{"GOST ECR 3410", "1.3.6.1.4.1.5849.1.6.2"};
inline const AlgorithmId GOST_R_3410_2001{"GOST R 34.10-2001", "1.2.643.2.2.19"};
inline const AlgorithmId GOST_R_3410_2001_GOST_R_3411_1994{"GOST R 34.10-2001/GOST R 34.11-94",
                                                           "1.2.643.2.2.3"};
inline const AlgorithmId GOST_R_3410_2012_256{"GOST R 34.10-2012-256", "1.2.643.7.1.1.1.1"};
inline const AlgorithmId GOST_R_3410_2012_512{"GOST R 34.10-2012-512", "1.2.643.7.1.1.1.2"};
inline const AlgorithmId GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN{
    "GOST R 34.10-2012-256/GOST R 34.11-2012-256", "1.2.643.7.1.1.3.2"};
inline const AlgorithmId GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN{
    "GOST R 34.10-2012-512/GOST R 34.11-2012-512", "1.2.643.7.1.1.3.3"};
inline const AlgorithmId RSA_ENCRYPTION{"RSA encryption", "1.2.840.113549.1.1.1"};
inline const AlgorithmId SHA1_WITH_RSA_ENCRYPTION{"SHA-1 with RSA Encryption", "1.2.840.113549.1.1.5"};
inline const AlgorithmId SHA224_WITH_RSA_ENCRYPTION{"SHA-224 with RSA Encryption", "1.2.840.113549.1.1.14"};
inline const AlgorithmId SHA256_WITH_RSA_ENCRYPTION{"SHA-256 with RSA Encryption", "1.2.840.113549.1.1.11"};
inline const AlgorithmId SHA384_WITH_RSA_ENCRYPTION{"SHA-384 with RSA Encryption", "1.2.840.113549.1.1.12"};
inline const AlgorithmId SHA512_WITH_RSA_ENCRYPTION{"SHA-512 with RSA Encryption", "1.2.840.113549.1.1.13"};
inline const AlgorithmId GOST_28147{"GOST 28147-89", "1.2.643.2.2.21"};
inline const AlgorithmId GOST_R3412_2015_M{"GOST R 34.12-2015 M", "1.2.643.7.1.1.5.1"};
inline const AlgorithmId GOST_R3412_2015_K{"GOST R 34.12-2015 K", "1.2.643.7.1.1.5.2"};

inline constexpr std::string_view RSA_ENCRYPTION_OID = "1.2.840.113549.1.1.1";

// Lookups return the first match, so the order of these lists matters.
inline const std::vector<AlgorithmId> DIGEST_ALGORITHMS{
    GOST_R_3411_1994, GOST_R_3411_2012_256, GOST_R_3411_2012_512, SHA_1, SHA_224, SHA_256, SHA_384, SHA_512};
inline const std::vector<AlgorithmId> SIGN_ALGORITHMS{GOST_R_3410_2001,
                                                      GOST_R_3410_2001_GOST_R_3411_1994,
                                                      ECR_3410_2001,
                                                      GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
                                                      GOST_R_3410_2012_256,
                                                      GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN,
                                                      GOST_R_3410_2012_512,
                                                      SHA1_WITH_RSA_ENCRYPTION,
                                                      SHA224_WITH_RSA_ENCRYPTION,
                                                      SHA256_WITH_RSA_ENCRYPTION,
                                                      SHA384_WITH_RSA_ENCRYPTION,
                                                      SHA512_WITH_RSA_ENCRYPTION,
                                                      RSA_ENCRYPTION};
inline const std::vector<AlgorithmId> ENCRYPTION_ALGORITHMS{GOST_28147, GOST_R3412_2015_M, GOST_R3412_2015_K,
                                                            RSA_ENCRYPTION};
// (digest, signature)
inline const std::vector<AlgorithmPair> SUPPORTED_ALGORITHMS{
    {GOST_R_3411_1994, GOST_R_3410_2001},
    {GOST_R_3411_1994, GOST_R_3410_2001_GOST_R_3411_1994},
    {GOST_R_3411_1994, ECR_3410_2001},
    {GOST_R_3411_2012_256, GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
    {GOST_R_3411_2012_256, GOST_R_3410_2012_256},
    {GOST_R_3411_2012_512, GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN},
    {GOST_R_3411_2012_512, GOST_R_3410_2012_512},
    {SHA_1, SHA1_WITH_RSA_ENCRYPTION},
    {SHA_1, RSA_ENCRYPTION},
    {SHA_224, SHA224_WITH_RSA_ENCRYPTION},
    {SHA_224, RSA_ENCRYPTION},
    {SHA_256, SHA256_WITH_RSA_ENCRYPTION},
    {SHA_256, RSA_ENCRYPTION},
    {SHA_384, SHA384_WITH_RSA_ENCRYPTION},
    {SHA_384, RSA_ENCRYPTION},
    {SHA_512, SHA512_WITH_RSA_ENCRYPTION},
    {SHA_512, RSA_ENCRYPTION},
};
// (public-key algorithm, signature)
inline const std::vector<AlgorithmPair> PUBLIC_KEY_SIGN_ALGORITHMS{
    {GOST_R_3410_2001, GOST_R_3410_2001},
    {GOST_R_3410_2001, GOST_R_3410_2001_GOST_R_3411_1994},
    {GOST_R_3410_2001, ECR_3410_2001},
    {GOST_R_3410_2012_256, GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
    {GOST_R_3410_2012_256, GOST_R_3410_2012_256},
    {GOST_R_3410_2012_512, GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN},
    {GOST_R_3410_2012_512, GOST_R_3410_2012_512},
    {RSA_ENCRYPTION, SHA1_WITH_RSA_ENCRYPTION},
    {RSA_ENCRYPTION, SHA224_WITH_RSA_ENCRYPTION},
    {RSA_ENCRYPTION, SHA256_WITH_RSA_ENCRYPTION},
    {RSA_ENCRYPTION, SHA384_WITH_RSA_ENCRYPTION},
    {RSA_ENCRYPTION, SHA512_WITH_RSA_ENCRYPTION},
    {RSA_ENCRYPTION, RSA_ENCRYPTION},
};

namespace crypto_pro_param
{
inline constexpr std::string_view TEST = "1.2.643.2.2.35.0";
inline constexpr std::string_view A = "1.2.643.2.2.35.1";
inline constexpr std::string_view B = "1.2.643.2.2.35.2";
inline constexpr std::string_view C = "1.2.643.2.2.35.3";
inline constexpr std::string_view XchA = "1.2.643.2.2.36.0";
inline constexpr std::string_view XchB = "1.2.643.2.2.36.1";
inline constexpr std::string_view SECP256R1 = "1.2.840.10045.3.1.7";
} // namespace crypto_pro_param

namespace tc26_gost_3410
{
inline constexpr std::string_view paramSetA_256 = "1.2.643.7.1.2.1.1.1";
inline constexpr std::string_view paramSetB_256 = "1.2.643.7.1.2.1.1.2";
inline constexpr std::string_view paramSetC_256 = "1.2.643.7.1.2.1.1.3";
inline constexpr std::string_view paramSetD_256 = "1.2.643.7.1.2.1.1.4";
inline constexpr std::string_view paramSetA_512 = "1.2.643.7.1.2.1.2.1";
inline constexpr std::string_view paramSetB_512 = "1.2.643.7.1.2.1.2.2";
inline constexpr std::string_view paramSetC_512 = "1.2.643.7.1.2.1.2.3";
} // namespace tc26_gost_3410

namespace gost3411
{
inline const ObjectIdentifier TEST_PARAM_SET{"1.2.643.2.2.30.0"};
inline const ObjectIdentifier CRYPTOPRO_PARAM_SET{"1.2.643.2.2.30.1"};
// Text of the test set when `test`, of the CryptoPro set otherwise.
std::string paramSet(bool test);
} // namespace gost3411

// (signature algorithm, parameter-set OID)
inline const std::vector<AlgorithmParamsPair> GOST3410_2001_COMPATIBLE_TABLE{
    {ECR_3410_2001, crypto_pro_param::TEST},
    {ECR_3410_2001, crypto_pro_param::A},
    {ECR_3410_2001, crypto_pro_param::B},
    {ECR_3410_2001, crypto_pro_param::C},
    {ECR_3410_2001, crypto_pro_param::SECP256R1},
    {ECR_3410_2001, crypto_pro_param::XchA},
    {ECR_3410_2001, crypto_pro_param::XchB},
    {GOST_R_3410_2001, crypto_pro_param::TEST},
    {GOST_R_3410_2001, crypto_pro_param::A},
    {GOST_R_3410_2001, crypto_pro_param::B},
    {GOST_R_3410_2001, crypto_pro_param::C},
    {GOST_R_3410_2001, crypto_pro_param::SECP256R1},
    {GOST_R_3410_2001, crypto_pro_param::XchA},
    {GOST_R_3410_2001, crypto_pro_param::XchB},
    {GOST_R_3410_2001_GOST_R_3411_1994, crypto_pro_param::TEST},
    {GOST_R_3410_2001_GOST_R_3411_1994, crypto_pro_param::A},
    {GOST_R_3410_2001_GOST_R_3411_1994, crypto_pro_param::B},
    {GOST_R_3410_2001_GOST_R_3411_1994, crypto_pro_param::C},
    {GOST_R_3410_2001_GOST_R_3411_1994, crypto_pro_param::SECP256R1},
    {GOST_R_3410_2001_GOST_R_3411_1994, crypto_pro_param::XchA},
    {GOST_R_3410_2001_GOST_R_3411_1994, crypto_pro_param::XchB},
};
inline const std::vector<AlgorithmParamsPair> GOST3410_2012_256_COMPATIBLE_TABLE{
    {GOST_R_3410_2012_256, crypto_pro_param::A},
    {GOST_R_3410_2012_256, crypto_pro_param::B},
    {GOST_R_3410_2012_256, crypto_pro_param::C},
    {GOST_R_3410_2012_256, crypto_pro_param::XchA},
    {GOST_R_3410_2012_256, crypto_pro_param::XchB},
    {GOST_R_3410_2012_256, tc26_gost_3410::paramSetA_256},
    {GOST_R_3410_2012_256, tc26_gost_3410::paramSetB_256},
    {GOST_R_3410_2012_256, tc26_gost_3410::paramSetC_256},
    {GOST_R_3410_2012_256, tc26_gost_3410::paramSetD_256},
    {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, crypto_pro_param::A},
    {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, crypto_pro_param::B},
    {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, crypto_pro_param::C},
    {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, crypto_pro_param::XchA},
    {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, crypto_pro_param::XchB},
    {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, tc26_gost_3410::paramSetA_256},
    {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, tc26_gost_3410::paramSetB_256},
    {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, tc26_gost_3410::paramSetC_256},
    {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, tc26_gost_3410::paramSetD_256},
};
inline const std::vector<AlgorithmParamsPair> GOST3410_2012_512_COMPATIBLE_TABLE{
    {GOST_R_3410_2012_512, tc26_gost_3410::paramSetA_512},
    {GOST_R_3410_2012_512, tc26_gost_3410::paramSetB_512},
    {GOST_R_3410_2012_512, tc26_gost_3410::paramSetC_512},
    {GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, tc26_gost_3410::paramSetA_512},
    {GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, tc26_gost_3410::paramSetB_512},
    {GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, tc26_gost_3410::paramSetC_512},
};
inline const std::vector<std::vector<AlgorithmParamsPair>> GOST3410_COMPATIBLE_TABLE{
    GOST3410_2001_COMPATIBLE_TABLE, GOST3410_2012_256_COMPATIBLE_TABLE, GOST3410_2012_512_COMPATIBLE_TABLE};

namespace cert
{
inline const ObjectIdentifier COMMON_NAME_OID{"2.5.4.3"};
inline const ObjectIdentifier SURNAME_OID{"2.5.4.4"};
inline const ObjectIdentifier SERIAL_NUMBER_OID{"2.5.4.5"};
inline const ObjectIdentifier COUNTRY_NAME_OID{"2.5.4.6"};
inline const ObjectIdentifier LOCALITY_NAME_OID{"2.5.4.7"};
inline const ObjectIdentifier STATE_OR_PROVINCE_NAME_OID{"2.5.4.8"};
inline const ObjectIdentifier STREET_ADDRESS_OID{"2.5.4.9"};
inline const ObjectIdentifier ORGANIZATION_NAME_OID{"2.5.4.10"};
inline const ObjectIdentifier ORGANIZATIONAL_UNIT_NAME_OID{"2.5.4.11"};
inline const ObjectIdentifier TITLE_OID{"2.5.4.12"};
inline const ObjectIdentifier POSTAL_ADDRESS_OID{"2.5.4.16"};
inline const ObjectIdentifier GIVENNAME_OID{"2.5.4.42"};
inline const ObjectIdentifier PSEUDONYM_OID{"2.5.4.65"};
inline const ObjectIdentifier EMAIL_ADDRESS_OID{"1.2.840.113549.1.9.1"};
inline const ObjectIdentifier UNSTRUCTURED_NAME_OID{"1.2.840.113549.1.9.2"};
inline const ObjectIdentifier INN_OID{"1.2.643.3.131.1.1"};
inline const ObjectIdentifier RNS_FSS_OID{"1.2.643.3.141.1.1"};
inline const ObjectIdentifier KP_FSS_OID{"1.2.643.3.141.1.2"};
inline const ObjectIdentifier OGRN_OID{"1.2.643.100.1"};
inline const ObjectIdentifier SNILS_OID{"1.2.643.100.3"};
inline const ObjectIdentifier OGRNIP_OID{"1.2.643.100.5"};
inline const ObjectIdentifier SUBJECT_KEY_IDENTIFIER{"2.5.29.14"};
inline const ObjectIdentifier ISSUER_KEY_IDENTIFIER{"2.5.29.35"};
} // namespace cert

inline const ObjectIdentifier KEY_USAGE_OID{"2.5.29.15"};
inline const ObjectIdentifier BASIC_CONSTRAINTS_OID{"2.5.29.19"};
inline const ObjectIdentifier CERTIFICATE_POLICIES_OID{"2.5.29.32"};
inline const ObjectIdentifier EXTENDED_KEY_USAGE_OID{"2.5.29.37"};
inline const ObjectIdentifier EXTENSION_REQUEST_OID{"1.2.840.113549.1.9.14"};
inline const ObjectIdentifier SUBJECT_SIGN_TOOL_OID{"1.2.643.100.111"};
inline const ObjectIdentifier SIGNED_DATA_OID{"1.2.840.113549.1.7.2"};

namespace pkcs7
{
inline const ObjectIdentifier SUBJECT_SIGN_TOOL_OID = ::SUBJECT_SIGN_TOOL_OID;
} // namespace pkcs7

namespace pkcs9::oid
{
inline const ObjectIdentifier DATA{"1.2.840.113549.1.7.1"};
inline const ObjectIdentifier ENVELOPED_DATA{"1.2.840.113549.1.7.3"};
inline const ObjectIdentifier CONTENT_TYPE{"1.2.840.113549.1.9.3"};
inline const ObjectIdentifier MESSAGE_DIGEST{"1.2.840.113549.1.9.4"};
inline const ObjectIdentifier SIGNING_TIME{"1.2.840.113549.1.9.5"};
inline const ObjectIdentifier CONTENT_IDENTIFIER{"1.2.840.113549.1.9.16.2.7"};
inline const ObjectIdentifier CONTENT_REFERENCE{"1.2.840.113549.1.9.16.2.10"};
inline const ObjectIdentifier SIGNING_CERTIFICATE_V2{"1.2.840.113549.1.9.16.2.47"};
} // namespace pkcs9::oid

// Lookups: linear, first match wins.
AlgorithmId findDigestAlgorithmId(const bytes& der);
AlgorithmId findDigestAlgorithmId(const ObjectIdentifier& oid);
AlgorithmId findSignAlgorithmId(std::string_view name);
AlgorithmId findSignAlgorithmId(const ObjectIdentifier& oid);
AlgorithmId findSignAlgorithmId(const bytes& der);
AlgorithmId findEncryptAlgorithmId(const ObjectIdentifier& oid);
AlgorithmId getDigestAlgorithm(const AlgorithmId& sign);
AlgorithmId getSignAlgorithm(const AlgorithmId& digest);
AlgorithmId getPublicKeyAlgorithmBySign(const AlgorithmId& sign);
bool isDigestAlgorithm(const AlgorithmId& alg);
bool isSignAlgorithm(const AlgorithmId& alg);
AlgorithmId getShaAlgorithmByDigest(const bytes& digest);

// Families.
bool isGost2001(const AlgorithmId& alg);
bool isGost34102001(const AlgorithmId& alg);
bool isGost2012_256(const AlgorithmId& alg);
bool isGost34102012_256(const AlgorithmId& alg);
bool isGost2012_512(const AlgorithmId& alg);
bool isGost34102012_512(const AlgorithmId& alg);

// Digest-parameter OID of GOST public-key parameters for a signature
// algorithm.
ObjectIdentifier getDigestAlgorithmParams(const AlgorithmId& sign);
// Display name of a parameter set within the family of `alg`; the OID text
// itself when unknown.
std::string gost3410ParamName(const AlgorithmId& alg, std::string_view paramsOid);
// Gost3410ECParamsIncompatible when a GOST `alg` does not go with the set.
void checkGost3410Params(const AlgorithmId& alg, std::string_view paramsOid);
// Key size in bits of a parameter set.
unsigned getKeyParamBits(const ObjectIdentifier& paramsOid);
unsigned getKeyParamBits(std::string_view paramsOid);
// Device parameter identifier of a parameter set (XchA falls back to A,
// XchB to C).
std::uint8_t getGost3410AlgParamsId(std::string_view paramsOid,
                                    const std::map<std::uint8_t, std::string_view>& ids);
