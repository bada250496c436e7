#include "jni/keystore_selection.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/provider/crypto_provider_ru.h"
#include "jni/errors.h"
#include "provider_fixture.h"

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

std::string errorOf(ICryptoProvider& provider, std::int32_t type, const std::string& id)
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
    EXPECT_EQ(errorOf(provider, 0, "0A1B2C3D"),
              "Отсутствует аппаратное устройство с серийным номером \"0A1B2C3D\"");
    ormid_signer::setLanguageEverywhere(ENGLISH);
    EXPECT_EQ(errorOf(provider, 0, "Токен %1"),
              "Hardware device with serial number \"Токен %1\" is not present");
}

// Without a CSP a new container cannot be made: that failure is not turned
// into a missing device.
TEST_F(KeystoreSelectionTest, OtherFailuresPassUnchanged)
{
    CryptoProviderRU provider;
    EXPECT_THROW(jni::selectKeyStore(provider, 2, "x", true), CryptoProCSPLoadError);
}

// A kind of store nothing serves fails as any other selection does: the store
// selected before is dropped, so nothing goes on working on it.
TEST_F(KeystoreSelectionTest, UnknownKindLeavesNothingSelected)
{
    providertest::TestProvider provider;
    const auto store = std::make_shared<softstore::SoftKeyStore>();
    store->setId("store");
    provider.cacheKeyStore(store);
    for (const std::int32_t kind : {1, 4, 8, 9, 99, -1}) {
        jni::selectKeyStore(provider, 2, "store", false);
        ASSERT_EQ(provider.getKeyStoreId(), "store");
        EXPECT_THROW(jni::selectKeyStore(provider, kind, "store", false), KeyStoreNotSelected) << kind;
        EXPECT_EQ(provider.getKeyStoreId(), "") << kind;
        EXPECT_THROW(provider.getKeyStoreInfo(), KeyStoreNotSelected) << kind;
    }
}

} // namespace

namespace
{

// A provider with a selected store that records the key it is asked to make.
class RecordingStore : public CryptoProviderRU
{
  public:
    bool selected = true;
    bool needsSeeding = false;
    KeyInfo made;
    std::wstring password;

    KeyStoreInfo getKeyStoreInfo() override
    {
        if (!selected) {
            throw KeyStoreNotSelected();
        }
        return {};
    }
    bool needInitRND() override { return needsSeeding; }
    void createNewKey(const KeyInfo& keyInfo, std::wstring_view secret) override
    {
        made = keyInfo;
        password = secret;
    }
};

TEST(KeyCreationTest, KeyGetsTheLowSixteenBitsOfTheSystemId)
{
    struct Case {
        std::int32_t systemId;
        std::uint16_t stored;
    };
    for (const Case& c : {Case{65537, 1}, Case{65535, 65535}, Case{-1, 65535}, Case{0x12340005, 5}}) {
        RecordingStore provider;
        jni::createNewKey(provider, "ключ", c.systemId, "1.2.643.7.1.1.1.1", "1.2.643.7.1.2.1.1.1", L"pw");
        EXPECT_EQ(provider.made.systemId, c.stored) << c.systemId;
        EXPECT_EQ(provider.made.alias, "ключ");
        EXPECT_EQ(provider.made.signAlgorithmOid, "1.2.643.7.1.1.1.1");
        EXPECT_EQ(provider.made.algParamsOid, "1.2.643.7.1.2.1.1.1");
        EXPECT_EQ(provider.made.externalId, 0u);
        EXPECT_EQ(provider.made.digestAlgorithmOid, "");
        EXPECT_EQ(provider.password, L"pw");
    }
}

TEST(KeyCreationTest, NoStoreComesBeforeSeedingAndNothingIsMade)
{
    RecordingStore provider;
    provider.selected = false;
    provider.needsSeeding = true;
    EXPECT_THROW(jni::createNewKey(provider, "a", 1, "", "", L""), KeyStoreNotSelected);

    provider.selected = true;
    try {
        jni::createNewKey(provider, "a", 1, "", "", L"");
        ADD_FAILURE() << "created without a seeded generator";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Требуется инициализация ПДСЧ");
    }
    EXPECT_EQ(provider.made.alias, "");
}

} // namespace
