#include "cryptoprovider/provider/engine_factory.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"

namespace
{

TEST(EngineFactory, CryptoTypesWithoutAnEngine)
{
    for (const char* cryptoType : {"", "std", "ovt", "microsoft", "vipnet", "rutoken", "Angara", "signalcom"}) {
        EXPECT_THROW(getDigestEngine(cryptoType), FunctionNotImplemented) << cryptoType;
        EXPECT_THROW(getVerifySignEngineSoftware(cryptoType), FunctionNotImplemented) << cryptoType;
    }
}

// This test runs with ORMID_CSP_DIR naming a folder without a CSP.
TEST(EngineFactory, TheCspEnginesNeedTheCsp)
{
    EXPECT_THROW(getDigestEngine("cryptopro"), CryptoProCSPLoadError);
    EXPECT_THROW(getVerifySignEngineSoftware("cryptopro"), CryptoProCSPLoadError);
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
