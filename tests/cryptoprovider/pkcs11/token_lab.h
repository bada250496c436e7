// Fixture of the token back-end tests: a fresh lab state folder per test
// (ORMID_LAB_DIR), devices made with the lab device library, and the lab
// modules loaded through Pkcs11::instance.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "cryptoprovider/pkcs11/helper.h"
#include "cryptoprovider/pkcs11/module.h"
#include "device/device.h"
#include "support/gost_soft.h"

namespace tokenlab
{

inline const bytes USER_PIN{'1', '2', '3', '4', '5', '6', '7', '8'};

inline std::string modulePath(const std::string& family)
{
    static const std::map<std::string, std::string> FILES{
        {"rutoken", "librtpkcs11ecp.so"}, {"angara", "libpkcs11-angara.so"}, {"jacarta", "libjcPKCS11-2.so"}};
    return std::string(LAB_MODULES_DIR) + "/" + FILES.at(family);
}

inline bytes text(std::string_view s)
{
    return bytes(s.begin(), s.end());
}

// SubjectPublicKeyInfo of a GOST R 34.10-2012 key from its CKA_VALUE (X||Y,
// each coordinate little-endian).
inline gostsoft::Bytes gostSpki(const bytes& value, const std::string& paramSet)
{
    using gostsoft::derConcat;
    using gostsoft::derElement;
    using gostsoft::derOid;
    const bool wide = value.size() == 128;
    const auto algorithm = derElement(
        0x30,
        derConcat({derOid(wide ? "1.2.643.7.1.1.1.2" : "1.2.643.7.1.1.1.1"),
                   derElement(0x30, derConcat({derOid(paramSet),
                                               derOid(wide ? "1.2.643.7.1.1.2.3" : "1.2.643.7.1.1.2.2")}))}));
    gostsoft::Bytes bits{0x00};
    const auto octets = derElement(0x04, value);
    bits.insert(bits.end(), octets.begin(), octets.end());
    return derElement(0x30, derConcat({algorithm, derElement(0x03, bits)}));
}

// openssl with the gost engine over a digest (in hash order) and an s||r
// signature; true when it accepts the signature.
inline bool opensslVerifies(const gostsoft::TempDir& dir, const std::string& name, const bytes& publicKey,
                            const std::string& paramSet, const bytes& digest, const bytes& signature)
{
    return gostsoft::opensslVerifies(dir, name, gostSpki(publicKey, paramSet), digest, signature);
}

class TokenLab : public ::testing::Test
{
  protected:
    void SetUp() override { ::setenv(labdev::STATE_DIR_ENV, m_dir.path().c_str(), 1); }
    void TearDown() override
    {
        m_modules.clear();
        keepCallLog();
        ::unsetenv(labdev::STATE_DIR_ENV);
    }

    // With ORMID_KEEP_CALL_LOGS naming a file, each test's call log is
    // appended to it under the test's name, so that the calls two builds
    // make can be compared.
    void keepCallLog() const
    {
        const char* keep = std::getenv("ORMID_KEEP_CALL_LOGS");
        if (keep == nullptr || *keep == '\0' || !std::ifstream(m_dir.file("calls.log")))
            return;
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::ofstream(keep, std::ios::app) << "# " << test->test_suite_name() << '.' << test->name() << '\n'
                                           << callLog();
    }

    labdev::DeviceDirectory devices() const { return labdev::DeviceDirectory(m_dir.path()); }
    void addDevice(const std::string& model, const std::string& serial,
                   const std::map<std::string, std::string>& facts = {})
    {
        labdev::Device device = labdev::makeDevice(model, serial, "Lab Reader " + serial);
        for (const auto& [key, value] : facts)
            device.set(key, value);
        devices().add(device);
    }
    void setFact(const std::string& serial, const std::string& key, const std::string& value)
    {
        devices().update(serial, [&](labdev::Device& d) { d.set(key, value); });
    }
    std::string fact(const std::string& serial, const std::string& key) const
    {
        return devices().load(serial).get(key);
    }
    CK_SLOT_ID slotOf(const std::string& serial) const
    {
        return static_cast<CK_SLOT_ID>(devices().load(serial).getInt(labdev::fact::SLOT));
    }
    void writeFaults(const std::string& rules) { gostsoft::writeFile(m_dir.file("faults"), rules); }
    std::string callLog() const
    {
        const gostsoft::Bytes log = gostsoft::readFile(m_dir.file("calls.log"));
        return std::string(log.begin(), log.end());
    }

    // A freshly initialised module of a lab family (the cache entry is
    // replaced, so every test starts from C_Initialize).
    std::shared_ptr<Pkcs11> module(const std::string& family = "rutoken")
    {
        auto& loaded = m_modules[family];
        if (!loaded)
            loaded = Pkcs11::instance(modulePath(family), false);
        return loaded;
    }

    // A logged-in user helper on a device.
    std::unique_ptr<pkcs11::Helper> user(const std::string& serial, const std::string& family = "rutoken")
    {
        return std::make_unique<pkcs11::Helper>(module(family), slotOf(serial), pkcs11::SessionMode::User,
                                                USER_PIN);
    }

    gostsoft::TempDir m_dir;
    std::map<std::string, std::shared_ptr<Pkcs11>> m_modules;
};

} // namespace tokenlab
