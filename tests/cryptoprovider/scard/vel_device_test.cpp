// The confirmation token without a card: its ATR test, the serial texts, how
// a PIN becomes bytes, the device information record, and the device values
// that the environment may replace.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/scard/vel_device.h"

namespace
{

const std::vector<unsigned char> ATR = {0x3B, 0x9B, 0x96, 0x01, 0x80, 0x31, 0x01, 0x61,
                                        0x56, 0x73, 0x00, 0x21, 0x51, 0x81, 0x07, 0x0E};

std::vector<unsigned char> withByte(std::size_t index, unsigned char value)
{
    auto atr = ATR;
    atr[index] = value;
    return atr;
}

TEST(VelTokenAtr, FixedBytesAndLengthDecide)
{
    EXPECT_TRUE(isOrmidVelToken(ATR));

    const std::vector<unsigned char> shorter(ATR.begin(), ATR.end() - 1);
    auto longer = ATR;
    longer.push_back(0x00);
    EXPECT_FALSE(isOrmidVelToken(shorter));
    EXPECT_FALSE(isOrmidVelToken(longer));
    EXPECT_FALSE(isOrmidVelToken({}));

    // Every examined byte, changed, is another card.
    for (std::size_t i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 13}) {
        EXPECT_FALSE(isOrmidVelToken(withByte(i, static_cast<unsigned char>(ATR[i] ^ 0x10)))) << "byte " << i;
    }
    // Byte 12: only its two low bits are free.
    for (unsigned char b12 : {0x50, 0x51, 0x52, 0x53}) {
        EXPECT_TRUE(isOrmidVelToken(withByte(12, b12))) << int(b12);
    }
    for (unsigned char b12 : {0x54, 0x40, 0xD0, 0x58}) {
        EXPECT_FALSE(isOrmidVelToken(withByte(12, b12))) << int(b12);
    }
    // Bytes 8, 14 (the life-cycle state) and 15 are not examined.
    for (std::size_t i : {8, 14, 15}) {
        for (unsigned char value : {0x00, 0x03, 0x04, 0x06, 0xFF}) {
            EXPECT_TRUE(isOrmidVelToken(withByte(i, value))) << "byte " << i;
        }
    }
}

TEST(VelTokenSerial, TextIsEightDigitsInPairsOrDashes)
{
    struct Case {
        bytes stored;
        const char* text;
    };
    const Case cases[] = {
        {{0x87, 0xD6, 0x12, 0x00}, "01-23-45-67"}, // 1234567, the first byte least significant
        {{0x00, 0x00, 0x00, 0x00}, "00-00-00-00"},
        {{0xFF, 0xE0, 0xF5, 0x05}, "99-99-99-99"}, // 99999999, the largest number shown
        {{0x00, 0xE1, 0xF5, 0x05}, "--------"},    // 100000000
        {{0xFF, 0xFF, 0xFF, 0xFF}, "--------"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(veltoken::serialText(c.stored), c.text);
    }
    EXPECT_THROW(veltoken::serialText({1, 2, 3}), std::invalid_argument);
}

TEST(VelTokenInfo, TagsAreReadWithinTheRecord)
{
    const bytes info = {0x95, 0x04, 0x87, 0xD6, 0x12, 0x00, 0x96, 0x01, 0x01, 0x97, 0x01, 0x05};
    EXPECT_EQ(veltoken::serialFromInfo(info), (bytes{0x87, 0xD6, 0x12, 0x00}));
    EXPECT_TRUE(veltoken::defaultPinFromInfo(info));
    EXPECT_EQ(veltoken::pinTriesFromInfo(info), 5);

    // Without tag 97 (or with it empty) the tries are unknown: 16.
    EXPECT_EQ(veltoken::pinTriesFromInfo({0x95, 0x04, 1, 2, 3, 4}), 16);
    EXPECT_EQ(veltoken::pinTriesFromInfo({0x97, 0x00}), 16);
    EXPECT_FALSE(veltoken::defaultPinFromInfo({0x96, 0x01, 0x00}));
    EXPECT_FALSE(veltoken::defaultPinFromInfo({}));

    // A serial that is short, cut off by the end of the record, or absent is
    // no device of this make; a longer one gives its first four bytes.
    for (const bytes& bad : {bytes{0x95, 0x03, 1, 2, 3}, bytes{0x95, 0x04, 1, 2, 3}, bytes{0x96, 0x01, 0x01},
                             bytes{0x95}, bytes{}}) {
        EXPECT_THROW(veltoken::serialFromInfo(bad), UnknownDevice);
    }
    EXPECT_EQ(veltoken::serialFromInfo({0x95, 0x05, 1, 2, 3, 4, 5}), (bytes{1, 2, 3, 4}));
}

TEST(VelTokenPin, PinBytesAreUtf8WithoutTerminator)
{
    EXPECT_EQ(veltoken::getPasswordData(L"1234"), (bytes{'1', '2', '3', '4'}));
    EXPECT_EQ(veltoken::getPasswordData(L"пин"), (bytes{0xD0, 0xBF, 0xD0, 0xB8, 0xD0, 0xBD}));
    EXPECT_TRUE(veltoken::getPasswordData(L"").empty());
}

class VelTokenSettings : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        unsetenv(veltoken::DEFAULT_PIN_VARIABLE);
        unsetenv(veltoken::ACTIVATION_CODE_VARIABLE);
    }
};

TEST_F(VelTokenSettings, BuiltInValuesUnlessTheEnvironmentReplacesThem)
{
    EXPECT_EQ(veltoken::defaultUserPin(), L"123456");
    EXPECT_EQ(veltoken::activationCode(), "12345678");

    setenv(veltoken::DEFAULT_PIN_VARIABLE, "пароль", 1); // six characters, twelve bytes
    setenv(veltoken::ACTIVATION_CODE_VARIABLE, "87654321", 1);
    EXPECT_EQ(veltoken::defaultUserPin(), L"пароль");
    EXPECT_EQ(veltoken::activationCode(), "87654321");

    // An empty value is no value.
    setenv(veltoken::DEFAULT_PIN_VARIABLE, "", 1);
    EXPECT_EQ(veltoken::defaultUserPin(), L"123456");
}

TEST_F(VelTokenSettings, InvalidValuesAreRefusedByName)
{
    for (const char* pin : {"12345", "1234567"}) {
        setenv(veltoken::DEFAULT_PIN_VARIABLE, pin, 1);
        try {
            veltoken::defaultUserPin();
            FAIL() << pin << " accepted";
        } catch (const DeviceError& e) {
            EXPECT_NE(std::string(e.what()).find(veltoken::DEFAULT_PIN_VARIABLE), std::string::npos);
            EXPECT_EQ(std::string(e.what()).find(pin), std::string::npos) << "the value is a secret";
        }
    }
    for (const char* code : {"1234567", "123456789", "1234567a", "1234 678"}) {
        setenv(veltoken::ACTIVATION_CODE_VARIABLE, code, 1);
        EXPECT_THROW(veltoken::activationCode(), DeviceError) << code;
    }
}

} // namespace
