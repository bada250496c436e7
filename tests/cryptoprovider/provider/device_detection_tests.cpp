// Recognition of the devices in the lab's readers: Rutoken models by their
// chip data, the other makes by their ATR, everything else unknown.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>

#include "../pkcs11/models/lab_tokens.h"
#include "cryptoprovider/core/crypto_types.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "cryptoprovider/pkcs11/token_models.h"
#include "cryptoprovider/provider/device_detection.h"

namespace
{

using namespace labtokens;
using provider::RutokenModel;

bytes atrOf(const std::string& reader)
{
    SCardProvider provider;
    return provider.getStatus(reader).atr;
}

std::string chipTypeInfo(const HardwareDevice& device)
{
    return crypto::makeChipTypeInfo(device.chipType(), device.package());
}

class DeviceDetection : public ::testing::Test
{
  protected:
    static void SetUpTestSuite() { useLabModules(); }
};

TEST(RutokenChipData, NamesTheModelOrIsRefused)
{
    // bytes 1 (model), 4 (chip family) and 5 (generation) of the answer
    const struct {
        unsigned char model, family, generation;
        RutokenModel expected;
    } known[] = {
        {52, 24, 2, RutokenModel::Ecp2},    {54, 24, 2, RutokenModel::Ecp2100},
        {59, 23, 2, RutokenModel::Ecp3000}, {60, 24, 2, RutokenModel::Ecp3},
        {65, 27, 2, RutokenModel::Ecp3220}, {99, 30, 2, RutokenModel::Ecp2},
    };
    for (const auto& c : known) {
        const bytes data{0x00, c.model, 0x00, 0x00, c.family, c.generation, 0x00};
        EXPECT_EQ(provider::rutokenModel(data), c.expected) << int(c.model) << " " << int(c.family);
    }
    const bytes refused[] = {
        {0x00, 60, 0x00, 0x00, 24, 1},      // generation 1
        {0x00, 60, 0x00, 0x00, 25, 2},      // unknown chip family
        {0x00, 60, 0x00, 0x00, 0x24, 0x02}, // the digits 24 taken as hex are not the number 24
        {0x00, 60, 0x00, 0x00, 24},         // too short
        {},
    };
    for (const bytes& data : refused) {
        EXPECT_THROW(provider::rutokenModel(data), UnknownDevice);
    }
}

TEST_F(DeviceDetection, EachLabReaderGivesItsMake)
{
    const struct {
        const char* reader;
        const std::type_info& type;
        const char* cryptoType;
        const char* chipTypeInfo;
    } cases[] = {
        {RUTOKEN_READER, typeid(RuToken2), "rutoken_2", "RUTOKEN_ECP_2-401"},
        {MSKEY_READER, typeid(MSKeyKAngara), "angara", "MSKEY_K-202"},
        {JACARTA_READER, typeid(CryptoTokenEP2), "jacarta_2", "JACARTA_GOST-303"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reader);
        const auto device = getHardwareDevice(c.reader, atrOf(c.reader));
        ASSERT_TRUE(device);
        EXPECT_EQ(typeid(*device), c.type);
        EXPECT_EQ(device->cryptoType(), c.cryptoType);
        EXPECT_EQ(chipTypeInfo(*device), c.chipTypeInfo);
        EXPECT_EQ(device->name(), c.reader);
    }
    EXPECT_THROW(getHardwareDevice(UNKNOWN_READER, atrOf(UNKNOWN_READER)), UnknownDevice);
    EXPECT_THROW(getHardwareDevice(VEL_READER, atrOf(VEL_READER)), UnknownDevice);
    // The ATR alone never makes a Rutoken.
    EXPECT_THROW(getHardwareDevice("Aktiv Rutoken lite 00 00", atrOf(RUTOKEN_READER)), UnknownDevice);
}

TEST_F(DeviceDetection, ReaderNamesAreMatchedInAnyLetterCase)
{
    // No reader of these names exists: PC/SC not finding the reader shows
    // the name was taken for a Rutoken's (any other name is an unknown
    // device without asking PC/SC).
    for (const char* name : {"AKTIV RUTOKEN ECP 00 00", "aktiv rutoken ecp 00 00", "Lab aKtIv RuToKeN eCp"}) {
        EXPECT_THROW(getHardwareDevice(name, atrOf(UNKNOWN_READER)), DeviceNotFound) << name;
    }
    EXPECT_THROW(getHardwareDevice("Aktiv Rutoken lite 00 00", atrOf(UNKNOWN_READER)), UnknownDevice);
}

TEST_F(DeviceDetection, RutokenModelsByTheirChipData)
{
    const struct {
        const char* labModel;
        const char* serial;
        const std::type_info& type;
        const char* cryptoType;
        const char* chipTypeInfo;
    } cases[] = {
        {"rutoken-ecp-2100", "1A2B0001", typeid(RuToken2100), "rutoken_2100", "RUTOKEN_ECP_2-402"},
        {"rutoken-ecp-3000", "1A2B0002", typeid(RuToken3000), "rutoken_3000", "RUTOKEN_ECP_2-403"},
        {"rutoken-ecp-3", "1A2B0003", typeid(RuToken3), "rutoken_3", "RUTOKEN_ECP_3-501"},
        {"rutoken-ecp-3220", "1A2B0004", typeid(RuToken3220), "rutoken_3220", "RUTOKEN_ECP_3-502"},
        {"rutoken-ecp", "1A2B0005", typeid(RuToken2), "rutoken_2", "RUTOKEN_ECP_2-401"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.labModel);
        addToken(c.labModel, c.serial);
        const auto device = getHardwareDevice(RUTOKEN_SPARE_READER, atrOf(RUTOKEN_SPARE_READER));
        EXPECT_EQ(typeid(*device), c.type);
        EXPECT_EQ(device->cryptoType(), c.cryptoType);
        EXPECT_EQ(chipTypeInfo(*device), c.chipTypeInfo);
        EXPECT_EQ(std::dynamic_pointer_cast<Pkcs11Token>(device)->pkcs11Serial(), c.serial);
        removeToken(RUTOKEN_SPARE_READER, c.serial);
    }
    // A chip of the second generation with an unknown family, and one of
    // the first generation, are no Rutoken ECP this library serves.
    for (const char* chipData : {"003C00001902000000000000", "003C00001801000000000000"}) {
        setFacts(RUTOKEN_SERIAL, std::string("card.chip-data=") + chipData);
        EXPECT_THROW(getHardwareDevice(RUTOKEN_READER, atrOf(RUTOKEN_READER)), UnknownDevice) << chipData;
    }
    setFacts(RUTOKEN_SERIAL, "card.chip-data=");
    EXPECT_NO_THROW(getHardwareDevice(RUTOKEN_READER, atrOf(RUTOKEN_READER)));
}

TEST_F(DeviceDetection, OpenedDevicesAreFoundByCryptoType)
{
    const auto rutoken = getHardwareDevice(RUTOKEN_READER, atrOf(RUTOKEN_READER));
    const auto mskey = getHardwareDevice(MSKEY_READER, atrOf(MSKEY_READER));
    const std::map<std::string, std::shared_ptr<KeyStore>> stores{
        {"a", nullptr},
        {"b", mskey},
        {"c", rutoken},
        {"d", getHardwareDevice(MSKEY_READER, atrOf(MSKEY_READER))}};
    EXPECT_EQ(findHwDeviceByCryptoType("rutoken_2", stores), rutoken);
    EXPECT_EQ(findHwDeviceByCryptoType("angara", stores), mskey);
    EXPECT_THROW(findHwDeviceByCryptoType("jacarta_2", stores), DeviceNotFound);
    EXPECT_THROW(findHwDeviceByCryptoType("rutoken_2", {}), DeviceNotFound);
}

} // namespace
