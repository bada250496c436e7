#include "jni/enum_conv.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "jni/errors.h"

namespace
{

TEST(EnumConv, KeyStoreKinds)
{
    EXPECT_EQ(conv::to_keyStoreType(0), KeyStoreType::HardwareDevice);
    EXPECT_EQ(conv::to_keyStoreType(2), KeyStoreType::CryptoProContainer);
    EXPECT_EQ(conv::to_keyStoreType(3), KeyStoreType::VelToken);
    for (int unknown : {1, 4, 8, 9, -1, 0x7FFFFFFF}) {
        EXPECT_FALSE(conv::to_keyStoreType(unknown).has_value()) << unknown;
    }
}

TEST(EnumConv, CertificateCategories)
{
    EXPECT_EQ(conv::to_certType(1), CERT_USER);
    EXPECT_EQ(conv::to_certType(4), CERT_CRL);
    EXPECT_EQ(conv::to_certType(0), CERT_UNSPECIFIED);
    for (int unknown : {5, -1, -2147483647 - 1}) {
        try {
            conv::to_certType(unknown);
            ADD_FAILURE() << unknown << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), ormid_signer::localization.get("BS-006003"));
        }
    }
}

} // namespace
