#include <gtest/gtest.h>

#include "asn1/errors.h"
#include "asn1/tlv.h"
#include "base/conv.h"
#include "openssl_tool.h"
#include "support/hex.h"

namespace
{

TEST(Tlv, ParsesShortLongAndEmptyForms)
{
    struct Case {
        const char* input;
        std::uint8_t tag;
        const char* value;
        std::size_t consumed;
    };
    const Case cases[] = {
        {"0403AABBCC", 0x04, "AABBCC", 5}, {"0500", 0x05, "", 2},
        {"040100FFFF", 0x04, "00", 3},   // octets after the element are ignored
        {"048102ABCD", 0x04, "ABCD", 5}, // non-minimal long form is read
        {"04820002ABCD", 0x04, "ABCD", 6}, {"048400000001EE", 0x04, "EE", 7}, // four length octets
    };
    for (const auto& c : cases) {
        const Tlv tlv(hex(c.input));
        EXPECT_EQ(tlv.tag(), c.tag) << c.input;
        EXPECT_EQ(tlv.value(), hex(c.value)) << c.input;
        EXPECT_EQ(tlv.encodedSize(), c.consumed) << c.input;
    }
}

TEST(Tlv, RejectsMalformedHeaders)
{
    const char* cases[] = {
        "",                 // nothing
        "30",               // tag only
        "308105AABBCCDD",   // 5 content octets announced, 4 present
        "0402AA",           // short form cut
        "3085000000000100", // five length octets
        "3082AA",           // length octets cut
        "048480000000",     // length beyond 31 bits
        "0484FFFFFFFF",
        "3080020101" "0000", // indefinite length: BER, not read as an empty element
        "3080",
    };
    for (const char* c : cases) {
        EXPECT_THROW(Tlv{hex(c)}, Asn1DecodingError) << c;
    }
}

TEST(Tlv, LengthOctetsAreMinimal)
{
    struct Case {
        std::size_t length;
        const char* octets;
    };
    const Case cases[] = {
        {0, "00"},
        {127, "7F"},
        {128, "8180"},
        {255, "81FF"},
        {256, "820100"},
        {65535, "82FFFF"},
        {65536, "83010000"},
        {0xFFFFFF, "83FFFFFF"},
        {0x1000000, "8401000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(conv::bytes_to_hex(Tlv::encodeLength(c.length)), c.octets) << c.length;
    }
}

// OpenSSL reads our headers back with the same header and content lengths.
TEST(Tlv, OpensslAgreesOnLengthBoundaries)
{
    if (!testtool::haveOpenssl()) {
        GTEST_SKIP() << "openssl not installed";
    }
    for (std::size_t length : {0u, 127u, 128u, 255u, 256u, 65535u, 65536u}) {
        const Tlv tlv(0x04, bytes(length, 0x5A));
        const bytes der = tlv.data();
        ASSERT_EQ(der.size(), tlv.encodedSize());
        ASSERT_EQ(Tlv(der).value(), tlv.value());
        const std::string out = testtool::asn1parse(der);
        const std::size_t header = 1 + tlv.dataLength().size();
        const std::string expected = "hl=" + std::to_string(header) + " l=" +
                                     (length < 10     ? "   "
                                      : length < 100  ? "  "
                                      : length < 1000 ? " "
                                                      : "") +
                                     std::to_string(length) + " prim: OCTET STRING";
        EXPECT_NE(out.find(expected), std::string::npos) << length << "\n" << out;
    }
}

TEST(FindTagValue, WalksFlatShortElements)
{
    // 81 02 AA BB | 82 00 | 83 01 CC
    const bytes list = hex("8102AABB82008301CC");
    EXPECT_EQ(findTagValue(0x81, list, 0), hex("AABB"));
    EXPECT_EQ(findTagValue(0x83, list, 0), hex("CC"));
    EXPECT_EQ(findTagValue(0x83, list, 4), hex("CC"));         // start at the second element
    EXPECT_TRUE(findTagValue(0x82, list, 0).empty());          // present but empty
    EXPECT_TRUE(findTagValue(0x84, list, 0).empty());          // absent
    EXPECT_TRUE(findTagValue(0x81, list, 200).empty());        // offset past the end
    EXPECT_TRUE(findTagValue(0x81, hex("8105AA"), 0).empty()); // content cut off
    EXPECT_TRUE(findTagValue(0x81, hex("81"), 0).empty());
}

TEST(FindTagValue, OffsetsWrapWithoutLoopingForever)
{
    // 256 octets of elements each jumping 0x100 - 2 ahead: the offset wraps to
    // itself; the search must end.
    bytes list(300, 0x00);
    list[0] = 0x10;
    list[1] = 0xFE;
    EXPECT_TRUE(findTagValue(0x20, list, 0).empty());
}

} // namespace
