// A PC/SC service with no reader attached (layout "empty" of scripts/lab).
#include <gtest/gtest.h>

#include "cryptoprovider/pcsc/scard_provider.h"

namespace
{

TEST(NoReaders, ListIsEmptyAndReadersAreUnknown)
{
    SCardProvider provider;
    EXPECT_TRUE(provider.listReaders().empty());
    EXPECT_THROW(provider.getStatus("Aktiv Rutoken ECP 00 00"), DeviceNotFound);
    EXPECT_THROW(SCardProvider("Aktiv Rutoken ECP 00 00"), DeviceNotFound);
}

} // namespace
