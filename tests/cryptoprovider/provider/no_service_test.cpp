// A machine without the PC/SC service: listing the confirmation token fails
// at once with the service error, and detection finds nothing.
#include <gtest/gtest.h>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/provider/crypto_provider_ru.h"

TEST(NoPcscService, ConfirmationTokenListingReportsTheMissingService)
{
    CryptoProviderRU provider;
    EXPECT_THROW(provider.keyStoreList(KeyStoreType::VelToken), ScardNoService);
    EXPECT_THROW(provider.selectKeyStore(KeyStoreType::VelToken, "01-23-45-67", false), ScardNoService);
    EXPECT_TRUE(provider.availableCrypto({}).empty());
    EXPECT_EQ(provider.cryptoTypeVersion("ovt"), "null");
}
