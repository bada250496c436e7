#include "token_fixture.h"

namespace labtest
{
namespace
{

std::string field(const CK_UTF8CHAR* f, std::size_t n)
{
    return std::string(reinterpret_cast<const char*>(f), n);
}

class TokenInfoTest : public TokenTest
{
};

struct ModelCase {
    const char* module;
    const char* model;
    const char* tokenModel;
};

TEST_F(TokenInfoTest, SlotsShowTheReaderAndTokensTheirModelAndSerial)
{
    const ModelCase cases[] = {
        {"rtpkcs11ecp", "rutoken-ecp-3", "Rutoken ECP 3.0"},
        {"pkcs11-angara", "angara", "MS_KEY K"},
        {"jcPKCS11-2", "jacarta-gost2", "JaCarta GOST 2.0"},
    };
    addDevice("rutoken-ecp-3", "a1b2c3d", "Aktiv Rutoken ECP 00 00");
    addDevice("angara", "12345678", "Angara Reader 0");
    addDevice("jacarta-gost2", "4E5A1B2C", "Aladdin R.D. JaCarta 00 00");
    // A second Rutoken of another reader gets the next slot of the same module.
    addDevice("rutoken-ecp-2", "0B0B0B0B", "Aktiv Rutoken ECP 01 00");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        Module& m = open(c.module);
        auto ids = slots(m);
        ASSERT_FALSE(ids.empty());
        CK_SLOT_INFO slot{};
        ASSERT_EQ(m->C_GetSlotInfo(ids[0], &slot), CKR_OK);
        CK_TOKEN_INFO info{};
        ASSERT_EQ(m->C_GetTokenInfo(ids[0], &info), CKR_OK);
        EXPECT_EQ(field(info.model, 16).substr(0, std::strlen(c.tokenModel)), c.tokenModel);
        EXPECT_TRUE(slot.flags & CKF_TOKEN_PRESENT);
        EXPECT_TRUE(info.flags & CKF_USER_PIN_INITIALIZED);
        EXPECT_FALSE(info.flags & (CKF_USER_PIN_LOCKED | CKF_SO_PIN_LOCKED));
        EXPECT_EQ(info.ulMinPinLen, 4u);
        EXPECT_EQ(info.ulMaxPinLen, 32u);
    }
    Module& rutoken = module("rtpkcs11ecp");
    ASSERT_EQ(slots(rutoken).size(), 2u);
    CK_SLOT_INFO slot{};
    CK_TOKEN_INFO info{};
    ASSERT_EQ(rutoken->C_GetSlotInfo(0, &slot), CKR_OK);
    ASSERT_EQ(rutoken->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_NE(field(slot.slotDescription, 64).find("Aktiv Rutoken ECP 00 00"), std::string::npos);
    // Serial numbers as the tokens print them: the text padded with spaces.
    EXPECT_EQ(field(info.serialNumber, 16), "a1b2c3d         ");
    ASSERT_EQ(rutoken->C_GetSlotInfo(1, &slot), CKR_OK);
    EXPECT_NE(field(slot.slotDescription, 64).find("Aktiv Rutoken ECP 01 00"), std::string::npos);
}

TEST_F(TokenInfoTest, PinStateFlagsFollowTheDevice)
{
    addDevice("angara", "A1", "Angara 0", {{"user-tries-left", "3"}, {"so-tries-left", "0"}});
    Module& m = open("pkcs11-angara");
    CK_TOKEN_INFO info{};
    ASSERT_EQ(m->C_GetTokenInfo(0, &info), CKR_OK);
    // MS_KEY K: tries left in bits 12 to 15, the factory PIN to be changed.
    EXPECT_EQ((info.flags >> 12) & 0xF, 3u);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_TO_BE_CHANGED);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_COUNT_LOW);
    EXPECT_FALSE(info.flags & CKF_USER_PIN_LOCKED);
    EXPECT_TRUE(info.flags & CKF_SO_PIN_LOCKED);

    devices().update("A1", [](labdev::Device& d) {
        d.setInt("user-tries-left", 0);
        d.setInt("user-pin-initialized", 0);
    });
    ASSERT_EQ(m->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ((info.flags >> 12) & 0xF, 0u);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_LOCKED);
    EXPECT_FALSE(info.flags & CKF_USER_PIN_INITIALIZED);
}

TEST_F(TokenInfoTest, RutokenExtendedInformation)
{
    addDevice("rutoken-ecp-2", "0A1B2C3D", "Aktiv Rutoken ECP 00 00");
    Module& m = open("rtpkcs11ecp");
    auto getExtended = reinterpret_cast<CK_C_EX_GetTokenInfoExtended>(m.symbol("C_EX_GetTokenInfoExtended"));
    ASSERT_NE(getExtended, nullptr);
    EXPECT_EQ(module("pkcs11-angara").symbol("C_EX_GetTokenInfoExtended"), nullptr);

    pkcs11::TokenInfoExtended ext{};
    ext.ulSizeofThisStructure = 200;
    EXPECT_EQ(getExtended(0, &ext), CKR_ARGUMENTS_BAD);
    ext.ulSizeofThisStructure = 240;
    ASSERT_EQ(getExtended(0, &ext), CKR_OK);
    EXPECT_EQ(ext.ulTokenClass, pkcs11::TOKEN_CLASS_ECP);
    EXPECT_EQ(ext.flags & pkcs11::TOKEN_FLAGS_USER_PIN_CHANGED, 0u);
    const CK_BYTE serial[] = {0x0A, 0x1B, 0x2C, 0x3D};
    EXPECT_EQ(0, std::memcmp(ext.serialNumber, serial, 4));
    EXPECT_EQ(ext.ulUserRetryCountLeft, 10u);

    // Changing the user PIN clears the "default PIN" state.
    CK_SESSION_HANDLE h = session(m, 0);
    ASSERT_EQ(login(m, h, "12345678"), CKR_OK);
    std::string oldPin = "12345678", newPin = "11112222";
    ASSERT_EQ(m->C_SetPIN(h, reinterpret_cast<CK_UTF8CHAR_PTR>(oldPin.data()), oldPin.size(),
                          reinterpret_cast<CK_UTF8CHAR_PTR>(newPin.data()), newPin.size()),
              CKR_OK);
    ASSERT_EQ(getExtended(0, &ext), CKR_OK);
    EXPECT_EQ(ext.flags & pkcs11::TOKEN_FLAGS_USER_PIN_CHANGED, pkcs11::TOKEN_FLAGS_USER_PIN_CHANGED);
    EXPECT_EQ(device("0A1B2C3D").get("user-pin"), newPin);
}

TEST_F(TokenInfoTest, RemovedTokenLeavesAnEmptySlot)
{
    addDevice("jacarta-gost2", "J1", "JaCarta 0");
    Module& m = open("jcPKCS11-2");
    CK_SESSION_HANDLE h = session(m, 0);
    devices().update("J1", [](labdev::Device& d) { d.setInt("present", 0); });

    EXPECT_TRUE(slots(m, true).empty());
    EXPECT_EQ(slots(m, false).size(), 1u);
    CK_TOKEN_INFO info{};
    EXPECT_EQ(m->C_GetTokenInfo(0, &info), CKR_TOKEN_NOT_PRESENT);
    CK_SLOT_INFO slot{};
    ASSERT_EQ(m->C_GetSlotInfo(0, &slot), CKR_OK);
    EXPECT_FALSE(slot.flags & CKF_TOKEN_PRESENT);
    EXPECT_EQ(login(m, h, "12345678"), CKR_DEVICE_REMOVED);
    EXPECT_EQ(m->C_GetTokenInfo(7, &info), CKR_SLOT_ID_INVALID);
}

} // namespace
} // namespace labtest
