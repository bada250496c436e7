#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/der.h"
#include "asn1/openssl_tool.h"
#include "base/conv.h"
#include "base/localization.h"
#include "support/hex.h"
#include "x509/algorithms.h"
#include "x509/errors.h"

namespace
{

// Expected encodings were taken from `openssl asn1parse -genstr OID:...`.
TEST(AlgorithmId, DerEncodingCarriesNullExceptForPlainSha)
{
    struct Case {
        const AlgorithmId* alg;
        bool withNull;
        const char* der;
    };
    const Case cases[] = {
        {&SHA_256, false, "300B0609608648016503040201"},
        {&SHA_256, true, "300D06096086480165030402010500"},
        {&SHA_1, false, "300706052B0E03021A"},
        {&GOST_R_3411_2012_256, false, "300C06082A850307010102020500"},
        {&GOST_R_3410_2001, false, "300A06062A85030202130500"},
        {&SHA256_WITH_RSA_ENCRYPTION, false, "300D06092A864886F70D01010B0500"},
        {&RSA_ENCRYPTION, false, "300D06092A864886F70D0101010500"},
        {&ECR_3410_2001, false, "300E060A2B06010401AD590106020500"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(conv::bytes_to_hex(c.alg->derEncoding(c.withNull)), c.der) << c.alg->name();
    }
}

TEST(AlgorithmId, ValueSemantics)
{
    EXPECT_TRUE(AlgorithmId().empty());
    EXPECT_FALSE(SHA_1.empty());
    EXPECT_EQ(AlgorithmId("SHA-2 256", "2.16.840.1.101.3.4.2.1"), SHA_256);
    EXPECT_NE(SHA_256, SHA256_WITH_RSA_ENCRYPTION);
    // Equality is by encoding: a SHA name without NULL differs from the same
    // OID under a non-SHA name (which carries NULL).
    EXPECT_NE(AlgorithmId("x", "2.16.840.1.101.3.4.2.1"), SHA_256);
    struct Family {
        const AlgorithmId* alg;
        bool gost, sha, rsa;
    };
    const Family families[] = {
        {&GOST_R_3410_2012_256, true, false, false},
        {&ECR_3410_2001, true, false, false},
        {&SHA_384, false, true, false},
        {&SHA1_WITH_RSA_ENCRYPTION, false, true, true},
        {&RSA_ENCRYPTION, false, false, true},
        {&GOST_28147, true, false, false},
    };
    for (const auto& f : families) {
        EXPECT_EQ(f.alg->isGost(), f.gost) << f.alg->name();
        EXPECT_EQ(f.alg->isSha(), f.sha) << f.alg->name();
        EXPECT_EQ(f.alg->isRsa(), f.rsa) << f.alg->name();
    }
}

TEST(AlgorithmLists, HaveTheirSizesAndPairing)
{
    EXPECT_EQ(DIGEST_ALGORITHMS.size(), 8u);
    EXPECT_EQ(SIGN_ALGORITHMS.size(), 13u);
    EXPECT_EQ(ENCRYPTION_ALGORITHMS.size(), 4u);
    EXPECT_EQ(SUPPORTED_ALGORITHMS.size(), 17u);
    EXPECT_EQ(PUBLIC_KEY_SIGN_ALGORITHMS.size(), 13u);
    EXPECT_EQ(GOST3410_2001_COMPATIBLE_TABLE.size(), 21u);
    EXPECT_EQ(GOST3410_2012_256_COMPATIBLE_TABLE.size(), 18u);
    EXPECT_EQ(GOST3410_2012_512_COMPATIBLE_TABLE.size(), 6u);
    // Every supported pair is made of a listed digest and a listed signature,
    // and every signature has a public-key algorithm.
    for (const auto& [digest, sign] : SUPPORTED_ALGORITHMS) {
        EXPECT_TRUE(isDigestAlgorithm(digest)) << digest.name();
        EXPECT_TRUE(isSignAlgorithm(sign)) << sign.name();
        EXPECT_NO_THROW(getPublicKeyAlgorithmBySign(sign)) << sign.name();
    }
    // Every OID constant is valid DER.
    for (const auto& alg : SIGN_ALGORITHMS) {
        EXPECT_NO_THROW(der::encode(alg.oid())) << alg.name();
    }
}

// Every identifier of the catalogue that OpenSSL's object registry knows is
// encoded by us and named by `openssl asn1parse`, so a wrong arc or a swapped
// constant shows up as a foreign name. (RNS FSS, KP FSS and the Signal-COM
// signature are unknown to OpenSSL.)
TEST(AlgorithmCatalogue, IdentifiersAreTheOnesOpensslNames)
{
    if (!testtool::haveOpenssl()) {
        GTEST_SKIP() << "openssl not installed";
    }
    struct Case {
        ObjectIdentifier oid;
        const char* opensslName;
    };
    const auto id = [](std::string_view text) { return ObjectIdentifier(text); };
    const Case cases[] = {
        {GOST_R_3411_1994.oid(), "GOST R 34.11-94"},
        {GOST_R_3411_2012_256.oid(), "GOST R 34.11-2012 with 256 bit hash"},
        {GOST_R_3411_2012_512.oid(), "GOST R 34.11-2012 with 512 bit hash"},
        {SHA_1.oid(), "sha1"},
        {SHA_224.oid(), "sha224"},
        {SHA_256.oid(), "sha256"},
        {SHA_384.oid(), "sha384"},
        {SHA_512.oid(), "sha512"},
        {GOST_R_3410_2001.oid(), "GOST R 34.10-2001"},
        {GOST_R_3410_2001_GOST_R_3411_1994.oid(), "GOST R 34.11-94 with GOST R 34.10-2001"},
        {GOST_R_3410_2012_256.oid(), "GOST R 34.10-2012 with 256 bit modulus"},
        {GOST_R_3410_2012_512.oid(), "GOST R 34.10-2012 with 512 bit modulus"},
        {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN.oid(),
         "GOST R 34.10-2012 with GOST R 34.11-2012 (256 bit)"},
        {GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN.oid(),
         "GOST R 34.10-2012 with GOST R 34.11-2012 (512 bit)"},
        {RSA_ENCRYPTION.oid(), "rsaEncryption"},
        {id(RSA_ENCRYPTION_OID), "rsaEncryption"},
        {SHA1_WITH_RSA_ENCRYPTION.oid(), "sha1WithRSAEncryption"},
        {SHA224_WITH_RSA_ENCRYPTION.oid(), "sha224WithRSAEncryption"},
        {SHA256_WITH_RSA_ENCRYPTION.oid(), "sha256WithRSAEncryption"},
        {SHA384_WITH_RSA_ENCRYPTION.oid(), "sha384WithRSAEncryption"},
        {SHA512_WITH_RSA_ENCRYPTION.oid(), "sha512WithRSAEncryption"},
        {GOST_28147.oid(), "GOST 28147-89"},
        {GOST_R3412_2015_M.oid(), "id-tc26-cipher-gostr3412-2015-magma"},
        {GOST_R3412_2015_K.oid(), "id-tc26-cipher-gostr3412-2015-kuznyechik"},
        {id(crypto_pro_param::TEST), "id-GostR3410-2001-TestParamSet"},
        {id(crypto_pro_param::A), "id-GostR3410-2001-CryptoPro-A-ParamSet"},
        {id(crypto_pro_param::B), "id-GostR3410-2001-CryptoPro-B-ParamSet"},
        {id(crypto_pro_param::C), "id-GostR3410-2001-CryptoPro-C-ParamSet"},
        {id(crypto_pro_param::XchA), "id-GostR3410-2001-CryptoPro-XchA-ParamSet"},
        {id(crypto_pro_param::XchB), "id-GostR3410-2001-CryptoPro-XchB-ParamSet"},
        {id(crypto_pro_param::SECP256R1), "prime256v1"},
        {id(tc26_gost_3410::paramSetA_256), "GOST R 34.10-2012 (256 bit) ParamSet A"},
        {id(tc26_gost_3410::paramSetB_256), "GOST R 34.10-2012 (256 bit) ParamSet B"},
        {id(tc26_gost_3410::paramSetC_256), "GOST R 34.10-2012 (256 bit) ParamSet C"},
        {id(tc26_gost_3410::paramSetD_256), "GOST R 34.10-2012 (256 bit) ParamSet D"},
        {id(tc26_gost_3410::paramSetA_512), "GOST R 34.10-2012 (512 bit) ParamSet A"},
        {id(tc26_gost_3410::paramSetB_512), "GOST R 34.10-2012 (512 bit) ParamSet B"},
        {id(tc26_gost_3410::paramSetC_512), "GOST R 34.10-2012 (512 bit) ParamSet C"},
        {gost3411::TEST_PARAM_SET, "id-GostR3411-94-TestParamSet"},
        {gost3411::CRYPTOPRO_PARAM_SET, "id-GostR3411-94-CryptoProParamSet"},
        {cert::COMMON_NAME_OID, "commonName"},
        {cert::SURNAME_OID, "surname"},
        {cert::SERIAL_NUMBER_OID, "serialNumber"},
        {cert::COUNTRY_NAME_OID, "countryName"},
        {cert::LOCALITY_NAME_OID, "localityName"},
        {cert::STATE_OR_PROVINCE_NAME_OID, "stateOrProvinceName"},
        {cert::STREET_ADDRESS_OID, "streetAddress"},
        {cert::ORGANIZATION_NAME_OID, "organizationName"},
        {cert::ORGANIZATIONAL_UNIT_NAME_OID, "organizationalUnitName"},
        {cert::TITLE_OID, "title"},
        {cert::POSTAL_ADDRESS_OID, "postalAddress"},
        {cert::GIVENNAME_OID, "givenName"},
        {cert::PSEUDONYM_OID, "pseudonym"},
        {cert::EMAIL_ADDRESS_OID, "emailAddress"},
        {cert::UNSTRUCTURED_NAME_OID, "unstructuredName"},
        {cert::INN_OID, "INN"},
        {cert::OGRN_OID, "OGRN"},
        {cert::SNILS_OID, "SNILS"},
        {cert::OGRNIP_OID, "OGRNIP"},
        {cert::SUBJECT_KEY_IDENTIFIER, "X509v3 Subject Key Identifier"},
        {cert::ISSUER_KEY_IDENTIFIER, "X509v3 Authority Key Identifier"},
        {KEY_USAGE_OID, "X509v3 Key Usage"},
        {BASIC_CONSTRAINTS_OID, "X509v3 Basic Constraints"},
        {CERTIFICATE_POLICIES_OID, "X509v3 Certificate Policies"},
        {EXTENDED_KEY_USAGE_OID, "X509v3 Extended Key Usage"},
        {EXTENSION_REQUEST_OID, "Extension Request"},
        {SUBJECT_SIGN_TOOL_OID, "Signing Tool of Subject"},
        {pkcs7::SUBJECT_SIGN_TOOL_OID, "Signing Tool of Subject"},
        {pkcs9::oid::DATA, "pkcs7-data"},
        {SIGNED_DATA_OID, "pkcs7-signedData"},
        {pkcs9::oid::ENVELOPED_DATA, "pkcs7-envelopedData"},
        {pkcs9::oid::CONTENT_TYPE, "contentType"},
        {pkcs9::oid::MESSAGE_DIGEST, "messageDigest"},
        {pkcs9::oid::SIGNING_TIME, "signingTime"},
        {pkcs9::oid::CONTENT_IDENTIFIER, "id-smime-aa-contentIdentifier"},
        {pkcs9::oid::CONTENT_REFERENCE, "id-smime-aa-contentReference"},
        {pkcs9::oid::SIGNING_CERTIFICATE_V2, "id-smime-aa-signingCertificateV2"},
    };
    // One SEQUENCE of all identifiers, one openssl run; its OBJECT lines
    // come back in the same order.
    std::vector<bytes> elements;
    for (const auto& c : cases) {
        elements.push_back(der::encode(c.oid));
    }
    std::istringstream lines(testtool::asn1parse(der::encode(elements)));
    std::vector<std::string> named;
    for (std::string line; std::getline(lines, line);) {
        const auto object = line.find("OBJECT");
        const auto colon = line.find(':', object == std::string::npos ? line.size() : object);
        if (colon != std::string::npos) {
            named.push_back(line.substr(colon + 1));
        }
    }
    ASSERT_EQ(named.size(), std::size(cases));
    for (std::size_t i = 0; i < named.size(); ++i) {
        EXPECT_EQ(named[i], cases[i].opensslName) << cases[i].oid.toString();
    }
    // The display names of the 2001 parameter sets are OpenSSL's names too.
    for (std::string_view oid : {crypto_pro_param::TEST, crypto_pro_param::A, crypto_pro_param::B,
                                 crypto_pro_param::C, crypto_pro_param::XchA, crypto_pro_param::XchB}) {
        const auto expected = std::find_if(std::begin(cases), std::end(cases),
                                           [&](const Case& c) { return c.oid.toString() == oid; });
        ASSERT_NE(expected, std::end(cases));
        EXPECT_EQ(gost3410ParamName(GOST_R_3410_2001, oid), expected->opensslName) << oid;
    }
}

TEST(AlgorithmLookups, FirstMatchWins)
{
    struct Case {
        const char* what;
        std::function<AlgorithmId()> lookup;
        const AlgorithmId* expected;
    };
    const Case cases[] = {
        {"sign by name", [] { return findSignAlgorithmId(std::string_view("GOST R 34.10-2012-256")); },
         &GOST_R_3410_2012_256},
        {"sign by oid", [] { return findSignAlgorithmId(ObjectIdentifier("1.2.643.7.1.1.3.3")); },
         &GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN},
        {"sign by identifier", [] { return findSignAlgorithmId(hex("300D06092A864886F70D01010B0500")); },
         &SHA256_WITH_RSA_ENCRYPTION},
        {"sign by bare oid", [] { return findSignAlgorithmId(hex("06062A8503020203")); },
         &GOST_R_3410_2001_GOST_R_3411_1994},
        {"digest sha without null", [] { return findDigestAlgorithmId(hex("300B0609608648016503040201")); },
         &SHA_256},
        {"digest sha with null", [] { return findDigestAlgorithmId(hex("300D06096086480165030402010500")); },
         &SHA_256},
        {"digest gost with null", [] { return findDigestAlgorithmId(hex("300C06082A850307010102030500")); },
         &GOST_R_3411_2012_512},
        {"digest by oid", [] { return findDigestAlgorithmId(ObjectIdentifier("1.2.643.2.2.9")); },
         &GOST_R_3411_1994},
        {"encryption by oid", [] { return findEncryptAlgorithmId(ObjectIdentifier("1.2.643.7.1.1.5.2")); },
         &GOST_R3412_2015_K},
        {"sign of 2012-256 digest", [] { return getSignAlgorithm(GOST_R_3411_2012_256); },
         &GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
        {"sign of 94 digest", [] { return getSignAlgorithm(GOST_R_3411_1994); }, &GOST_R_3410_2001},
        {"sign of sha256", [] { return getSignAlgorithm(SHA_256); }, &SHA256_WITH_RSA_ENCRYPTION},
        {"digest of rsa", [] { return getDigestAlgorithm(RSA_ENCRYPTION); }, &SHA_1},
        {"digest of ecr", [] { return getDigestAlgorithm(ECR_3410_2001); }, &GOST_R_3411_1994},
        {"public key of 2012-512 sign",
         [] { return getPublicKeyAlgorithmBySign(GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN); },
         &GOST_R_3410_2012_512},
        {"public key of ecr", [] { return getPublicKeyAlgorithmBySign(ECR_3410_2001); }, &GOST_R_3410_2001},
        {"public key of sha384 rsa", [] { return getPublicKeyAlgorithmBySign(SHA384_WITH_RSA_ENCRYPTION); },
         &RSA_ENCRYPTION},
        {"sha by 20 octets", [] { return getShaAlgorithmByDigest(bytes(20)); }, &SHA_1},
        {"sha by 28 octets", [] { return getShaAlgorithmByDigest(bytes(28)); }, &SHA_224},
        {"sha by 48 octets", [] { return getShaAlgorithmByDigest(bytes(48)); }, &SHA_384},
        {"sha by 64 octets", [] { return getShaAlgorithmByDigest(bytes(64)); }, &SHA_512},
    };
    for (const auto& c : cases) {
        const AlgorithmId found = c.lookup();
        EXPECT_EQ(found.name(), c.expected->name()) << c.what;
        EXPECT_EQ(found.oid(), c.expected->oid()) << c.what;
    }
}

TEST(AlgorithmLookups, FailuresNameWhatWasAsked)
{
    try {
        findSignAlgorithmId(std::string_view("gost r 34.10-2012-256"));
        FAIL() << "no exception";
    } catch (const UnsupportedAlgorithm& e) {
        EXPECT_NE(std::string(e.what()).find("gost r 34.10-2012-256"), std::string::npos) << e.what();
    }
    try {
        findDigestAlgorithmId(ObjectIdentifier("1.2.3.4"));
        FAIL() << "no exception";
    } catch (const UnsupportedAlgorithm& e) {
        EXPECT_NE(std::string(e.what()).find("1.2.3.4"), std::string::npos) << e.what();
    }
    // A GOST digest identifier without NULL is not recognised.
    EXPECT_THROW(findDigestAlgorithmId(hex("300A06082A85030701010202")), UnknownAlgorithm);
    EXPECT_THROW(findSignAlgorithmId(hex("3000")), UnknownAlgorithm);
    EXPECT_THROW(findSignAlgorithmId(ObjectIdentifier("1.2.643.2.2.21")), UnsupportedAlgorithm);
    EXPECT_THROW(findEncryptAlgorithmId(ObjectIdentifier("1.2.643.2.2.9")), UnsupportedAlgorithm);
    EXPECT_THROW(getDigestAlgorithm(GOST_28147), UnsupportedAlgorithm);
    EXPECT_THROW(getSignAlgorithm(GOST_R_3410_2001), UnsupportedAlgorithm);
    EXPECT_THROW(getPublicKeyAlgorithmBySign(SHA_1), UnsupportedAlgorithm);
    EXPECT_THROW(getShaAlgorithmByDigest(bytes(24)), UnknownAlgorithm);
    EXPECT_FALSE(isDigestAlgorithm(GOST_R_3410_2001));
    EXPECT_FALSE(isSignAlgorithm(SHA_1));
    EXPECT_TRUE(isSignAlgorithm(RSA_ENCRYPTION));
}

TEST(AlgorithmFamilies, PredicatesSeparateSignaturesFromDigests)
{
    struct Case {
        const AlgorithmId* alg;
        bool g2001, s2001, g256, s256, g512, s512;
    };
    const Case cases[] = {
        {&GOST_R_3411_1994, true, false, false, false, false, false},
        {&ECR_3410_2001, true, true, false, false, false, false},
        {&GOST_R_3410_2001_GOST_R_3411_1994, true, true, false, false, false, false},
        {&GOST_R_3411_2012_256, false, false, true, false, false, false},
        {&GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, false, false, true, true, false, false},
        {&GOST_R_3411_2012_512, false, false, false, false, true, false},
        {&GOST_R_3410_2012_512, false, false, false, false, true, true},
        {&SHA256_WITH_RSA_ENCRYPTION, false, false, false, false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isGost2001(*c.alg), c.g2001) << c.alg->name();
        EXPECT_EQ(isGost34102001(*c.alg), c.s2001) << c.alg->name();
        EXPECT_EQ(isGost2012_256(*c.alg), c.g256) << c.alg->name();
        EXPECT_EQ(isGost34102012_256(*c.alg), c.s256) << c.alg->name();
        EXPECT_EQ(isGost2012_512(*c.alg), c.g512) << c.alg->name();
        EXPECT_EQ(isGost34102012_512(*c.alg), c.s512) << c.alg->name();
    }
}

TEST(GostParams, NamesBitsAndDigestParameters)
{
    struct Name {
        const AlgorithmId* alg;
        std::string_view oid;
        const char* name;
    };
    const Name names[] = {
        {&GOST_R_3411_2012_256, crypto_pro_param::XchA, "id-GostR3410-2012-256-CryptoPro-XchA-ParamSet"},
        {&GOST_R_3410_2001, crypto_pro_param::XchA, "id-GostR3410-2001-CryptoPro-XchA-ParamSet"},
        {&GOST_R_3411_1994, crypto_pro_param::SECP256R1, "secp256r1"},
        {&GOST_R_3410_2012_256, tc26_gost_3410::paramSetD_256, "id-tc26-gost-3410-12-256-paramSetD"},
        {&GOST_R_3410_2012_512, tc26_gost_3410::paramSetC_512, "id-tc26-gost-3410-12-512-paramSetC"},
        {&SHA_1, crypto_pro_param::XchA, "1.2.643.2.2.36.0"},                // no family
        {&GOST_R_3410_2012_256, crypto_pro_param::TEST, "1.2.643.2.2.35.0"}, // not in the family
        {&GOST_R_3410_2012_512, crypto_pro_param::A, "1.2.643.2.2.35.1"},
    };
    for (const auto& n : names) {
        EXPECT_EQ(gost3410ParamName(*n.alg, n.oid), n.name) << n.alg->name() << " " << n.oid;
    }

    EXPECT_EQ(getKeyParamBits("1.2.643.7.1.2.1.2.3"), 512u);
    EXPECT_EQ(getKeyParamBits(std::string_view(crypto_pro_param::SECP256R1)), 256u);
    EXPECT_EQ(getKeyParamBits(ObjectIdentifier(tc26_gost_3410::paramSetB_256)), 256u);
    EXPECT_THROW(getKeyParamBits(""), Gost3410ECParamsEmpty);
    try {
        getKeyParamBits("1.2.643.2.2.30.1");
        FAIL() << "no exception";
    } catch (const Gost3410ECParamsUnsupported& e) {
        EXPECT_NE(std::string(e.what()).find("1.2.643.2.2.30.1"), std::string::npos) << e.what();
    }

    EXPECT_EQ(gost3411::paramSet(true), "1.2.643.2.2.30.0");
    EXPECT_EQ(gost3411::paramSet(false), "1.2.643.2.2.30.1");
    EXPECT_EQ(getDigestAlgorithmParams(ECR_3410_2001), gost3411::CRYPTOPRO_PARAM_SET);
    EXPECT_EQ(getDigestAlgorithmParams(GOST_R_3410_2012_256), GOST_R_3411_2012_256.oid());
    EXPECT_EQ(getDigestAlgorithmParams(GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN),
              GOST_R_3411_2012_512.oid());
    EXPECT_THROW(getDigestAlgorithmParams(SHA_1), UnsupportedAlgorithm);
}

TEST(GostParams, CompatibilityCheck)
{
    struct Case {
        const AlgorithmId* alg;
        std::string_view oid;
        bool ok;
    };
    const Case cases[] = {
        {&GOST_R_3410_2012_256, "1.2.643.7.1.2.1.2.1", false},
        {&GOST_R_3410_2012_256, crypto_pro_param::TEST, false},
        {&GOST_R_3410_2012_256, crypto_pro_param::XchB, true},
        {&GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, tc26_gost_3410::paramSetA_256, true},
        {&GOST_R_3410_2001, crypto_pro_param::SECP256R1, true},
        {&ECR_3410_2001, crypto_pro_param::TEST, true},
        {&GOST_R_3410_2001, tc26_gost_3410::paramSetA_256, false},
        {&GOST_R_3410_2012_512, tc26_gost_3410::paramSetB_512, true},
        {&GOST_R_3410_2012_512, crypto_pro_param::A, false},
        {&GOST_R_3411_2012_256, crypto_pro_param::A, false}, // a digest is in no table
        {&SHA256_WITH_RSA_ENCRYPTION, "anything", true},
        {&RSA_ENCRYPTION, "", true},
    };
    for (const auto& c : cases) {
        if (c.ok) {
            EXPECT_NO_THROW(checkGost3410Params(*c.alg, c.oid)) << c.alg->name() << " " << c.oid;
        } else {
            EXPECT_THROW(checkGost3410Params(*c.alg, c.oid), Gost3410ECParamsIncompatible)
                << c.alg->name() << " " << c.oid;
        }
    }
}

TEST(GostParams, DeviceParameterIdentifiers)
{
    const std::map<std::uint8_t, std::string_view> onlyC{{3, crypto_pro_param::C}};
    const std::map<std::uint8_t, std::string_view> full{{1, crypto_pro_param::A},
                                                        {3, crypto_pro_param::C},
                                                        {4, crypto_pro_param::XchA},
                                                        {9, tc26_gost_3410::paramSetA_512}};
    EXPECT_EQ(getGost3410AlgParamsId(crypto_pro_param::XchB, onlyC), 3);
    EXPECT_EQ(getGost3410AlgParamsId(crypto_pro_param::XchA, full),
              4); // a direct entry wins over the fallback
    EXPECT_EQ(getGost3410AlgParamsId(crypto_pro_param::XchB, full), 3);
    EXPECT_EQ(getGost3410AlgParamsId(tc26_gost_3410::paramSetA_512, full), 9);
    EXPECT_THROW(getGost3410AlgParamsId(crypto_pro_param::XchA, onlyC), Gost3410ECParamsUnsupported);
    EXPECT_THROW(getGost3410AlgParamsId(crypto_pro_param::B, full), Gost3410ECParamsUnsupported);
    EXPECT_THROW(getGost3410AlgParamsId("", full), Gost3410ECParamsEmpty);
}

} // namespace
