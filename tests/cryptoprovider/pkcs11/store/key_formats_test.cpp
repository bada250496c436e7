// The metadata container and the token key record class, without a token.
#include "cryptoprovider/pkcs11/key_formats.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/conv.h"
#include "cryptoprovider/core/errors.h"

namespace
{

bytes containerBytes(std::size_t size)
{
    bytes data(size, 0);
    std::copy_n("kvmf", 4, data.begin());
    return data;
}

TEST(MetaInfoContainer, AcceptsOnlyWholeContainers)
{
    const MetaInfoContainer fresh;
    EXPECT_EQ(fresh.data(), containerBytes(64));
    EXPECT_FALSE(fresh.hasPass());

    bytes full = containerBytes(70);
    full[4] = 16;
    full[70 - 1] = 0xAA;
    EXPECT_EQ(MetaInfoContainer(full, false).data(), full);
    EXPECT_EQ(MetaInfoContainer(conv::binary_to_base64(full), false).data(), full);
    EXPECT_EQ(MetaInfoContainer(full, false).payload(), (bytes{0, 0, 0, 0, 0, 0xAA}));

    bytes short63 = containerBytes(63);
    short63[4] = 16;
    bytes wrongMagic = containerBytes(64);
    wrongMagic[0] = 'K';
    for (const bytes& bad : {short63, wrongMagic, bytes()}) {
        EXPECT_THROW(MetaInfoContainer(bad, false), AccessDenied);
        const MetaInfoContainer replaced(bad, true);
        EXPECT_EQ(replaced.data(), containerBytes(64));
        EXPECT_FALSE(replaced.hasPass());
    }
    // Text that is not Base64 is no container either.
    EXPECT_THROW(MetaInfoContainer(std::string_view("Other app key"), false), AccessDenied);
    EXPECT_EQ(MetaInfoContainer(std::string_view("Other app key"), true).data(), containerBytes(64));
}

TEST(MetaInfoContainer, FieldsSitAtTheirOffsets)
{
    MetaInfoContainer meta;
    meta.setMaxTries(16);
    meta.setFailedTries(3);
    bytes hash(32);
    for (std::size_t i = 0; i < hash.size(); ++i)
        hash[i] = static_cast<std::uint8_t>(0xE0 + i);
    meta.setPassHash(hash);
    meta.setCryptoType("ccom341");
    meta.setPayload({1, 2, 3});
    meta.setPayload({4, 5});

    const bytes& data = meta.data();
    ASSERT_EQ(data.size(), 66u);
    EXPECT_EQ(data[4], 16);
    EXPECT_EQ(data[5], 3);
    EXPECT_EQ(bytes(data.begin() + 6, data.begin() + 38), hash);
    EXPECT_EQ(data[38], 2);
    EXPECT_EQ(bytes(data.begin() + 39, data.begin() + 64), bytes(25, 0));
    EXPECT_EQ(meta.payload(), (bytes{4, 5}));
    EXPECT_EQ(meta.passHash(), hash);
    EXPECT_EQ(meta.cryptoType(), "ccom341");
    EXPECT_EQ(MetaInfoContainer(meta.base64(), false).data(), data);

    // Whether a key has a password is maxTries alone.
    meta.setMaxTries(0);
    EXPECT_FALSE(meta.hasPass());
    meta.setPassHash(bytes(32, 0));
    meta.setMaxTries(1);
    EXPECT_TRUE(meta.hasPass());

    EXPECT_THROW(meta.setPassHash(bytes(31)), std::invalid_argument);
    EXPECT_THROW(meta.setPassHash(bytes(33)), std::invalid_argument);
    EXPECT_THROW(meta.setCryptoType("ccom36"), UnsupportedCryptoType);
    bytes unknownType = containerBytes(64);
    unknownType[38] = 4;
    EXPECT_THROW(MetaInfoContainer(unknownType, false).cryptoType(), UnknownCryptoType);
}

TEST(Pkcs11KeyRecord, TakesItsNumberFromTheObjectId)
{
    const TokenKeyRecord::ParamSets sets{{0x20, "1.2.643.2.2.35.1"}};
    const bytes record{0, 1, 0, 0, 0, 0, 0, 0, 0, 5, 0x20, 'k'};
    const struct {
        bytes keyId;
        std::uint8_t id;
    } cases[] = {{{}, 0}, {{0x07}, 7}, {{0x01, 0x03}, 3}, {{0x01, 0x02, 0xFF}, 0xFF}};
    for (const auto& c : cases) {
        const pkcs11::KeyRecord key(c.keyId, record, sets, "rutoken_2", false, false);
        EXPECT_EQ(key.id(), c.id);
        EXPECT_EQ(key.keyId(), c.keyId);
        EXPECT_FALSE(key.hasPassword());
        EXPECT_FALSE(key.isChangeable());
        EXPECT_EQ(key.externalId(), 5u);
    }
    const pkcs11::KeyRecord made("new", 9, GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, "1.2.643.2.2.35.1",
                                 sets, "rutoken_2", {0x01, 0x04});
    EXPECT_EQ(made.id(), 4);
    EXPECT_TRUE(made.hasPassword());
    EXPECT_EQ(made.data(FORMAT_VERSION::V1), (bytes{0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 'n', 'e', 'w'}));

    const std::shared_ptr<KeyRecord> token = std::make_shared<pkcs11::KeyRecord>(made);
    EXPECT_EQ(pkcs11::key(token)->keyId(), (bytes{0x01, 0x04}));
    const std::shared_ptr<KeyRecord> plain = std::make_shared<TokenKeyRecord>(made);
    EXPECT_THROW(pkcs11::key(plain), std::logic_error);
    EXPECT_THROW(pkcs11::key(nullptr), std::logic_error);
}

} // namespace
