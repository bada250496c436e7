#include "jni/verify_route.h"

#include <gtest/gtest.h>

#include "support/gost_soft.h"

namespace
{

using gostsoft::Bytes;
using jni::VerifyRoute;

const Bytes SIGNED_DATA = gostsoft::derOid("1.2.840.113549.1.7.2");

TEST(VerifyRouteTest, OnlyASequenceStartingWithTheSignedDataOidIsCms)
{
    const Bytes content = gostsoft::derElement(0xA0, gostsoft::derElement(0x30, {}));
    struct Case {
        const char* name;
        Bytes signature;
        bool cms;
    };
    const Case cases[] = {
        {"content info", gostsoft::derElement(0x30, gostsoft::derConcat({SIGNED_DATA, content})), true},
        {"oid alone", gostsoft::derElement(0x30, SIGNED_DATA), true},
        {"streamed, indefinite length",
         gostsoft::derConcat({Bytes{0x30, 0x80}, SIGNED_DATA, Bytes{0x00, 0x00}}), true},
        {"streamed data oid",
         gostsoft::derConcat({Bytes{0x30, 0x80}, gostsoft::derOid("1.2.840.113549.1.7.1")}), false},
        {"data oid",
         gostsoft::derElement(0x30, gostsoft::derConcat({gostsoft::derOid("1.2.840.113549.1.7.1"), content})),
         false},
        {"set, not sequence", gostsoft::derElement(0x31, gostsoft::derConcat({SIGNED_DATA, content})), false},
        {"oid second",
         gostsoft::derElement(0x30, gostsoft::derConcat({gostsoft::derElement(0x02, {1}), SIGNED_DATA})),
         false},
        {"oid one arc longer", gostsoft::derElement(0x30, gostsoft::derOid("1.2.840.113549.1.7.2.1")), false},
        {"cut short", Bytes(SIGNED_DATA.begin(), SIGNED_DATA.end() - 3), false},
        {"length past the end", Bytes{0x30, 0x40, 0x06, 0x09, 0x2A, 0x86, 0x48}, false},
        {"empty sequence", Bytes{0x30, 0x00}, false},
        {"single byte", Bytes{0x30}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(jni::isCms(c.signature), c.cms) << c.name;
        EXPECT_EQ(jni::verifyRoute(c.signature, {}), c.cms ? VerifyRoute::Attached : VerifyRoute::Raw)
            << c.name;
        EXPECT_EQ(jni::verifyRoute(c.signature, {0x61}), c.cms ? VerifyRoute::Detached : VerifyRoute::Raw)
            << c.name;
    }
}

// Messages made by openssl, in DER and streamed (BER): attached without data,
// detached with it; a bare GOST signature value (even one that starts like a
// SEQUENCE) stays raw.
TEST(VerifyRouteTest, OpensslMessagesAndRawSignatures)
{
    gostsoft::TempDir dir;
    gostsoft::writeFile(dir.file("in.txt"), std::string_view("payment order 17"));
    const auto made = gostsoft::openssl("req -x509 -newkey gost2012_256 -pkeyopt paramset:A -nodes -days 2 "
                                        "-subj /CN=Route -keyout " +
                                        dir.file("k.pem") + " -out " + dir.file("c.pem"));
    ASSERT_EQ(made.status, 0) << made.output;
    for (const char* mode : {"-nodetach", "", "-nodetach -stream", "-stream"}) {
        const auto signedMessage = gostsoft::openssl(
            std::string("cms -sign -binary -outform DER ") + mode + " -signer " + dir.file("c.pem") +
            " -inkey " + dir.file("k.pem") + " -in " + dir.file("in.txt") + " -out " + dir.file("m.der"));
        ASSERT_EQ(signedMessage.status, 0) << signedMessage.output;
        const Bytes message = gostsoft::readFile(dir.file("m.der"));
        EXPECT_TRUE(jni::isCms(message)) << mode;
        EXPECT_EQ(jni::verifyRoute(message, {}), VerifyRoute::Attached) << mode;
        EXPECT_EQ(jni::verifyRoute(message, {'p'}), VerifyRoute::Detached) << mode;
    }

    const auto key = gostsoft::Key::generate(gostsoft::Curve::Tc26A256);
    Bytes raw = key.sign({1, 2, 3});
    EXPECT_EQ(jni::verifyRoute(raw, {1, 2, 3}), VerifyRoute::Raw);
    raw[0] = 0x30;
    raw[1] = 0x0B;
    EXPECT_EQ(jni::verifyRoute(raw, {1, 2, 3}), VerifyRoute::Raw);
}

} // namespace
