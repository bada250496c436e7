#include "cryptoprovider/core/token_key_record.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/encoding.h"
#include "gost_algorithms.h"
#include "x509/errors.h"

namespace
{

// A token model's parameter sets (indexes as a Rutoken stores them).
const TokenKeyRecord::ParamSets PARAM_SETS{
    {0x20, "1.2.643.2.2.35.1"},    {0x30, "1.2.643.2.2.35.2"},    {0x40, "1.2.643.2.2.35.3"},
    {0x50, "1.2.643.7.1.2.1.2.1"}, {0x60, "1.2.643.7.1.2.1.2.2"},
};

std::string cp1251(std::string_view utf8)
{
    return encoding::utf8_to_cp1251(utf8);
}

bytes record(std::initializer_list<std::uint8_t> head, std::string_view tail = {})
{
    bytes out(head);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

TEST(AliasCodec, EncodesTableGroupsAndDecodesThemBack)
{
    const struct {
        const char* alias;
        std::string encoded;
    } cases[] = {
        // A word entry, a space, a letter and a second word entry.
        {"Главный бухгалтер", cp1251("Г") + "\x7F" + " " + cp1251("б") + "\xB7"},
        // Words go before the groups inside them ("ер" of "иректор").
        {"Директор", cp1251("Д") + "\xB6"},
        // Four-letter groups go before the two-letter groups they contain.
        {"ключ", "\xB5"},
        // Each entry is replaced wherever it occurs.
        {"стст", "\x16\x16"},
        // The quote pairs, and text the tables do not know.
        {"ООО \"Лира\" и", cp1251("ООО") + "\xBE" + cp1251("Лира") + "\xBF" + cp1251("и")},
        {"key 1", "key 1"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const std::string encoded = encodeAlias(cp1251(c.alias));
        EXPECT_EQ(encoded, c.encoded) << c.alias;
        EXPECT_EQ(encoding::cp1251_to_utf8(decodeAlias(encoded)), c.alias);
        EXPECT_EQ(encoded.find_first_of("\n\r"), std::string::npos) << c.alias;
    }
}

TEST(AliasCodec, CodeBytesInTheAliasDoNotSurvive)
{
    EXPECT_EQ(decodeAlias(encodeAlias("a\x01"
                                      "b")),
              "a" + cp1251("лько") + "b");
    EXPECT_EQ(decodeAlias("\x15"), cp1251("то"));
}

TEST(TokenKeyRecord, WritesBigEndianFieldsAndTheEncodedAlias)
{
    TokenKeyRecord key("  Главный бухгалтер ", 0x0102, 1, GOST512, "1.2.643.7.1.2.1.2.2", PARAM_SETS, 3,
                       "rutoken_2");
    const std::string alias = cp1251("Г") + "\x7F" + " " + cp1251("б") + "\xB7";
    EXPECT_EQ(key.data(FORMAT_VERSION::V1), record({0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x60}, alias));
    EXPECT_EQ(key.data(FORMAT_VERSION::V2),
              record({0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x60}, alias + "\x02"));
    EXPECT_EQ(key.alias(), "Главный бухгалтер");
    EXPECT_EQ(key.id(), 3);
    EXPECT_EQ(key.paramSetIndex(), 0x60);

    // Version 2 only knows the confirmation token's algorithms.
    TokenKeyRecord rsa("r", 0, 0, RSA_ENCRYPTION, "1.2.643.2.2.35.1", PARAM_SETS, 1, "rutoken_2");
    EXPECT_NO_THROW(rsa.data(FORMAT_VERSION::V1));
    EXPECT_THROW(rsa.data(FORMAT_VERSION::V2), UnsupportedAlgorithm);
}

TEST(TokenKeyRecord, ParsesWhatItWrites)
{
    const bytes data = record({0xFF, 0xFE, 0x80, 0, 0, 0, 0, 0, 0x01, 0x02, 0x20}, cp1251("Директор"));
    const TokenKeyRecord key(7, data, PARAM_SETS, "angara", false);
    EXPECT_EQ(key.systemId(), 0xFFFE);
    EXPECT_EQ(key.externalId(), 0x8000000000000102ULL);
    EXPECT_EQ(key.id(), 7);
    EXPECT_EQ(key.algParamsOid(), "1.2.643.2.2.35.1");
    EXPECT_EQ(key.signAlgorithm(), GOST256);
    EXPECT_EQ(key.digestAlgorithm(), GOST_R_3411_2012_256);
    EXPECT_EQ(key.cryptoType(), "angara");
    EXPECT_EQ(key.alias(), "Директор");
    EXPECT_EQ(key.data(FORMAT_VERSION::V1),
              record({0xFF, 0xFE, 0x80, 0, 0, 0, 0, 0, 0x01, 0x02, 0x20}, cp1251("Д") + "\xB6"));

    // legacy2001 fixes the algorithm whatever the index says.
    const TokenKeyRecord legacy(1, record({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x99}, "k"), PARAM_SETS, "x", true);
    EXPECT_EQ(legacy.signAlgorithm(), GOST_R_3410_2001);
    EXPECT_EQ(legacy.algParamsOid(), "");
}

TEST(TokenKeyRecord, RejectsRecordsItCannotRead)
{
    const bytes eleven(11, 0);
    EXPECT_THROW(TokenKeyRecord(1, eleven, PARAM_SETS, "x", false), std::invalid_argument);
    // Twelve bytes hold a one-byte alias.
    EXPECT_EQ(TokenKeyRecord(1, record({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20}, "\x15"), PARAM_SETS, "x", false)
                  .alias(),
              "то");
    // An index the model does not know gives no parameter set, so no algorithm.
    EXPECT_THROW(TokenKeyRecord(1, record({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x70}, "k"), PARAM_SETS, "x", false),
                 UnsupportedAlgorithm);
}

TEST(TokenKeyRecord, VersionTwoCarriesTheAlgorithmInItsLastByte)
{
    const bytes head = record({0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0x50}, "vel");
    const struct {
        std::uint8_t last;
        const AlgorithmId* expected;
    } cases[] = {{0, &GOST_R_3410_2001}, {1, &GOST256}, {2, &GOST512}};
    for (const auto& c : cases) {
        bytes data = head;
        data.push_back(c.last);
        const TokenKeyRecord key(data, PARAM_SETS, "vel_token");
        EXPECT_EQ(key.signAlgorithm(), *c.expected) << int(c.last);
        EXPECT_EQ(key.alias(), "vel");
        EXPECT_EQ(key.id(), 255);
        EXPECT_EQ(key.data(FORMAT_VERSION::V2), data);
    }
    bytes unknown = head;
    unknown.push_back(3);
    EXPECT_THROW(TokenKeyRecord(unknown, PARAM_SETS, "vel_token"), UnknownAlgorithm);
    EXPECT_THROW(TokenKeyRecord(bytes(12, 0), PARAM_SETS, "vel_token"), std::invalid_argument);
}

} // namespace
