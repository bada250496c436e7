// The token store reaches its reader over PC/SC: a token whose card is
// pulled out is no longer ready.
#include <gtest/gtest.h>

#include "lab_store.h"
#include "support/lab_script.h"
#include "token_lab.h"

namespace
{

TEST(TokenReader, APulledOutDeviceFailsThePinQuery)
{
    const labdev::DeviceDirectory devices = labdev::DeviceDirectory::fromEnvironment();
    const std::string reader = devices.load(storelab::SERIAL).get(labdev::fact::READER);
    storelab::LabStore store(tokenlab::modulePath("rutoken"), devices, storelab::SERIAL);
    EXPECT_FALSE(store.isPinSet());
    store.setPin(storelab::PIN);
    EXPECT_TRUE(store.isPinSet());

    labscript::run("remove", " '" + reader + "'");
    EXPECT_ANY_THROW(store.isPinSet());
    labscript::run("insert", " '" + reader + "' rutoken " + storelab::SERIAL);
    EXPECT_TRUE(store.isPinSet());
}

} // namespace
