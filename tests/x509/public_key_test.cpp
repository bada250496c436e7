#include <gtest/gtest.h>

#include <stdexcept>

#include "asn1/der.h"
#include "base/conv.h"
#include "x509/public_key.h"

namespace
{

bytes hex(std::string_view text)
{
    return conv::hex_to_bytes(text);
}

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

} // namespace
