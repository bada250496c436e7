#include "jni/keystore_selection.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/provider/crypto_provider_ru.h"
#include "jni/errors.h"

namespace
{

// A provider whose selection fails with a missing device (serial unknown to
// the caller: the message must name the id that was asked for).
class DeviceMissing : public CryptoProviderRU
{
  public:
    void selectKeyStore(KeyStoreType, std::string_view, bool) override { throw DeviceNotFound("other"); }
};

class KeystoreSelectionTest : public ::testing::Test
{
  protected:
    void TearDown() override { ormid_signer::setLanguageEverywhere(RUSSIAN); }
};

std::string errorOf(ICryptoProvider& provider, KeyStoreType type, const std::string& id)
{
    try {
        jni::selectKeyStore(provider, type, id, false);
    } catch (const DeviceNotFound&) {
        return "DeviceNotFound leaked";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

TEST_F(KeystoreSelectionTest, MissingDeviceNamesTheRequestedId)
{
    DeviceMissing provider;
    EXPECT_EQ(errorOf(provider, KeyStoreType::HardwareDevice, "0A1B2C3D"),
              "Отсутствует аппаратное устройство с серийным номером \"0A1B2C3D\"");
    ormid_signer::setLanguageEverywhere(ENGLISH);
    EXPECT_EQ(errorOf(provider, KeyStoreType::HardwareDevice, "Токен %1"),
              "Hardware device with serial number \"Токен %1\" is not present");
}

TEST_F(KeystoreSelectionTest, OtherFailuresPassUnchanged)
{
    CryptoProviderRU provider;
    EXPECT_THROW(jni::selectKeyStore(provider, static_cast<KeyStoreType>(99), "x", false),
                 KeyStoreNotSelected);
    EXPECT_THROW(jni::selectKeyStore(provider, KeyStoreType::HardwareDevice, "x", true),
                 FunctionNotImplemented);
}

} // namespace
