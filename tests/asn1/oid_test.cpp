#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "asn1/oid.h"
#include "asn1/tlv.h"
#include "base/conv.h"
#include "openssl_tool.h"

namespace
{

TEST(ObjectIdentifier, EncodesAndDecodesBackToTheSameText)
{
    struct Case {
        const char* text;
        const char* der;
    };
    const Case cases[] = {
        {"1.2.643.7.1.1.2.2", "06082A85030701010202"},
        {"2.5.29.15", "0603551D0F"},
        {"1.2.840.113549.1.9.16.2.47", "060B2A864886F70D010910022F"},
        {"0.39", "060127"},
        {"1.39", "06014F"},
        {"2.40", "060178"},
        {"2.999.3", "0603883703"},
        {"1.2.4294967295", "06062A8FFFFFFF7F"},
        // Arcs beyond 32 and 64 bits (written by openssl asn1parse -genstr).
        {"1.2.4294967296", "06062A9080808000"},
        {"1.2.18446744073709551616", "060B2A82808080808080808000"},
        {"2.25.329800735698586629295641978511506172918", "06146983F09DA7EBCFDEE0C7A1A7B2C0948CC8F9D776"},
        {"2.25.340282366920938463463374607431768211455", "06146983FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF7F"},
        // A huge second arc under 2 makes the first subidentifier huge.
        {"2.340282366920938463463374607431768211535", "06138480808080808080808080808080808080811F"},
    };
    for (const auto& c : cases) {
        const bytes der = der::encode(ObjectIdentifier(c.text));
        EXPECT_EQ(conv::bytes_to_hex(der), c.der) << c.text;
        EXPECT_EQ(der::getObjectIdentifier(der).toString(), c.text) << c.text;
    }
}

TEST(ObjectIdentifier, RejectsBadArcStructure)
{
    for (const char* text : {"3.1", "1.40", "0.40", "1", "7"}) {
        EXPECT_THROW(der::encode(ObjectIdentifier(text)), Asn1DecodingError) << text;
    }
    for (const char* text : {"1.2.x", "1..2", "1.2.", "1.-2", "1.2 "}) {
        EXPECT_THROW(der::encode(ObjectIdentifier(text)), std::invalid_argument) << text;
    }
    EXPECT_THROW(der::encode(ObjectIdentifier("18446744073709551616.1")), Asn1DecodingError);
    EXPECT_TRUE(der::encode(ObjectIdentifier()).empty());
}

// Arcs up to MAX_ARC_BITS read and write; one bit more is refused both ways.
TEST(ObjectIdentifier, ArcsUpToTheBound)
{
    const std::size_t groups = (ObjectIdentifier::MAX_ARC_BITS + 6) / 7;
    const std::size_t topBits = ObjectIdentifier::MAX_ARC_BITS - 7 * (groups - 1);
    // 2^MAX_ARC_BITS - 1: all bits set.
    bytes largest{0x2A, static_cast<std::uint8_t>(0x80 | ((1u << topBits) - 1))};
    largest.insert(largest.end(), groups - 2, 0xFF);
    largest.push_back(0x7F);
    const bytes der = Tlv(0x06, largest).data();
    const ObjectIdentifier oid = der::getObjectIdentifier(der);
    EXPECT_EQ(oid.toString().size(), 4 + 1234u); // "1.2." and 2^4096 - 1 in decimal
    EXPECT_EQ(der::encode(oid), der);
    // Under 2, the second arc as large: the first subidentifier takes a bit more.
    const ObjectIdentifier underTwo("2." + oid.toString().substr(4));
    EXPECT_EQ(der::getObjectIdentifier(der::encode(underTwo)), underTwo);

    EXPECT_THROW(der::encode(ObjectIdentifier(oid.toString() + "0")), std::out_of_range);
    EXPECT_THROW(der::encode(ObjectIdentifier(oid.toString() + "00000")), std::out_of_range);
    EXPECT_THROW(der::encode(ObjectIdentifier(underTwo.toString() + "0")), std::out_of_range);
    // Leading zeros do not count.
    EXPECT_EQ(der::encode(ObjectIdentifier("1.2.0000" + oid.toString().substr(4))), der);

    bytes oneBitMore = largest;
    oneBitMore[1] = static_cast<std::uint8_t>(0x80 | ((1u << (topBits + 1)) - 1));
    EXPECT_THROW(der::getObjectIdentifier(Tlv(0x06, oneBitMore).data()), Asn1DecodingError);
    bytes oneGroupMore = largest;
    oneGroupMore.insert(oneGroupMore.begin() + 1, 0x80);
    EXPECT_THROW(der::getObjectIdentifier(Tlv(0x06, oneGroupMore).data()), Asn1DecodingError);
}

TEST(ObjectIdentifier, DecodingEdgeCases)
{
    struct Case {
        const char* der;
        const char* text;
    };
    const Case cases[] = {
        {"0600", "0.0"},
        {"060178", "2.40"}, // 120
        {"060150", "2.0"},  // 80
        {"060176", "2.38"}, // 118 goes through the division as well
    };
    for (const auto& c : cases) {
        EXPECT_EQ(der::getObjectIdentifier(conv::hex_to_bytes(c.der)).toString(), c.text) << c.der;
    }
    for (const char* bad : {"06022A85", // last subidentifier keeps its continuation bit
                            "060181",   // same in the first subidentifier
                            "04012A",   // not an OBJECT IDENTIFIER
                            "0605"}) {
        EXPECT_THROW(der::getObjectIdentifier(conv::hex_to_bytes(bad)), Asn1DecodingError) << bad;
    }
}

TEST(ObjectIdentifier, OpensslReadsLargeArcs)
{
    if (!testtool::haveOpenssl()) {
        GTEST_SKIP() << "openssl not installed";
    }
    for (const char* text : {"1.3.6.1.4.1.99999.4294967295.0.127.128.16383.16384.2097151.2097152",
                             "2.999.1.268435455.268435456", "2.25.329800735698586629295641978511506172918",
                             "1.3.6.1.4.1.18446744073709551615.18446744073709551616.0"}) {
        const std::string out = testtool::asn1parse(der::encode(ObjectIdentifier(text)));
        EXPECT_NE(out.find(std::string(":") + text), std::string::npos) << out;
    }
}

TEST(ObjectIdentifier, OrdersDescendingByText)
{
    EXPECT_TRUE(ObjectIdentifier("1.2.9") < ObjectIdentifier("1.2.10"));
    EXPECT_FALSE(ObjectIdentifier("1.2.10") < ObjectIdentifier("1.2.9"));
    std::map<ObjectIdentifier, int> map{{ObjectIdentifier("1.2.840.113549.1.9.3"), 1},
                                        {ObjectIdentifier("1.2.840.113549.1.9.16.2.47"), 2},
                                        {ObjectIdentifier("1.2.840.113549.1.9.4"), 3},
                                        {ObjectIdentifier("1.2.840.113549.1.9"), 4},
                                        {ObjectIdentifier("1.2.840.113549.1.9.5"), 5}};
    std::vector<int> order;
    for (const auto& [oid, v] : map) {
        order.push_back(v);
    }
    // 9.5 > 9.4 > 9.3 > 9.16.2.47 > 9 (a proper prefix sorts before the longer text)
    EXPECT_EQ(order, (std::vector<int>{5, 3, 1, 2, 4}));
    EXPECT_FALSE(ObjectIdentifier("1.2") < ObjectIdentifier("1.2"));
    EXPECT_EQ(ObjectIdentifier("1.2"), ObjectIdentifier(std::string("1.2")));
    EXPECT_NE(ObjectIdentifier("1.2"), ObjectIdentifier("1.2.0"));
}

// Canonical texts are exactly those the decoder gives back, and comparing by
// text agrees with comparing encodings, canonical or not.
TEST(ObjectIdentifier, SameEncodingAgreesWithTheEncodings)
{
    const char* texts[] = {"1.2.3",
                           "1.2.03",
                           "1.2.840.113549",
                           "01.2.840.113549",
                           "2.999",
                           "2.0999",
                           "0.39",
                           "0.039",
                           "1.2",
                           "1.2.0",
                           "2.40.1",
                           "1.39.7",
                           "2.25.340282366920938463463374607431768211455"};
    for (const char* text : texts) {
        const ObjectIdentifier oid(text);
        EXPECT_EQ(oid.hasCanonicalText(), ObjectIdentifier::fromDer(oid.derEncoding()).text() == text)
            << text;
        for (const char* other : texts) {
            EXPECT_EQ(oid.sameEncoding(ObjectIdentifier(other)),
                      oid.derEncoding() == ObjectIdentifier(other).derEncoding())
                << text << " vs " << other;
        }
    }
    const char* notCanonical[] = {"", "1", "3.1", "1.40", "1..2", "1.2.", "1.2.x", "-1.2"};
    for (const char* text : notCanonical) {
        EXPECT_FALSE(ObjectIdentifier(text).hasCanonicalText()) << text;
    }
    EXPECT_THROW(ObjectIdentifier("1.2.x").sameEncoding(ObjectIdentifier("1.2.3")), std::invalid_argument);
}

} // namespace
