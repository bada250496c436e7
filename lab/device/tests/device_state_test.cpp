#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "device/device.h"

namespace
{
namespace fs = std::filesystem;

class DeviceStateTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/lab-device-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

TEST_F(DeviceStateTest, FactsAndObjectsSurviveSaveAndLoad)
{
    labdev::DeviceDirectory dir(m_dir);
    labdev::Device d = labdev::makeDevice("jacarta-gost2", "4E5A1B2C", "Aladdin R.D. JaCarta 00 00");
    d.set("card.custom", "kept by the card simulator");
    d.addObject({{0x0, {0, 0, 0, 0, 0, 0, 0, 0}}, {0x3, {}}, {0x80000000, {0xFF, 0x00, 0x0A}}});
    dir.add(d);
    labdev::Device back = dir.load("4E5A1B2C");
    d.setInt("slot", 0);
    EXPECT_EQ(back.facts, d.facts);
    ASSERT_EQ(back.objects.size(), 1u);
    EXPECT_EQ(back.objects[0].attributes, d.objects[0].attributes);
    EXPECT_EQ(back.nextHandle, 2u);
    EXPECT_THROW(dir.add(d), std::runtime_error);
    dir.remove("4E5A1B2C");
    EXPECT_TRUE(dir.serials().empty());
    EXPECT_THROW(dir.load("4E5A1B2C"), std::runtime_error);
}

TEST_F(DeviceStateTest, BadInputIsRefused)
{
    EXPECT_THROW(labdev::makeDevice("rutoken-lite", "1", "r"), std::invalid_argument);
    EXPECT_THROW(labdev::makeDevice("angara", "../escape", "r"), std::invalid_argument);
    EXPECT_THROW(labdev::makeDevice("angara", "12345678901234567", "r"), std::invalid_argument);
    EXPECT_THROW(labdev::makeDevice("angara", "1", "two\nlines"), std::invalid_argument);
    labdev::Device d;
    EXPECT_THROW(labdev::parseFacts("serial\n", d), std::runtime_error);
    EXPECT_THROW(labdev::parseObjects("attr 3 00\n", d), std::runtime_error);
    EXPECT_THROW(labdev::parseObjects("object 1\nattr 3 0g\n", d), std::invalid_argument);
    EXPECT_THROW(labdev::parseObjects("object 1\nattr 3 012\n", d), std::invalid_argument);
    EXPECT_THROW(labdev::parseObjects("object 1\nobject 1\n", d), std::runtime_error);
    EXPECT_THROW(labdev::parseObjects("object -1\n", d), std::invalid_argument);
    d.facts["user-tries-left"] = "ten";
    EXPECT_THROW(d.getInt("user-tries-left"), std::runtime_error);
}

TEST_F(DeviceStateTest, ConcurrentUpdatesFromTwoProcessesAreNotLost)
{
    labdev::DeviceDirectory dir(m_dir);
    dir.add(labdev::makeDevice("rutoken-ecp", "0A1B2C3D", "Aktiv Rutoken ECP 00 00"));
    auto bump = [&] {
        for (int i = 0; i < 200; ++i)
            dir.update("0A1B2C3D", [](labdev::Device& d) {
                d.setInt("counter", d.getInt("counter") + 1);
                d.addObject({{0x3, {1}}});
            });
    };
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            bump();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    bump();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    labdev::Device d = dir.load("0A1B2C3D");
    EXPECT_EQ(d.getInt("counter"), 400);
    EXPECT_EQ(d.objects.size(), 400u);
    EXPECT_EQ(d.nextHandle, 401u);
}

TEST_F(DeviceStateTest, SlotsAreNumberedPerModuleFamily)
{
    labdev::DeviceDirectory dir(m_dir);
    dir.add(labdev::makeDevice("rutoken-ecp-3", "0000000A", "Aktiv Rutoken ECP 00 00"));
    dir.add(labdev::makeDevice("angara", "B", "Angara 0"));
    dir.add(labdev::makeDevice("rutoken-ecp-2100", "0000000C", "Aktiv Rutoken ECP 01 00"));
    dir.remove("0000000A");
    dir.add(labdev::makeDevice("rutoken-ecp", "0000000D", "Aktiv Rutoken ECP 02 00"));
    EXPECT_EQ(dir.load("B").get("slot"), "0");
    EXPECT_EQ(dir.load("0000000C").get("slot"), "1");
    EXPECT_EQ(dir.load("0000000D").get("slot"), "0");
}

} // namespace
