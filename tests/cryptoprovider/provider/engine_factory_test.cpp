#include "cryptoprovider/core/engine_factory.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"

namespace
{

TEST(EngineFactory, CryptoTypesWithoutAnEngine)
{
    for (const char* cryptoType : {"", "std", "ovt", "microsoft", "rutoken", "Angara", "cryptopro", "signalcom"}) {
        EXPECT_THROW(getDigestEngine(cryptoType), FunctionNotImplemented) << cryptoType;
        EXPECT_THROW(getVerifySignEngineSoftware(cryptoType), FunctionNotImplemented) << cryptoType;
    }
}

TEST(EngineFactory, HardwareVerifierNeedsADevice)
{
    try {
        getVerifySignEngineHardware(nullptr);
        ADD_FAILURE() << "null device accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), cp::localization.get("CP-008060"));
    }
}

} // namespace
