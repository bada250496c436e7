// Confirmations through the provider on the lab's confirmation token: the
// store as the provider lists and describes it, the detached CMS message whose
// signature openssl verifies under the device's own public key, two threads
// confirming on one device, a card pulled out or gone mute mid-way, and a
// session selecting a mute card while other sessions go on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "cryptoprovider/pkcs11/module_paths.h"
#include "cryptoprovider/provider/crypto_provider_ru.h"
#include "pkcs7/pkcs7.h"
#include "scard/vel_lab.h"
#include "support/gost_soft.h"

namespace
{

using gostsoft::derConcat;
using gostsoft::derElement;
using gostsoft::derOid;

constexpr const char* TOKEN_ID = "01-23-45-67";
constexpr const char* RUTOKEN_ID = "0169552957";

// The device's key as a certificate would carry it: GOST R 34.10-2012
// 512-bit, parameter set A, Streebog-512.
gostsoft::Bytes deviceSubjectPublicKeyInfo()
{
    const std::string publicHex = vellab::state("public");
    gostsoft::Bytes key;
    for (std::size_t i = 0; i + 1 < publicHex.size(); i += 2) {
        key.push_back(static_cast<std::uint8_t>(std::stoul(publicHex.substr(i, 2), nullptr, 16)));
    }
    const gostsoft::Bytes params =
        derElement(0x30, derConcat({derOid("1.2.643.7.1.2.1.2.1"), derOid("1.2.643.7.1.1.2.3")}));
    const gostsoft::Bytes algorithm = derElement(0x30, derConcat({derOid("1.2.643.7.1.1.1.2"), params}));
    gostsoft::Bytes bits{0x00};
    const gostsoft::Bytes octets = derElement(0x04, key);
    bits.insert(bits.end(), octets.begin(), octets.end());
    return derElement(0x30, derConcat({algorithm, derElement(0x03, bits)}));
}

class ConfirmationLab : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        const char* modules = std::getenv("ORMID_LAB_PKCS11_DIR");
        ASSERT_NE(modules, nullptr) << "run under ctest (lab fixture)";
        pkcs11::setRutokenPkcs11EcpPath(modules);
    }

    void SetUp() override
    {
        vellab::reset();
        ASSERT_FALSE(HasFatalFailure());
    }

    // A provider with the confirmation token selected.
    static void selectToken(CryptoProviderRU& provider)
    {
        ASSERT_EQ(provider.keyStoreList(KeyStoreType::VelToken), std::vector<std::string>{TOKEN_ID});
        provider.selectKeyStore(KeyStoreType::VelToken, TOKEN_ID, false);
    }

    static bytes digest(std::uint8_t seed)
    {
        bytes data(64);
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<std::uint8_t>(seed + i);
        }
        return data;
    }
};

TEST_F(ConfirmationLab, ProviderListsAndDescribesTheToken)
{
    CryptoProviderRU provider;
    const auto available = provider.availableCrypto({"ovt"});
    EXPECT_EQ(available, std::vector<std::string>{"ovt"});
    selectToken(provider);
    EXPECT_EQ(provider.cryptoTypeVersion("ovt"), "6");

    KeyStoreInfo info = provider.getKeyStoreInfo();
    EXPECT_EQ(info.type, 3);
    EXPECT_EQ(info.id, TOKEN_ID);
    EXPECT_EQ(info.cryptoType, "ovt");
    EXPECT_EQ(info.chipType, "VEL_TOKEN-006");
    EXPECT_FALSE(info.loginRequired);
    EXPECT_FALSE(info.userPinChanged);
    EXPECT_FALSE(info.userPinLocked);

    provider.changePin(L"112233");
    EXPECT_TRUE(provider.getKeyStoreInfo().userPinChanged);

    // A wrong PIN on the last try blocks the device; the store shows it.
    vellab::set("tries=1");
    EXPECT_THROW(provider.setPin(L"000000"), KeyBlocked);
    info = provider.getKeyStoreInfo();
    EXPECT_TRUE(info.userPinLocked);
}

TEST_F(ConfirmationLab, ConfirmationIsADetachedCmsThatOpensslVerifies)
{
    CryptoProviderRU provider;
    selectToken(provider);
    const bytes data = digest(0x10);
    const bytes message = provider.confirm(data, {{"1.2.643.2.2.99.7", 12, "Платёжное поручение 42"}});

    const Pkcs7 cms(message, pkcs7::Format::SerialOnly);
    EXPECT_TRUE(cms.content().empty());
    EXPECT_TRUE(cms.certificates().empty());
    ASSERT_EQ(cms.signerInfos().size(), 1u);
    const SignerInfo& signer = cms.signerInfos()[0];
    EXPECT_EQ(signer.serial(), (bytes{0x12, 0xD6, 0x87})); // 1234567, the device serial, minimal DER
    EXPECT_EQ(signer.signAlgorithmId(), GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN);

    // The signature over the DER of the signed attributes, checked by openssl
    // with the digest computed by libgcrypt.
    const bytes signedAttributes = signer.attributes().derEncoding();
    const bytes signature = signer.signature(pkcs7::Format::SerialOnly);
    gostsoft::TempDir dir;
    const auto check = gostsoft::opensslVerify(dir, "confirmation", deviceSubjectPublicKeyInfo(),
                                               gostsoft::streebog(signedAttributes, 512), signature);
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_NE(check.output.find("Signature Verified Successfully"), std::string::npos) << check.output;

    // openssl reads the message as CMS signed data without certificates.
    gostsoft::writeFile(dir.file("m.p7s"), message);
    const auto printed = gostsoft::openssl("cms -cmsout -print -inform DER -in " + dir.file("m.p7s"));
    ASSERT_EQ(printed.status, 0) << printed.output;
    EXPECT_NE(printed.output.find("certificates:\n      <ABSENT>"), std::string::npos) << printed.output;
    EXPECT_NE(printed.output.find("serialNumber: 1234567"), std::string::npos) << printed.output;
}

TEST_F(ConfirmationLab, SignerSerialIsTheDeviceNumberAsAPositiveInteger)
{
    struct Case {
        const char* stored; // the device's 4 bytes, first byte least significant
        const char* id;
        bytes serial; // the INTEGER content in the message
        const char* printed;
    };
    const Case cases[] = {
        {"FFFFFFFF", "--------", {0x00, 0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
        {"00000080", "--------", {0x00, 0x80, 0x00, 0x00, 0x00}, "2147483648"},
        {"80000000", "00-00-01-28", {0x00, 0x80}, "128"},
        {"01000000", "00-00-00-01", {0x01}, "1"},
        {"00000000", "00-00-00-00", {0x00}, "0"},
    };
    gostsoft::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        vellab::set(std::string("serial=") + c.stored);
        CryptoProviderRU provider;
        ASSERT_EQ(provider.keyStoreList(KeyStoreType::VelToken), std::vector<std::string>{c.id});
        provider.selectKeyStore(KeyStoreType::VelToken, c.id, false);
        const bytes message = provider.confirm(digest(0x20), {});

        const Pkcs7 cms(message, pkcs7::Format::SerialOnly);
        ASSERT_EQ(cms.signerInfos().size(), 1u);
        EXPECT_EQ(cms.signerInfos()[0].serial(), c.serial);
        // A bank server reads the device's number back, never a negative one.
        gostsoft::writeFile(dir.file("m.p7s"), message);
        const auto printed = gostsoft::openssl("cms -cmsout -print -inform DER -in " + dir.file("m.p7s"));
        ASSERT_EQ(printed.status, 0) << printed.output;
        EXPECT_NE(printed.output.find(std::string("serialNumber: ") + c.printed + "\n"), std::string::npos)
            << printed.output;
    }
}

TEST_F(ConfirmationLab, ConfirmNeedsTheConfirmationTokenSelected)
{
    CryptoProviderRU provider;
    EXPECT_THROW(provider.confirm(digest(1), {}), KeyStoreNotSelected);
    provider.keyStoreList(KeyStoreType::HardwareDevice);
    provider.selectKeyStore(KeyStoreType::HardwareDevice, RUTOKEN_ID, false);
    vellab::clearLog();
    EXPECT_THROW(provider.confirm(digest(1), {}), KeyStoreNotSelected);
    EXPECT_TRUE(vellab::log().empty());
}

TEST_F(ConfirmationLab, TwoThreadsNeverInterleaveTheirSessions)
{
    CryptoProviderRU provider;
    selectToken(provider);
    vellab::clearLog();
    constexpr int ROUNDS = 8;
    std::vector<std::string> failures[2];
    auto confirmMany = [&](int thread) {
        for (int round = 0; round < ROUNDS; ++round) {
            try {
                provider.confirm(digest(static_cast<std::uint8_t>(thread * 100 + round)), {});
            } catch (const std::exception& e) {
                failures[thread].push_back(e.what());
            }
        }
    };
    std::thread first(confirmMany, 0);
    std::thread second(confirmMany, 1);
    first.join();
    second.join();
    EXPECT_TRUE(failures[0].empty() && failures[1].empty()) << failures[0].size() + failures[1].size();

    // Apart from serial reads (each a transaction of one command), the card
    // saw PIN check, sign with that session's token, end of that session.
    std::vector<vellab::Exchange> sessions;
    for (const auto& exchange : vellab::log()) {
        if (exchange.command != "00F50000") {
            sessions.push_back(exchange);
        }
    }
    ASSERT_EQ(sessions.size(), 3u * 2 * ROUNDS);
    for (std::size_t i = 0; i < sessions.size(); i += 3) {
        EXPECT_EQ(sessions[i].command.substr(0, 8), "00200101") << i;
        ASSERT_EQ(sessions[i + 1].command.substr(0, 8), "002A9E80") << i;
        const std::string token = sessions[i + 1].command.substr(14, 16); // after Lc, 82 08
        EXPECT_EQ(sessions[i + 2].command, "0020020108" + token) << i;
        for (std::size_t j = i; j < i + 3; ++j) {
            EXPECT_EQ(sessions[j].status, "9000") << j;
        }
    }
}

TEST_F(ConfirmationLab, CardPulledOutMidwayLeavesNothingOpen)
{
    CryptoProviderRU provider;
    selectToken(provider);
    vellab::set("pull_at=2A");
    try {
        provider.confirm(digest(2), {});
        FAIL() << "confirmed without a card";
    } catch (const ScardException& e) {
        EXPECT_NE(std::string(e.what()), "");
    }
    EXPECT_EQ(vellab::logOf("2A").back().status, "-");

    vellab::insert();
    vellab::clearLog();
    EXPECT_FALSE(provider.confirm(digest(3), {}).empty());
    EXPECT_EQ(vellab::logOf("2A").size(), 1u);
}

TEST_F(ConfirmationLab, MuteCardTimesOutInsteadOfHanging)
{
    CryptoProviderRU provider;
    selectToken(provider);
    const auto defaultTimeout = SCardProvider::responseTimeout();
    SCardProvider::setResponseTimeout(std::chrono::milliseconds(500));
    vellab::set("mute=1");
    try {
        provider.confirm(digest(4), {});
        ADD_FAILURE() << "a mute card confirmed";
    } catch (const ScardException& e) {
        EXPECT_EQ(e.code(), static_cast<std::uint32_t>(SCARD_E_TIMEOUT)) << e.what();
    }
    vellab::set("mute=0");
    vellab::replug(); // releases the exchange the card never answered
    SCardProvider::setResponseTimeout(defaultTimeout);
    EXPECT_FALSE(provider.confirm(digest(5), {}).empty());
}

// Selecting a store walks the readers, asking every module and card; a card
// that does not answer holds up that selection only. Another session's
// store and key operations, which take the process-wide lock, go on.
TEST_F(ConfirmationLab, ASelectionWaitingForAMuteCardHoldsUpNoOtherSession)
{
    const auto defaultTimeout = SCardProvider::responseTimeout();
    SCardProvider::setResponseTimeout(std::chrono::seconds(5));
    vellab::set("mute=1");
    std::atomic<bool> selectionEnded{false};
    std::thread selecting([&] {
        CryptoProviderRU provider;
        try {
            provider.selectKeyStore(KeyStoreType::VelToken, TOKEN_ID, false);
        } catch (const std::exception&) {
            // the card never answered
        }
        selectionEnded = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the selection waits for the card now

    CryptoProviderRU other;
    other.forgetKeyStore();
    EXPECT_THROW(other.setPin(L"12345678"), KeyStoreNotSelected);
    EXPECT_FALSE(selectionEnded) << "the other session waited for the mute card";

    vellab::set("mute=0");
    vellab::replug(); // releases the exchange the card never answered
    selecting.join();
    SCardProvider::setResponseTimeout(defaultTimeout);
}

} // namespace
