#include "token_fixture.h"

namespace labtest
{
namespace
{

class LoginTest : public TokenTest
{
  protected:
    void SetUp() override
    {
        TokenTest::SetUp();
        addDevice("rutoken-ecp-2", "0A1B2C3D", "Aktiv Rutoken ECP 00 00",
                  {{"user-tries-max", "3"}, {"user-tries-left", "3"}});
    }
    long long triesLeft() { return device("0A1B2C3D").getInt("user-tries-left"); }
};

TEST_F(LoginTest, WrongPinsCountDownAndLockTheToken)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE h = session(m, 0);
    EXPECT_EQ(login(m, h, "00000000"), CKR_PIN_INCORRECT);
    EXPECT_EQ(triesLeft(), 2);
    // The right PIN restores the tries.
    ASSERT_EQ(login(m, h, "12345678"), CKR_OK);
    EXPECT_EQ(triesLeft(), 3);
    EXPECT_EQ(login(m, h, "12345678"), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(login(m, h, "87654321", CKU_SO), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    ASSERT_EQ(m->C_Logout(h), CKR_OK);
    EXPECT_EQ(m->C_Logout(h), CKR_USER_NOT_LOGGED_IN);

    for (long long left = 2; left >= 0; --left) {
        EXPECT_EQ(login(m, h, "99999999"), CKR_PIN_INCORRECT);
        EXPECT_EQ(triesLeft(), left);
    }
    // Locked: even the right PIN is refused, and the token says so.
    EXPECT_EQ(login(m, h, "12345678"), CKR_PIN_LOCKED);
    CK_TOKEN_INFO info{};
    ASSERT_EQ(m->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_LOCKED);

    // The security officer unlocks it with a new user PIN.
    ASSERT_EQ(login(m, h, "87654321", CKU_SO), CKR_OK);
    std::string pin = "24682468";
    ASSERT_EQ(m->C_InitPIN(h, reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()), pin.size()), CKR_OK);
    ASSERT_EQ(m->C_Logout(h), CKR_OK);
    EXPECT_EQ(login(m, h, pin), CKR_OK);
    EXPECT_EQ(triesLeft(), 3);
}

TEST_F(LoginTest, PinLengthOutsideTheLimitsCostsNoTry)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE h = session(m, 0);
    EXPECT_EQ(login(m, h, "123"), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(login(m, h, std::string(33, '1')), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(triesLeft(), 3);
}

TEST_F(LoginTest, SetPinChecksTheOldPinAndTheNewLength)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE h = session(m, 0);
    auto setPin = [&](std::string oldPin, std::string newPin) {
        return m->C_SetPIN(h, reinterpret_cast<CK_UTF8CHAR_PTR>(oldPin.data()), oldPin.size(),
                           reinterpret_cast<CK_UTF8CHAR_PTR>(newPin.data()), newPin.size());
    };
    EXPECT_EQ(setPin("00000000", "11111111"), CKR_PIN_INCORRECT);
    EXPECT_EQ(triesLeft(), 2);
    EXPECT_EQ(setPin("12345678", "12"), CKR_PIN_LEN_RANGE);
    ASSERT_EQ(setPin("12345678", "11111111"), CKR_OK);
    EXPECT_EQ(login(m, h, "12345678"), CKR_PIN_INCORRECT);
    EXPECT_EQ(login(m, h, "11111111"), CKR_OK);

    // Logged in as SO, C_SetPIN changes the SO PIN.
    ASSERT_EQ(m->C_Logout(h), CKR_OK);
    ASSERT_EQ(login(m, h, "87654321", CKU_SO), CKR_OK);
    ASSERT_EQ(setPin("87654321", "55556666"), CKR_OK);
    EXPECT_EQ(device("0A1B2C3D").get("so-pin"), "55556666");
    EXPECT_EQ(device("0A1B2C3D").get("user-pin"), "11111111");

    // A read-only session cannot change PINs.
    ASSERT_EQ(m->C_Logout(h), CKR_OK);
    CK_SESSION_HANDLE ro = session(m, 0, false);
    EXPECT_EQ(m->C_SetPIN(ro, nullptr, 0, nullptr, 0), CKR_SESSION_READ_ONLY);
}

TEST_F(LoginTest, SecurityOfficerWorksInReadWriteSessionsOnly)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE rw = session(m, 0), ro = session(m, 0, false);
    // Refused before the PIN is looked at: no try is spent.
    EXPECT_EQ(login(m, rw, "00000000", CKU_SO), CKR_SESSION_READ_ONLY_EXISTS);
    EXPECT_EQ(device("0A1B2C3D").getInt("so-tries-left"), 10);
    ASSERT_EQ(m->C_CloseSession(ro), CKR_OK);
    ASSERT_EQ(login(m, rw, "87654321", CKU_SO), CKR_OK);
    CK_SESSION_HANDLE h = 0;
    EXPECT_EQ(m->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h),
              CKR_SESSION_READ_WRITE_SO_EXISTS);
    EXPECT_EQ(m->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK);
    // The user may log in with read-only sessions open.
    ASSERT_EQ(m->C_Logout(rw), CKR_OK);
    ro = session(m, 0, false);
    EXPECT_EQ(login(m, rw, "12345678"), CKR_OK);
}

TEST_F(LoginTest, LoginIsSharedBySessionsAndEndsWithTheLast)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE a = session(m, 0), b = session(m, 0);
    ASSERT_EQ(login(m, a, "12345678"), CKR_OK);
    CK_SESSION_INFO info{};
    ASSERT_EQ(m->C_GetSessionInfo(b, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_USER_FUNCTIONS);
    ASSERT_EQ(m->C_CloseSession(a), CKR_OK);
    ASSERT_EQ(m->C_GetSessionInfo(b, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_USER_FUNCTIONS);
    ASSERT_EQ(m->C_CloseAllSessions(0), CKR_OK);
    EXPECT_EQ(m->C_GetSessionInfo(b, &info), CKR_SESSION_HANDLE_INVALID);
    CK_SESSION_HANDLE c = session(m, 0);
    ASSERT_EQ(m->C_GetSessionInfo(c, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION);
}

} // namespace
} // namespace labtest
