#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>

#include "asn1/binary.h"
#include "asn1/der.h"
#include "asn1/errors.h"
#include "base/conv.h"
#include "openssl_tool.h"
#include "support/hex.h"

namespace
{

std::string hexOf(const bytes& data)
{
    return conv::bytes_to_hex(data);
}

TEST(DerEncode, ScalarsAndStrings)
{
    struct Case {
        bytes encoding;
        const char* expected;
    };
    const Case cases[] = {
        {der::encode(), "0500"},
        {der::encode(der::Boolean(true)), "0101FF"},
        {der::encode(der::Boolean(false)), "010100"},
        {der::encode(0), "020100"},
        {der::encode(127), "02017F"},
        {der::encode(128), "02020080"},
        {der::encode(255), "020200FF"},
        {der::encode(256), "02020100"},
        {der::encode(std::numeric_limits<std::uint64_t>::max()), "020900FFFFFFFFFFFFFFFF"},
        {der::encodeBinaryInt(hex("FF01")), "0202FF01"},
        {der::encode(std::string_view("Ab")), "0C024162"},
        {der::encodeString(Asn1Tag::PRINTABLE_STRING, "RU"), "13025255"},
        {der::encodeString(Asn1Tag::BMP_STRING, std::string_view("\x04\x1F", 2)), "1E02041F"},
        {der::encode(hex("0102")), "04020102"},
        {der::encode(bytes{}), "0400"},
        {der::encode(hex("AB"), 0), "030200AB"},
        {der::encode(hex("A0"), 5), "030205A0"},
        {der::encode(bytes{}, 0), "030100"},
        {der::encode(std::vector<bytes>{hex("0500"), hex("020101")}), "30050500020101"},
        {der::encode(std::vector<bytes>{}), "3000"},
        {der::encodeExplicit(hex("3003020101")), "A003020101"},
        {der::encodeImplicit(hex("3003020101")), "8003020101"},
        {der::encodeExplicit(bytes{}), ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(hexOf(cases[i].encoding), cases[i].expected) << "case " << i;
    }
    EXPECT_THROW(der::encode(hex("00"), 8), std::invalid_argument);
}

TEST(DerEncode, SetSortsAndMergesChildren)
{
    const std::set<bytes> children{hex("3003020101"), hex("020105"), hex("020105"), hex("0101FF")};
    EXPECT_EQ(hexOf(der::encode(children)), "310B0101FF0201053003020101");
}

// OpenSSL lists the children of our SET and SEQUENCE in the order we wrote.
TEST(DerEncode, OpensslSeesOrderAndNesting)
{
    if (!testtool::haveOpenssl()) {
        GTEST_SKIP() << "openssl not installed";
    }
    const bytes set = der::encode(std::set<bytes>{der::encode(std::vector<bytes>{der::encode(5)}),
                                                  der::encode(7), der::encode(bytes(300, 1))});
    const bytes outer = der::encode(std::vector<bytes>{set, der::encode(der::Boolean(true)), der::encode()});
    const std::string out = testtool::asn1parse(outer);
    const auto integer = out.find("INTEGER           :07");
    const auto octets = out.find("OCTET STRING");
    const auto inner = out.find("d=2  hl=2 l=   3 cons: SEQUENCE");
    const auto boolean = out.find("BOOLEAN");
    ASSERT_NE(integer, std::string::npos) << out;
    ASSERT_NE(octets, std::string::npos) << out;
    ASSERT_NE(inner, std::string::npos) << out;
    ASSERT_NE(boolean, std::string::npos) << out;
    EXPECT_LT(integer, octets);
    EXPECT_LT(octets, inner);
    EXPECT_LT(inner, boolean);
    EXPECT_NE(out.find("d=1  hl=4 l= 312 cons: SET"), std::string::npos) << out;
}

TEST(DerDecode, TaggedContents)
{
    EXPECT_EQ(der::getBinaryInt(hex("020200FF")), hex("00FF"));
    EXPECT_EQ(der::getOctetString(hex("0402ABCD")), hex("ABCD"));
    EXPECT_EQ(der::getBitString(hex("030100")), bytes{});
    EXPECT_EQ(der::getBitString(hex("030300ABCD")), hex("ABCD"));
    EXPECT_EQ(der::getBitString(hex("030207C0")), hex("C0")); // unused bits stay for the caller
    for (const char* bad : {"0300", "030101", "030208AA", "0402ABCD"}) {
        EXPECT_THROW(der::getBitString(hex(bad)), Asn1DecodingError) << bad;
    }
    EXPECT_THROW(der::getBinaryInt(hex("0401FF")), Asn1DecodingError);
    EXPECT_THROW(der::getOctetString(hex("0201FF")), Asn1DecodingError);
}

TEST(DerDecode, SequencesSetsAndVectors)
{
    EXPECT_EQ(der::getSequense(hex("3000"), true), std::vector<bytes>{});
    EXPECT_THROW(der::getSequense(hex("3000"), false), Asn1DecodingError);
    EXPECT_THROW(der::getSequense(hex("3100"), true), Asn1DecodingError);
    EXPECT_EQ(der::getSequense(hex("300705000201050500")),
              (std::vector<bytes>{hex("0500"), hex("020105"), hex("0500")}));
    EXPECT_THROW(der::getSet(hex("3100")), Asn1DecodingError);
    EXPECT_EQ(der::getSet(hex("310B3003020101020105020105")),
              (std::set<bytes>{hex("020105"), hex("3003020101")}));

    EXPECT_EQ(der::readVector(bytes{}, true), std::vector<bytes>{});
    EXPECT_THROW(der::readVector(bytes{}, false), Asn1DecodingError);
    // A child cut off in the middle, and garbage after the last child.
    EXPECT_THROW(der::getSequense(hex("3004020105FF")), Asn1DecodingError);
    EXPECT_THROW(der::readVector(hex("02010504")), Asn1DecodingError);
    // An indefinite length (BER) is refused, not read as an empty SEQUENCE.
    EXPECT_THROW(der::getSequense(hex("30800201050000"), true), Asn1DecodingError);
    EXPECT_THROW(der::readVector(hex("308002010500000500"), true), Asn1DecodingError);
    // A non-minimal length in the input does not shift the next child.
    EXPECT_EQ(der::readVector(hex("048101AA0500")), (std::vector<bytes>{hex("0401AA"), hex("0500")}));
}

TEST(DerDecode, ParseStringHandlesEveryCharacterSet)
{
    struct Case {
        const char* der;
        const char* text;
    };
    const Case cases[] = {
        {"1E04041F0440", "Пр"},      // BMPString U+041F U+0440
        {"1E05041F044004", "Пр"},    // trailing odd octet ignored
        {"1E0141", ""},              // shorter than one unit
        {"0C06D09FD180D0B8", "При"}, // valid UTF-8 kept
        {"0C03CFF0E8", "При"},       // Windows-1251 octets converted
        {"1403CFF0E8", "При"},       // any tag is taken as text
        {"13025255", "RU"},
        // A surrogate pair is one character; halves without their pair are U+FFFD.
        {"1E060041D83DDE00", "A\U0001F600"},
        {"1E06D83D0041DE00", "\uFFFDA\uFFFD"},
        {"0C00", ""},
        {"0C0CD0A1D09ED0A820E284962035", "СОШ № 5"}, // three-octet UTF-8 kept
        {"0C08506574726F7620CF", "Petrov П"},        // Windows-1251 ending in a lead-like octet
        {"0C02C080", "АЂ"},                          // overlong form is not UTF-8
        {"0C03EDA080", "н\u00A0Ђ"},                  // nor is an encoded surrogate
    };
    for (const auto& c : cases) {
        EXPECT_EQ(der::parseString(hex(c.der)), c.text) << c.der;
    }
    EXPECT_THROW(der::parseString(hex("0C05AB")), Asn1DecodingError);
}

TEST(DerBinary, IntegerOctetHelpers)
{
    EXPECT_EQ(hexOf(conv::int_to_binary(0)), "00");
    EXPECT_EQ(hexOf(conv::int_to_binary(0x0100)), "0100");
    EXPECT_EQ(hexOf(conv::int_to_binary(0xFFFFFFFFFFFFFFFFull)), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(hexOf(conv::bool_to_binary(true)), "FF");
    EXPECT_EQ(conv::binary_to_int(hex("0105")), 0x0105u);
    EXPECT_EQ(conv::binary_to_int(bytes{}), 0u);
    EXPECT_EQ(conv::binary_to_int(hex("0102030405060708FF")), 0x0102030405060708u); // first 8 octets
}

} // namespace
