#include <gtest/gtest.h>

#include <stdexcept>

#include "asn1/der.h"
#include "asn1/openssl_tool.h"
#include "base/conv.h"
#include "support/hex.h"
#include "x509/pkcs10.h"
#include "x509/public_key.h"
#include "x509/x509.h"

namespace
{

TEST(PublicKey, GostAndRsaAlternatives)
{
    const PublicKey gost(hex("01020304"));
    const PublicKey rsa(RsaPublicKey{hex("C001"), 3});
    EXPECT_TRUE(gost.isGost());
    EXPECT_FALSE(gost.isRsa());
    EXPECT_TRUE(rsa.isRsa());
    EXPECT_EQ(gost.gostKey(), hex("01020304"));
    EXPECT_TRUE(gost.rsaKey().empty());
    EXPECT_TRUE(rsa.gostKey().empty());
    EXPECT_EQ(static_cast<RsaPublicKey>(rsa).exponent, 3u);
    EXPECT_EQ(static_cast<bytes>(gost), hex("01020304"));
    EXPECT_NE(gost, rsa);
    EXPECT_EQ(gost, PublicKey(PublicKey::Value(hex("01020304"))));
    EXPECT_NE(PublicKey(bytes{}), PublicKey(RsaPublicKey{})); // both empty, different kinds

    EXPECT_TRUE(PublicKey().empty());
    EXPECT_TRUE(PublicKey(RsaPublicKey{}).empty());
    EXPECT_FALSE(PublicKey(RsaPublicKey{{}, 65537}).empty());
    EXPECT_FALSE(gost.empty());
}

TEST(PublicKey, ReverseKalva2FlipsEachCoordinate)
{
    EXPECT_EQ(PublicKey(hex("01020304")).reverseKalva2().gostKey(), hex("02010403"));
    EXPECT_EQ(PublicKey(hex("0102030405")).reverseKalva2().gostKey(),
              hex("0201050403")); // odd: middle octet goes right
    EXPECT_EQ(PublicKey(bytes{}).reverseKalva2().gostKey(), bytes{});
    try {
        PublicKey(RsaPublicKey{hex("01"), 3}).reverseKalva2();
        FAIL() << "no exception";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "not gost key");
    }
}

TEST(PublicKey, SubjectPublicKeyEncoding)
{
    EXPECT_EQ(conv::bytes_to_hex(PublicKey(hex("0102")).derEncoding()), "03050004020102");
    // A modulus without its sign octet still encodes as a positive INTEGER.
    EXPECT_EQ(conv::bytes_to_hex(PublicKey(RsaPublicKey{hex("C001"), 65537}).derEncoding()),
              "030D00300A020300C0010203010001");
    EXPECT_EQ(conv::bytes_to_hex(PublicKey(RsaPublicKey{hex("7F01"), 3}).derEncoding()),
              "030A00300702027F01020103");
    EXPECT_EQ(conv::bytes_to_hex(RsaPublicKey{{}, 65537}.exponentData()), "010001");
    EXPECT_EQ(RsaPublicKey({hex("01"), 3}), RsaPublicKey({hex("01"), 3}));
    EXPECT_NE(RsaPublicKey({hex("01"), 3}), RsaPublicKey({hex("01"), 5}));
}

// RSA keys are equal when their numbers are: the sign octet a request keeps
// in front of the modulus does not make another key.
TEST(PublicKey, RsaKeysCompareAsNumbers)
{
    struct Case {
        const char* left;
        const char* right;
        bool equal;
    };
    for (const Case& c : {Case{"00C001", "C001", true}, Case{"0000C001", "00C001", true},
                          Case{"C001", "C001", true}, Case{"00C001", "C00100", false},
                          Case{"C001", "C002", false}, Case{"00", "", true}, Case{"01", "", false}}) {
        SCOPED_TRACE(std::string(c.left) + " vs " + c.right);
        const PublicKey left(RsaPublicKey{hex(c.left), 65537});
        const PublicKey right(RsaPublicKey{hex(c.right), 65537});
        EXPECT_EQ(left == right, c.equal);
        EXPECT_EQ(right == left, c.equal);
        EXPECT_EQ(left != right, !c.equal);
    }
    EXPECT_NE(PublicKey(RsaPublicKey{hex("00C001"), 3}), PublicKey(RsaPublicKey{hex("C001"), 65537}));
    EXPECT_NE(PublicKey(RsaPublicKey{hex("00C001"), 0}), PublicKey(hex("C001")));
}

// The same RSA key read from an openssl request (modulus with its 00) and
// from the certificate openssl made for that key (modulus without it).
TEST(PublicKey, RsaKeyOfRequestEqualsKeyOfItsCertificate)
{
    if (!testtool::haveOpenssl()) {
        GTEST_SKIP() << "openssl is missing";
    }
    const testtool::TempFile key(bytes{});
    testtool::run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out " + key.path.string());
    const std::string request =
        testtool::run("openssl req -new -key " + key.path.string() + " -subj /CN=rsa -outform DER");
    const std::string certificate =
        testtool::run("openssl req -new -x509 -key " + key.path.string() + " -subj /CN=rsa -outform DER");
    ASSERT_FALSE(request.empty());
    ASSERT_FALSE(certificate.empty());

    const PublicKey fromRequest = Pkcs10(bytes(request.begin(), request.end())).publicKeyInfo().publicKey;
    const PublicKey fromCertificate =
        X509(bytes(certificate.begin(), certificate.end())).publicKey(Endian::Big);
    ASSERT_TRUE(fromRequest.isRsa());
    EXPECT_EQ(fromRequest.rsaKey().modulus.front(), 0x00); // the INTEGER's sign octet
    EXPECT_NE(fromRequest.rsaKey().modulus, fromCertificate.rsaKey().modulus);
    EXPECT_EQ(fromRequest, fromCertificate);
}

} // namespace
