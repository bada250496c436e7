// The test-side controls of the lab tokens: call log and fault injection,
// both driven through files of the state directory.
#include <fstream>

#include "token_fixture.h"

namespace labtest
{
namespace
{

class ControlTest : public TokenTest
{
  protected:
    void SetUp() override
    {
        TokenTest::SetUp();
        addDevice("rutoken-ecp-2", "0A1B2C3D", "Aktiv Rutoken ECP 00 00");
        addDevice("angara", "ANG1", "Angara 0");
    }
    void writeFaults(const std::string& rules) { gostsoft::writeFile(m_dir.file("faults"), rules); }
    std::vector<std::string> logLines()
    {
        std::ifstream in(m_dir.file("calls.log"));
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }
    CK_RV digestOnce(Module& m, CK_SESSION_HANDLE h)
    {
        CK_MECHANISM mechanism{CKM_SHA256, nullptr, 0};
        return m->C_DigestInit(h, &mechanism);
    }
};

TEST_F(ControlTest, CallLogRecordsEveryCallInOrderWithoutPins)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE h = session(m, 0);
    EXPECT_EQ(login(m, h, "00000000"), CKR_PIN_INCORRECT);
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("rutoken C_Initialize rv=0x0"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("C_OpenSession slot=0 flags=0x6 rv=0x0"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("C_Login session=" + std::to_string(h) + " user=1 rv=0xa0"), std::string::npos)
        << lines[2];
    for (const auto& l : lines)
        EXPECT_EQ(l.find("00000000"), std::string::npos);
}

TEST_F(ControlTest, NthCallAndFromCallRules)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE h = session(m, 0);
    writeFaults("C_DigestInit nth 2 CKR_DEVICE_ERROR\n"
                "C_DigestInit nth one CKR_DEVICE_ERROR\n" // malformed: never fires
                "C_DigestInit from 1 CKR_NO_SUCH_VALUE\n"
                "C_GenerateRandom from 3 0x30\n");
    EXPECT_EQ(digestOnce(m, h), CKR_OK);
    // The failed step ends the digest, as the standard says.
    ASSERT_EQ(m->C_DigestFinal(h, nullptr, nullptr), CKR_ARGUMENTS_BAD);
    std::uint8_t d[32];
    CK_ULONG n = sizeof d;
    ASSERT_EQ(m->C_DigestFinal(h, d, &n), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(digestOnce(m, h), CKR_DEVICE_ERROR);
    EXPECT_EQ(digestOnce(m, h), CKR_OK);
    std::uint8_t r[8];
    EXPECT_EQ(m->C_GenerateRandom(h, r, 8), CKR_OK);
    EXPECT_EQ(m->C_GenerateRandom(h, r, 8), CKR_OK);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(m->C_GenerateRandom(h, r, 8), CKR_DEVICE_ERROR);
    // The injected calls are marked in the log.
    auto lines = logLines();
    EXPECT_NE(lines.back().find("C_GenerateRandom session=" + std::to_string(h) + " rv=0x30 injected"),
              std::string::npos)
        << lines.back();
}

TEST_F(ControlTest, RulesCanNameOneModuleAndEveryFunction)
{
    Module& rutoken = open("rtpkcs11ecp");
    Module& angara = open("pkcs11-angara");
    CK_SESSION_HANDLE r = session(rutoken, 0), a = session(angara, 0);
    writeFaults("* from 1 CKR_TOKEN_NOT_PRESENT module=angara\n");
    CK_TOKEN_INFO info{};
    EXPECT_EQ(angara->C_GetTokenInfo(0, &info), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(digestOnce(angara, a), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(rutoken->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ(digestOnce(rutoken, r), CKR_OK);
    // Removing the rules ends the faults.
    writeFaults("");
    EXPECT_EQ(angara->C_GetTokenInfo(0, &info), CKR_OK);
}

TEST_F(ControlTest, ARuleCanPullTheTokenOut)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE h = session(m, 0);
    ASSERT_EQ(login(m, h, "12345678"), CKR_OK);
    writeFaults("C_GenerateRandom nth 2 CKR_DEVICE_REMOVED remove=0A1B2C3D\n");
    std::uint8_t r[8];
    EXPECT_EQ(m->C_GenerateRandom(h, r, 8), CKR_OK);
    EXPECT_EQ(m->C_GenerateRandom(h, r, 8), CKR_DEVICE_REMOVED);
    EXPECT_FALSE(device("0A1B2C3D").getBool("present", true));
    CK_TOKEN_INFO info{};
    EXPECT_EQ(m->C_GetTokenInfo(0, &info), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(digestOnce(m, h), CKR_DEVICE_REMOVED);
}

TEST_F(ControlTest, AlreadyInitialisedLeavesAUsableModule)
{
    writeFaults("C_Initialize nth 1 CKR_CRYPTOKI_ALREADY_INITIALIZED\n");
    Module& m = module("rtpkcs11ecp");
    EXPECT_EQ(m->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    m_initialised.push_back(&m);
    EXPECT_EQ(slots(m).size(), 1u);
    // Any other code leaves it uninitialised.
    ASSERT_EQ(m->C_Finalize(nullptr), CKR_OK);
    writeFaults("C_Initialize nth 1 CKR_GENERAL_ERROR\n");
    EXPECT_EQ(m->C_Initialize(nullptr), CKR_GENERAL_ERROR);
    CK_ULONG n = 0;
    EXPECT_EQ(m->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(m->C_Initialize(nullptr), CKR_OK);
}

} // namespace
} // namespace labtest
