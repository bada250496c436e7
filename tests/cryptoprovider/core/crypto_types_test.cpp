#include "cryptoprovider/core/crypto_types.h"

#include <gtest/gtest.h>

#include <string>

#include "cryptoprovider/core/errors.h"

namespace
{

void expectUnknown(const std::string& id)
{
    try {
        crypto::checkKnown(id);
        ADD_FAILURE() << "no exception for " << id;
    } catch (const UnknownCryptoType& e) {
        EXPECT_STREQ(e.errorCode(), "CP-008002");
    }
    EXPECT_THROW(crypto::getName(id), UnknownCryptoType) << id;
    EXPECT_THROW(crypto::getShortName(id), UnknownCryptoType) << id;
    EXPECT_THROW(crypto::getCryptoTypeInfo(id), UnknownCryptoType) << id;
    EXPECT_EQ(crypto::findName(id), "") << id;
}

TEST(CryptoTypes, NamesAreFoundByTheExactId)
{
    EXPECT_EQ(crypto::getName("cryptopro"), "СКЗИ \"КриптоПро CSP\"");
    EXPECT_EQ(crypto::getShortName("cryptopro"), "КриптоПро CSP");
    EXPECT_EQ(crypto::getName("angara"), "СКЗИ \"MS_KEY K\" – \"АНГАРА\" Исп.8.1.1");
    EXPECT_EQ(crypto::getShortName("jacarta_2"), "JaCarta ГОСТ - Криптотокен 2");
    EXPECT_EQ(crypto::getName("ovt"), "VEL-токен ORMID");
    // Legacy ids have names; "std" is known with empty names.
    EXPECT_EQ(crypto::getShortName("agava"), "Агава-С");
    EXPECT_EQ(crypto::getName("std"), "");
    EXPECT_EQ(crypto::getShortName("std"), "");
    EXPECT_NO_THROW(crypto::checkKnown("std"));

    for (const char* id : {"STD", "Cryptopro", "rutoken", "rutoken_2 ", " ovt", "", "rutoken_4"})
        expectUnknown(id);
    expectUnknown(std::string("ovt\0", 4));
}

TEST(CryptoTypes, BothNameTablesListTheSameIdsInTheSameOrder)
{
    ASSERT_EQ(crypto::CRYPTO_NAMES.size(), crypto::CRYPTO_SHORT_NAMES.size());
    for (std::size_t i = 0; i < crypto::CRYPTO_NAMES.size(); ++i)
        EXPECT_EQ(crypto::CRYPTO_NAMES[i].first, crypto::CRYPTO_SHORT_NAMES[i].first) << i;
    ASSERT_EQ(crypto::CHIP_TYPE.size(), crypto::PACKAGE_BY_CRYPTO.size());
    for (std::size_t i = 0; i < crypto::CHIP_TYPE.size(); ++i) {
        EXPECT_EQ(crypto::CHIP_TYPE[i].first, crypto::PACKAGE_BY_CRYPTO[i].first) << i;
        // Every chip belongs to a known hardware type.
        EXPECT_TRUE(crypto::isHardwareDevice(crypto::CHIP_TYPE[i].first)) << i;
        EXPECT_NO_THROW(crypto::checkKnown(crypto::CHIP_TYPE[i].first));
    }
}

TEST(CryptoTypes, HardwareDevicesAreTheTokenModels)
{
    for (const char* id : {"rutoken_2", "rutoken_2100", "rutoken_3000", "rutoken_3", "rutoken_3220", "angara",
                           "jacarta_2", "rutoken_anything"})
        EXPECT_TRUE(crypto::isHardwareDevice(id)) << id;
    for (const char* id :
         {"cryptopro", "ovt", "ccom35", "jacarta", "jacarta_22", "rutoken", "Rutoken_2", "angara ", ""})
        EXPECT_FALSE(crypto::isHardwareDevice(id)) << id;
}

TEST(CryptoTypes, ChipTextsJoinChipAndThreeDigitPackage)
{
    EXPECT_EQ(crypto::getChipTypeByCrypto("angara"), "MSKEY_K-202");
    EXPECT_EQ(crypto::getChipTypeByCrypto("rutoken_2"), "RUTOKEN_ECP_2-401");
    EXPECT_EQ(crypto::getChipTypeByCrypto("rutoken_3220"), "RUTOKEN_ECP_3-502");
    EXPECT_EQ(crypto::getChipTypeByCrypto("jacarta_2"), "JACARTA_GOST-303");
    EXPECT_EQ(crypto::getChipTypeByCrypto("cryptopro"), "");
    EXPECT_EQ(crypto::getChipTypeByCrypto("no-such-type"), "");

    EXPECT_EQ(crypto::makeChipTypeInfo("CHIP", 7), "CHIP-007");
    EXPECT_EQ(crypto::makeChipTypeInfo("CHIP", 1234), "CHIP-1234");
    EXPECT_EQ(crypto::makeChipTypeInfo("CHIP", 0), "");
    EXPECT_EQ(crypto::makeChipTypeInfo("", 401), "");
}

TEST(CryptoTypes, SignAlgorithmsAreCheckedAgainstEachTypesTable)
{
    using crypto_pro_param::A;
    using crypto_pro_param::B;
    using crypto_pro_param::TEST;
    using crypto_pro_param::XchA;
    using crypto_pro_param::XchB;
    using namespace tc26_gost_3410;
    const std::string_view none;
    struct Case {
        const char* id;
        AlgorithmParamsPair algorithm;
        bool supported;
    };
    const Case cases[] = {
        {"microsoft", {SHA224_WITH_RSA_ENCRYPTION, none}, false},
        {"microsoft", {SHA256_WITH_RSA_ENCRYPTION, none}, true},
        {"microsoft", {RSA_ENCRYPTION, RSA_ENCRYPTION_OID}, true},
        {"microsoft", {SHA256_WITH_RSA_ENCRYPTION, RSA_ENCRYPTION_OID}, false},
        {"microsoft", {GOST_R_3410_2012_256, A}, false},
        {"rutoken_3", {SHA224_WITH_RSA_ENCRYPTION, none}, true},
        {"rutoken_2", {GOST_R_3410_2012_512, paramSetC_512}, true},
        {"rutoken_2100", {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, paramSetD_256}, true},
        {"rutoken_3220", {GOST_R_3410_2001, A}, false},
        {"rutoken_future", {RSA_ENCRYPTION, none}, true},
        {"jacarta_2", {GOST_R_3410_2012_256, A}, true},
        {"jacarta_2", {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, A}, true},
        {"jacarta_2", {GOST_R_3410_2012_256, B}, false},
        {"jacarta_2", {GOST_R_3410_2012_256, paramSetA_256}, false},
        {"jacarta_2", {GOST_R_3410_2012_512, paramSetA_512}, false},
        {"signalcom", {ECR_3410_2001, A}, true},
        {"signalcom", {ECR_3410_2001, B}, false},
        {"signalcom", {GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, paramSetA_512}, true},
        {"signalcom", {GOST_R_3410_2012_512, paramSetB_512}, false},
        {"cryptopro", {GOST_R_3410_2001, TEST}, true},
        {"cryptopro", {ECR_3410_2001, XchB}, true},
        {"cryptopro", {GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, paramSetC_512}, true},
        {"cryptopro", {SHA256_WITH_RSA_ENCRYPTION, none}, false},
        {"ovt", {GOST_R_3410_2012_256, paramSetD_256}, true},
        {"ccom33_40_41", {GOST_R_3410_2001_GOST_R_3411_1994, XchA}, true},
        {"vipnet", {GOST_R_3410_2001, A}, true},
        {"messagepro", {ECR_3410_2001, TEST}, true},
        {"ccom33", {GOST_R_3410_2001_GOST_R_3411_1994, B}, true},
        {"ccom34", {GOST_R_3410_2012_512, paramSetA_512}, true},
        {"ccom35", {GOST_R_3410_2001, A}, false},
        {"angara", {GOST_R_3410_2001, A}, false},
        {"angara", {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, XchA}, true},
        {"ccom35", {GOST_R_3410_2012_512, paramSetB_512}, true},
        {"ccom341", {ECR_3410_2001, A}, false},
        // Parameter texts and algorithm identifiers must match exactly.
        {"cryptopro", {GOST_R_3410_2012_256, "1.2.643.2.2.35.1 "}, false},
        {"cryptopro", {AlgorithmId("GOST R 34.10-2012-256", "1.2.643.7.1.1.1.9"), A}, false},
        {"cryptopro", {GOST_R_3410_2012_256, none}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(crypto::isSignAlgorithmSupported(c.id, c.algorithm), c.supported)
            << c.id << " " << c.algorithm.first.name() << " " << c.algorithm.second;
    }
}

TEST(CryptoTypes, TypesWithoutASignatureTableAreUnsupported)
{
    const AlgorithmParamsPair algorithm{GOST_R_3410_2012_256, crypto_pro_param::A};
    struct Case {
        const char* id;
        const char* code;
    };
    // Named types are named in the text; others get the generic one.
    const Case cases[] = {{"agava", "CP-008037"},
                          {"ccom", "CP-008037"},
                          {"std", "CP-008036"},
                          {"", "CP-008036"},
                          {"Rutoken_2", "CP-008036"}};
    for (const Case& c : cases) {
        try {
            crypto::isSignAlgorithmSupported(c.id, algorithm);
            ADD_FAILURE() << "no exception for " << c.id;
        } catch (const UnsupportedCryptoType& e) {
            EXPECT_EQ(e.cryptoType(), c.id);
            EXPECT_STREQ(e.errorCode(), c.code) << c.id;
        }
    }
}

TEST(CryptoTypes, InfoGathersTheThreeTexts)
{
    const CryptoTypeInfo info = crypto::getCryptoTypeInfo("rutoken_3");
    EXPECT_EQ(info.fullName, "СКЗИ \"Рутокен ЭЦП 3.0\"");
    EXPECT_EQ(info.shortName, "Рутокен ЭЦП 3.0");
    EXPECT_EQ(info.chipType, "RUTOKEN_ECP_3-501");
    const CryptoTypeInfo csp = crypto::getCryptoTypeInfo("signalcom");
    EXPECT_EQ(csp.shortName, "Signal-COM CSP");
    EXPECT_EQ(csp.chipType, "");
}

} // namespace
