// What needs no CSP: provider types and algorithm numbers, version texts,
// container media and the public-key blobs handed to the CSP (checked
// against an independent DER writer).
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "capi/capi_types.h"
#include "capi/errors.h"
#include "capi/functions.h"
#include "support/gost_soft.h"
#include "x509/errors.h"

namespace
{

using gostsoft::Bytes;

Bytes le32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

class Functions : public ::testing::Test
{
  protected:
    void TearDown() override { capi::localization.setLanguage(RUSSIAN); }
};

TEST_F(Functions, ProviderTypesGiveTheirSignAlgorithmAndParameterSetParameter)
{
    struct Case {
        capi::PROV_TYPE type;
        AlgorithmId algorithm;
        unsigned oidParam; // 0: no parameter-set parameter
    };
    const std::vector<Case> cases{
        {24, RSA_ENCRYPTION, 0},
        {2, GOST_R_3410_2001_GOST_R_3411_1994, 94},
        {75, GOST_R_3410_2001_GOST_R_3411_1994, 95},
        {77, GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, 94},
        {80, GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, 95},
        {78, GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, 94},
        {81, GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, 95},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        EXPECT_EQ(capi::signAlgorithmByProvType(c.type).name(), c.algorithm.name());
        if (c.oidParam != 0)
            EXPECT_EQ(capi::getOidParamByProviderType(c.type), c.oidParam);
        else
            EXPECT_THROW(capi::getOidParamByProviderType(c.type), std::invalid_argument);
    }
}

TEST_F(Functions, AnUnknownProviderTypeIsRefusedWithTheCatalogueText)
{
    capi::localization.setLanguage(ENGLISH);
    for (const capi::PROV_TYPE type : {0, 1, 76, 79, 82, 255}) {
        SCOPED_TRACE(int(type));
        for (auto call : {+[](capi::PROV_TYPE t) { capi::signAlgorithmByProvType(t); },
                          +[](capi::PROV_TYPE t) { capi::getOidParamByProviderType(t); }}) {
            try {
                call(type);
                ADD_FAILURE() << "accepted";
            } catch (const std::invalid_argument& e) {
                EXPECT_STREQ(e.what(), "Unknown provider type");
            }
        }
    }
}

TEST_F(Functions, DigestsHaveDistinctCspNumbersAndOthersAreUnsupported)
{
    EXPECT_EQ(capi::getDigestAlgorithmId(SHA_1), 0x8004u);
    EXPECT_EQ(capi::getDigestAlgorithmId(SHA_256), 0x800Cu);
    EXPECT_EQ(capi::getDigestAlgorithmId(SHA_384), 0x800Du);
    EXPECT_EQ(capi::getDigestAlgorithmId(SHA_512), 0x800Eu);
    std::vector<ALG_ID> numbers;
    for (const AlgorithmId& digest : DIGEST_ALGORITHMS) {
        const ALG_ID number = capi::getDigestAlgorithmId(digest);
        EXPECT_EQ(number & 0xE000u, ALG_CLASS_HASH) << digest.name();
        EXPECT_EQ(std::count(numbers.begin(), numbers.end(), number), 0) << digest.name();
        numbers.push_back(number);
    }
    try {
        capi::getDigestAlgorithmId(GOST_R_3410_2012_256);
        ADD_FAILURE() << "accepted";
    } catch (const UnsupportedAlgorithm& e) {
        EXPECT_EQ(e.algorithm(), GOST_R_3410_2012_256.name());
    }
}

TEST_F(Functions, VersionTextPutsEachByteInFrontAndSkipsLaterZeros)
{
    const std::vector<std::pair<Bytes, std::string>> cases{
        {{0x00, 0x05, 0x00, 0x00}, "5.0"},
        {{0x00, 0x04, 0x00, 0x00}, "4.0"},
        {{0x03, 0x00, 0x05, 0x00}, "5.3"},
        {{0x01, 0x02, 0x03}, "3.2.1"},
        {{0x00}, "0"},
        {{}, ""},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(capi::versionText(value), text) << gostsoft::toHex(value);
}

TEST_F(Functions, ContainerMediumIsTheReaderOfAFullName)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"\\\\.\\FLASH\\key1", "FLASH"},
        {"\\\\.\\HDIMAGE\\ключ", "HDIMAGE"},
        {"key1", "key1"},
        {"HDIMAGE\\key1", "HDIMAGE\\key1"},
        {"", ""},
    };
    for (const auto& [container, medium] : cases)
        EXPECT_EQ(capi::containerMedium(container), medium) << container;
}

TEST_F(Functions, GostPublicKeyBlobCarriesAlgorithmMagicBitsAndParameterSets)
{
    struct Case {
        AlgorithmId algorithm;
        std::string paramsOid;
        std::string digestParamsOid;
        std::size_t keySize;
    };
    const std::vector<Case> cases{
        {GOST_R_3410_2001_GOST_R_3411_1994, "1.2.643.2.2.35.1", "1.2.643.2.2.30.1", 64},
        {GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.2.2", 64},
        {GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, "1.2.643.7.1.2.1.2.2", "1.2.643.7.1.1.2.3", 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.algorithm.name());
        Bytes key(c.keySize);
        for (std::size_t i = 0; i < key.size(); ++i)
            key[i] = static_cast<std::uint8_t>(i + 1);
        const Bytes expected = gostsoft::derConcat({{0x06, 0x20, 0x00, 0x00},
                                                    le32(capi::getKeyAlgorithmId(c.algorithm)),
                                                    {'M', 'A', 'G', '1'},
                                                    le32(static_cast<std::uint32_t>(c.keySize * 8)),
                                                    gostsoft::derOid(c.paramsOid),
                                                    gostsoft::derOid(c.digestParamsOid),
                                                    key});
        EXPECT_EQ(capi::makePublicKeyBlob(key, c.algorithm, c.paramsOid), expected);
    }
    EXPECT_NE(capi::getKeyAlgorithmId(GOST_R_3410_2001), capi::getKeyAlgorithmId(GOST_R_3410_2012_256));
    EXPECT_NE(capi::getKeyAlgorithmId(GOST_R_3410_2012_256), capi::getKeyAlgorithmId(GOST_R_3410_2012_512));
}

TEST_F(Functions, GostPublicKeyBlobRefusesWhatItCannotDescribe)
{
    const Bytes key(64, 1);
    try {
        capi::makePublicKeyBlob({}, GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1");
        ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Public key is empty");
    }
    EXPECT_THROW(capi::makePublicKeyBlob(key, GOST_R_3410_2012_256, ""), Gost3410ECParamsEmpty);
    EXPECT_THROW(capi::makePublicKeyBlob(key, SHA256_WITH_RSA_ENCRYPTION, "1.2.643.7.1.2.1.1.1"),
                 UnsupportedAlgorithm);
}

TEST_F(Functions, RsaPublicKeyBlobHoldsTheModulusLittleEndianWithoutLeadingZeros)
{
    RsaPublicKey key;
    key.modulus = {0x00, 0xC1, 0x02, 0x03, 0x04};
    key.exponent = 65537;
    const Bytes expected = gostsoft::derConcat({{0x06, 0x02, 0x00, 0x00},
                                                le32(CALG_RSA_SIGN),
                                                {'R', 'S', 'A', '1'},
                                                le32(32),
                                                le32(65537),
                                                {0x04, 0x03, 0x02, 0xC1}});
    EXPECT_EQ(capi::makeRsaPublicKeyBlob(key), expected);

    EXPECT_THROW(capi::makeRsaPublicKeyBlob(RsaPublicKey{}), std::invalid_argument);
    EXPECT_THROW(capi::makeRsaPublicKeyBlob(RsaPublicKey{{0x00, 0x00}, 3}), std::invalid_argument);
    EXPECT_THROW(capi::makeRsaPublicKeyBlob(RsaPublicKey{{0xC1}, 0x100000001ull}), std::invalid_argument);
}

TEST_F(Functions, VerificationRefusesEmptyInputBeforeTheCspIsReached)
{
    const Bytes key(64, 1);
    try {
        capi::verifySign({}, Bytes(64, 2), key, GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1");
        ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Empty data");
    }
    try {
        capi::verifySign({1}, Bytes(64, 2), {}, GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1");
        ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Public key is empty");
    }
    EXPECT_THROW(capi::verifyRsaSign({}, {1}, RsaPublicKey{{0xC1}, 3}, SHA_256), std::invalid_argument);
}

} // namespace
