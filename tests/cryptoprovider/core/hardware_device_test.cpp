#include "cryptoprovider/core/hardware_device.h"

#include <gtest/gtest.h>

#include "cryptoprovider/core/errors.h"

namespace
{

// A device whose reader and PIN lookups the test controls.
class TestDevice : public HardwareDevice
{
  public:
    TestDevice() : HardwareDevice("Lab Reader 00 00", "rutoken_2", "RUTOKEN_ECP_2", 401) {}

    std::string readerError;
    bool defaultPinFails = false;
    mutable int defaultPinReads = 0;

    std::wstring defaultUserPin() const override
    {
        ++defaultPinReads;
        if (defaultPinFails) {
            throw std::runtime_error("device answered garbage");
        }
        return L"87654321";
    }

    void setPin(std::wstring_view) override {}
    void changePin(std::wstring_view) override {}
    void setKeyPassword(const std::shared_ptr<KeyRecord>&, std::wstring_view) override {}
    std::shared_ptr<KeyRecord> createNewKey(std::string_view, std::uint16_t, const AlgorithmId&,
                                            std::string_view, std::string_view, std::wstring_view) override
    {
        return nullptr;
    }
    void setKeyExternalId(const std::shared_ptr<KeyRecord>&, std::uint64_t) override {}
    void changeKeyAlias(const std::shared_ptr<KeyRecord>&, std::string_view) override {}
    void changeKeyPass(const std::shared_ptr<KeyRecord>&, std::wstring_view) override {}
    void deleteKey(const std::shared_ptr<KeyRecord>&) override {}
    std::shared_ptr<DigestEngine> digestEngine() override { return nullptr; }
    bytes importUserCertificate(const std::shared_ptr<KeyRecord>&, const bytes&) override { return {}; }
    void deleteUserCertificate(const std::shared_ptr<KeyRecord>&) override {}
    bytes importCertificate(const bytes&, CertType) override { return {}; }
    void deleteCertificate(const bytes&, CertType) override {}
    std::shared_ptr<KeyRecord> findKeyByCertificate(const bytes&, bool) override { return nullptr; }
    X509 findCertificateByKey(const std::shared_ptr<KeyRecord>&) override { return {}; }
    bool verifySign(const bytes&, const bytes&, const bytes&, const AlgorithmId&, std::string_view,
                    bool) override
    {
        return false;
    }
    bytes getPublicKey(const std::shared_ptr<KeyRecord>&) override { return {}; }
    std::vector<X509> certificateList(CertType) override { return {}; }
    void updateKeysInfo() override {}
    std::vector<bytes> sign(const std::shared_ptr<KeyRecord>&, const std::vector<bytes>&, bool) override
    {
        return {};
    }

  protected:
    void connectReader() override
    {
        if (!readerError.empty()) {
            throw ScardException(0x80100009, readerError);
        }
    }
};

TEST(HardwareDevice, DescribesItself)
{
    TestDevice device;
    EXPECT_EQ(device.name(), "Lab Reader 00 00");
    EXPECT_EQ(device.cryptoType(), "rutoken_2");
    EXPECT_EQ(device.type(), KeyStoreType::HardwareDevice);
    EXPECT_EQ(device.chipType(), "RUTOKEN_ECP_2");
    EXPECT_EQ(device.package(), 401u);
    EXPECT_EQ(device.shortName(), "Рутокен ЭЦП 2.0");
    EXPECT_FALSE(device.isUserPinBlocked());
    device.setIsAdminPinBlocked(true);
    EXPECT_TRUE(device.isAdminPinBlocked());
    EXPECT_THROW(device.verifyRsaSign({1}, {2}, RsaPublicKey{{1}, 3}, SHA_256), FunctionNotImplemented);
}

TEST(HardwareDevice, PinState)
{
    {
        SCOPED_TRACE("no PIN on the store: ready without looking at the cache");
        TestDevice device;
        device.setIsUserPinDefault(true);
        device.defaultPinFails = true;
        EXPECT_TRUE(device.isPinSet());
        EXPECT_EQ(device.defaultPinReads, 0);
    }
    {
        SCOPED_TRACE("PIN required, none cached: caches stay");
        TestDevice device;
        device.setHasPinCode(true);
        device.setCachedPassword("k", L"p");
        EXPECT_FALSE(device.isPinSet());
        EXPECT_EQ(device.getCachedPassword("k"), L"p");
        device.setCachedPin(L"1234");
        EXPECT_TRUE(device.isPinSet());
    }
    {
        SCOPED_TRACE("default PIN");
        TestDevice device;
        device.setHasPinCode(true);
        device.setIsUserPinDefault(true);
        EXPECT_TRUE(device.isPinSet());
        EXPECT_EQ(device.defaultPinReads, 1);
    }
    {
        SCOPED_TRACE("any other failure clears the caches and propagates");
        TestDevice device;
        device.setHasPinCode(true);
        device.setIsUserPinDefault(true);
        device.defaultPinFails = true;
        device.setCachedPassword("k", L"p");
        EXPECT_THROW(device.isPinSet(), std::runtime_error);
        EXPECT_THROW(device.getCachedPassword("k"), PasswordRequired);
        EXPECT_TRUE(device.hasPinCode());
    }
    {
        SCOPED_TRACE("a reader that is gone");
        TestDevice device;
        device.readerError = "reader removed";
        device.setCachedPassword("k", L"p");
        EXPECT_THROW(device.isPinSet(), ScardException);
        EXPECT_EQ(device.getCachedPassword("k"), L"p");
    }
}

} // namespace
