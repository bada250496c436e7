#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "asn1/ber.h"
#include "asn1/errors.h"
#include "base/conv.h"
#include "openssl_tool.h"
#include "support/hex.h"

namespace
{

bytes nested(std::size_t depth, const std::string& open, const std::string& inner)
{
    std::string text = inner;
    for (std::size_t i = 0; i < depth; ++i) {
        text = open + "80" + text + "0000";
    }
    return hex(text);
}

TEST(Ber, NormalisesToDer)
{
    const auto fill = [](std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i) {
            text += "5A";
        }
        return text;
    };
    struct Case {
        const char* what;
        std::string ber;
        std::string der;
    };
    // clang-format off
    const Case cases[] = {
        {"indefinite SEQUENCE", "3080020101" "0000", "3003020101"},
        {"indefinite lengths nested", "3080" "A080" "3080" "0500" "0000" "0000" "0101FF" "0000",
         "3009" "A004" "3002" "0500" "0101FF"},
        {"empty indefinite SET", "31800000", "3100"},
        {"non-minimal definite lengths", "30820007" "048102AABB" "8100", "3006" "0402AABB" "8100"},
        {"leading zero length octets", "0484000000020102", "04020102"},
        {"OCTET STRING in pieces", "2480" "0402AABB" "0401CC" "0400" "0000", "0403AABBCC"},
        {"OCTET STRING pieces nested", "240C" "2406" "0401AA" "0401BB" "0402CCDD", "0404AABBCCDD"},
        {"empty constructed OCTET STRING", "24800000", "0400"},
        {"constructed string inside an indefinite [0]", "A080" "2480" "0401AA" "0000" "0000",
         "A003" "0401AA"},
        {"BIT STRING in pieces, unused bits in the last", "2380" "030200AA" "030204B0" "0000",
         "030304AAB0"},
        {"empty constructed BIT STRING", "2300", "030100"},
        {"PrintableString in pieces of its own type", "3380" "13024142" "130143" "0000", "1303414243"},
        {"UTF8String in OCTET STRING pieces", "2C07" "04024142" "040143", "0C03414243"},
        {"long content moves to a long-form length", "2480" "047F" + fill(127) + "04015A" "0000",
         "048180" + fill(128)},
        // Without a schema an implicitly tagged string cannot be told from
        // an explicit tag: context-tagged elements keep their form.
        {"context-tagged constructed kept", "A180" "0401AA" "0401BB" "0000", "A106" "0401AA" "0401BB"},
        {"SET OF keeps its order", "3180" "0201FF" "020101" "0000", "3106" "0201FF" "020101"},
        {"multi-octet tag copied", "BF8F0080" "0500" "0000", "BF8F0002" "0500"},
        {"contents not touched", "010101", "010101"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(conv::bytes_to_hex(ber::toDer(hex(c.ber))), c.der);
    }
}

TEST(Ber, DerComesBackIdentical)
{
    const std::string longForm = "3081CB"
                                 "0481C8" +
                                 std::string(400, '0');
    for (const std::string& der : {std::string("0500"), std::string("3003020101"),
                                   std::string("310A"
                                               "0201FF"
                                               "020101"
                                               "A0020500"),
                                   longForm}) {
        EXPECT_EQ(conv::bytes_to_hex(ber::toDer(hex(der))), der);
    }
}

TEST(Ber, RejectsMalformedInput)
{
    struct Case {
        const char* what;
        bytes ber;
    };
    // clang-format off
    const Case cases[] = {
        {"nothing", {}},
        {"tag only", hex("30")},
        {"definite content cut", hex("3005020101")},
        {"length octets cut", hex("3082AA")},
        {"length beyond the input", hex("048480000000")},
        {"reserved length octet", hex("04FF00")},
        {"end-of-contents marker missing", hex("3080020101")},
        {"end-of-contents marker cut", hex("308002010100")},
        {"marker as the element", hex("0000")},
        {"marker inside a definite element", hex("30020000")},
        {"marker with a length", hex("308000010000")},
        {"indefinite primitive", hex("0480AA0000")},
        {"child past its parent", hex("30030402AABB")},
        {"trailing octets", hex("0500FF")},
        {"trailing marker", hex("05000000")},
        {"tag number octets cut", hex("1F81")},
        {"string piece of another type", hex("2480" "0201AA" "0000")},
        {"BIT STRING piece of OCTET STRING type", hex("2380" "0402" "00AA" "0000")},
        {"BIT STRING unused bits before the last piece", hex("2380" "030204B0" "030200AA" "0000")},
        {"BIT STRING piece without its unused-bits octet", hex("2380" "0300" "0000")},
        {"BIT STRING unused bits above 7", hex("2380" "030208AA" "0000")},
        {"string piece context-tagged", hex("2480" "8001AA" "0000")},
        {"too deep", nested(ber::MAX_DEPTH + 1, "30", "0500")},
        {"too deep in string pieces", nested(ber::MAX_DEPTH + 1, "24", "0401AA")},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_THROW(ber::toDer(c.ber), Asn1DecodingError) << c.what;
    }
    // As deep as allowed.
    EXPECT_NO_THROW(ber::toDer(nested(ber::MAX_DEPTH, "30", "0500")));
    EXPECT_NO_THROW(ber::toDer(nested(ber::MAX_DEPTH, "24", "0401AA")));
}

// A message OpenSSL streams (indefinite lengths, content in pieces) becomes
// what OpenSSL itself writes for it in DER.
TEST(Ber, StreamedMessageMatchesOpensslDer)
{
    if (!testtool::haveOpenssl()) {
        GTEST_SKIP() << "openssl not installed";
    }
    const testtool::TempDir dir;
    const std::string d = dir.path.string() + "/";
    {
        std::ofstream doc(d + "doc", std::ios::binary);
        for (int i = 0; i < 20000; ++i) {
            doc.put(static_cast<char>(i * 7));
        }
    }
    int status = 0;
    testtool::run("cd " + d +
                      " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
                      " -keyout k.pem -out c.pem -subj /CN=ber -days 2"
                      " && openssl cms -sign -stream -binary -in doc -signer c.pem -inkey k.pem"
                      " -outform DER -out s.ber"
                      " && openssl cms -cmsout -inform DER -in s.ber -outform DER -out s.der",
                  &status);
    ASSERT_EQ(status, 0);
    const auto read = [&](const std::string& name) {
        std::ifstream in(d + name, std::ios::binary);
        return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const bytes streamed = read("s.ber");
    const bytes der = read("s.der");
    ASSERT_EQ(streamed[1], 0x80) << "not streamed";
    ASSERT_NE(streamed, der);
    EXPECT_EQ(ber::toDer(streamed), der);
    EXPECT_EQ(ber::toDer(der), der);
}

} // namespace
