#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "asn1/oid.h"
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
    EXPECT_THROW(der::encode(ObjectIdentifier("1.2.4294967296")), std::out_of_range);
    EXPECT_TRUE(der::encode(ObjectIdentifier()).empty());
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
    for (const char* bad : {"06022A85",         // last subidentifier keeps its continuation bit
                            "060181",           // same in the first subidentifier
                            "06072A9080808080", // more than 32 bits
                            "04012A",           // not an OBJECT IDENTIFIER
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
                             "2.999.1.268435455.268435456"}) {
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

} // namespace
