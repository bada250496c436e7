// The confirmation token on the lab's simulated card behind the real pcscd:
// the bytes of every command the card receives (the lab records them), the
// session ended on every path, the life cycle, the PIN tries and lock, the
// operations the device does not have, two threads on one device, and a card
// that is pulled out or stops answering.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "cryptoprovider/scard/vel_device.h"
#include "cryptoprovider/scard/vel_token.h"
#include "support/gost_soft.h"
#include "vel_lab.h"

namespace
{

using vellab::Exchange;

std::string hex(const bytes& data)
{
    return gostsoft::toHex(data);
}

std::string upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string hexOf(const std::string& text)
{
    return upper(hex(bytes(text.begin(), text.end())));
}

// Signed attributes whose DER is exactly `size` bytes: one attribute of an
// OCTET STRING value, grown until the encoding has the size.
pkcs9::Attributes attributesOfSize(std::size_t size)
{
    for (std::size_t content = 0; content < size; ++content) {
        pkcs9::Attributes attributes;
        bytes value{0x04};
        const bytes length = ::Tlv::encodeLength(content);
        value.insert(value.end(), length.begin(), length.end());
        value.insert(value.end(), content, 0x5A);
        attributes.insert(ObjectIdentifier("1.2.643.2.2.99.1"), value);
        if (attributes.derEncoding().size() == size) {
            return attributes;
        }
    }
    throw std::logic_error("no attribute set of that size");
}

// The end-of-session command for a session token given in hex.
std::string endOfSession(const std::string& tokenHex)
{
    return "00200201" + upper(hex({static_cast<std::uint8_t>(tokenHex.size() / 2)})) + tokenHex;
}

// The session token a sign command carried (TLV 82 right after the header
// and Lc); empty when the command is not a sign command.
std::string signToken(const std::string& command)
{
    if (command.rfind("002A9E80", 0) != 0) {
        return {};
    }
    const std::size_t tlv = command.substr(8, 2) == "00" ? 14 : 10; // extended or short Lc
    if (command.substr(tlv, 2) != "82") {
        return {};
    }
    const std::size_t length = std::stoul(command.substr(tlv + 2, 2), nullptr, 16);
    return command.substr(tlv + 4, length * 2);
}

class VelTokenLab : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        vellab::reset();
        ASSERT_FALSE(HasFatalFailure());
    }

    static std::shared_ptr<VelToken> token()
    {
        auto store = getVelToken(vellab::READER, vellab::currentAtr());
        return std::dynamic_pointer_cast<VelToken>(store);
    }
};

TEST_F(VelTokenLab, DeviceInformationGivesTheStoreAndItsPinState)
{
    vellab::set("default_pin=0");
    const auto store = token();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->id(), "01-23-45-67");
    EXPECT_EQ(store->serial(), "01-23-45-67");
    EXPECT_EQ(store->serialData(true), (bytes{0x87, 0xD6, 0x12, 0x00}));
    EXPECT_EQ(store->serialData(false), (bytes{0x00, 0x12, 0xD6, 0x87}));
    EXPECT_EQ(store->type(), KeyStoreType::VelToken);
    EXPECT_EQ(store->cryptoType(), "ovt");
    EXPECT_EQ(crypto::makeChipTypeInfo(store->chipType(), store->package()), "VEL_TOKEN-006");
    EXPECT_TRUE(store->hasPinCode());
    EXPECT_FALSE(store->isUserPinDefault());

    vellab::set("default_pin=1 serial=FFFFFFFF");
    const auto fresh = token();
    EXPECT_EQ(fresh->id(), "--------");
    EXPECT_FALSE(fresh->hasPinCode());
    EXPECT_TRUE(fresh->isUserPinDefault());
    vellab::set("serial=87D61200");

    // Each read is its own transaction of one command.
    for (const Exchange& exchange : vellab::log()) {
        EXPECT_EQ(exchange.command, "00F50000");
        EXPECT_EQ(exchange.status, "9000");
    }
}

TEST_F(VelTokenLab, PinTriesComeFromTheDeviceOr16WhenItDoesNotSay)
{
    vellab::set("tries=7");
    auto provider = std::make_shared<SCardProvider>(vellab::READER);
    {
        const ScardTransaction transaction(*provider);
        EXPECT_EQ(veltoken::pinTries(provider), 7);
    }
    vellab::set("info_without_tries=1");
    const ScardTransaction transaction(*provider);
    EXPECT_EQ(veltoken::pinTries(provider), 16);
}

TEST_F(VelTokenLab, PinCheckIsExactAndTheSessionEndsWithItsToken)
{
    vellab::set("pin=1234 default_pin=0");
    const auto store = token();
    vellab::clearLog();
    store->setPin(L"1234");

    const auto lines = vellab::log();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].command, "002001010431323334");
    EXPECT_EQ(lines[0].status, "9000");
    // The end of session carries the 8-byte token the PIN check returned.
    EXPECT_EQ(lines[1].command.substr(0, 10), "0020020108");
    EXPECT_EQ(lines[1].command.size(), 10u + 16u);
    EXPECT_EQ(lines[1].status, "9000");
}

TEST_F(VelTokenLab, WrongPinsCountDownThenBlockTheDevice)
{
    vellab::set("pin=1234 default_pin=0 tries=2");
    const auto store = token();
    vellab::clearLog();
    try {
        store->setPin(L"4321");
        FAIL() << "a wrong PIN was accepted";
    } catch (const InvalidPassword& e) {
        EXPECT_EQ(e.tries(), 1);
    }
    // No session was opened, so none is ended; the next check runs at once.
    ASSERT_EQ(vellab::log().size(), 1u);
    EXPECT_EQ(vellab::log()[0].status, "63C1");
    EXPECT_FALSE(store->isUserPinBlocked());

    EXPECT_THROW(store->setPin(L"4321"), KeyBlocked);
    EXPECT_TRUE(store->isUserPinBlocked());
    EXPECT_THROW(store->getCachedPin(), PinRequired);
    EXPECT_EQ(vellab::state("lifecycle"), "4");
    // The blocked device answers the right PIN with KeyBlocked too.
    EXPECT_THROW(store->setPin(L"1234"), KeyBlocked);

    vellab::replug();
    EXPECT_EQ(vellab::currentAtr().at(14), 0x04);
    EXPECT_THROW(getVelToken(vellab::READER, vellab::currentAtr()), PinBlocked);
}

TEST_F(VelTokenLab, ChangePinSendsBothPinsInsideOneSession)
{
    const auto store = token(); // default-PIN state: the built-in PIN opens the session
    vellab::clearLog();
    store->changePin(L"654321");

    const auto lines = vellab::log();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].command, "0020010106" + hexOf("123456"));
    EXPECT_EQ(lines[1].command, "0024010110"
                                "0106" +
                                    hexOf("123456") + "0206" + hexOf("654321"));
    EXPECT_EQ(lines[1].status, "9000");
    EXPECT_EQ(lines[2].command.substr(0, 10), "0020020108");
    EXPECT_EQ(vellab::state("pin"), "654321");
    EXPECT_EQ(vellab::state("default_pin"), "0");
    // The store now has a PIN of its own, and it is the new one.
    EXPECT_TRUE(store->hasPinCode());
    EXPECT_FALSE(store->isUserPinDefault());
    EXPECT_EQ(store->getCachedPin(), L"654321");
    EXPECT_NO_THROW(store->setPin(L"654321"));
}

TEST_F(VelTokenLab, DefaultPinStateSignsWithTheBuiltInPinAndAnExtendedCommand)
{
    const auto store = token();
    const pkcs9::Attributes attributes = attributesOfSize(300);
    vellab::clearLog();
    const bytes signature = store->signByDeviceKey(attributes);
    EXPECT_EQ(signature.size(), 128u);

    const auto lines = vellab::log();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].command, "0020010106" + hexOf("123456"));
    // TLV 82 (10 bytes) and TLV 01 with a long length (4 + 300 bytes): 314
    // bytes of data, so Lc 00 01 3A and Le 00 80.
    const std::string& sign = lines[1].command;
    EXPECT_EQ(sign.substr(0, 18), "002A9E8000013A8208");
    const std::string token = signToken(sign);
    ASSERT_EQ(token.size(), 16u);
    EXPECT_EQ(sign.substr(34), "0100012C" + upper(hex(attributes.derEncoding())) + "0080");
    EXPECT_EQ(lines[1].status, "9000");
    EXPECT_EQ(lines[2].command, endOfSession(token));
    EXPECT_EQ(lines[2].status, "9000");
}

TEST_F(VelTokenLab, AnErrorInTheMiddleStillEndsTheSession)
{
    const auto store = token();
    vellab::clearLog();
    // The card refuses a new PIN longer than 32 bytes (6A80) after the PIN
    // check has opened the session.
    EXPECT_THROW(store->changePin(std::wstring(33, L'7')), DeviceError);

    const auto lines = vellab::log();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].status, "9000");
    EXPECT_EQ(lines[1].command.substr(0, 8), "00240101");
    EXPECT_EQ(lines[1].status, "6A80");
    EXPECT_EQ(lines[2].command.substr(0, 10), "0020020108");
    EXPECT_EQ(lines[2].status, "9000");
    // Nothing stays open: the device signs at once, with the PIN unchanged.
    EXPECT_EQ(vellab::state("pin"), "123456");
    EXPECT_EQ(store->signByDeviceKey(attributesOfSize(60)).size(), 128u);
}

TEST_F(VelTokenLab, AnAnswerWithoutStatusWordIsADeviceErrorAndTheSessionStillEnds)
{
    const auto store = token();
    vellab::set("short_at=2A");
    vellab::clearLog();
    try {
        store->signByDeviceKey(attributesOfSize(60));
        FAIL() << "a one-byte answer was taken for a signature";
    } catch (const DeviceError& e) {
        EXPECT_EQ(e.code(), 0);
        EXPECT_NE(std::string(e.what()).find(cp::localization.get("CP-008027")), std::string::npos) << e.what();
    }
    const auto lines = vellab::log();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].command.substr(0, 8), "002A9E80");
    EXPECT_EQ(lines[1].status, "-");
    EXPECT_EQ(lines[2].command, endOfSession(signToken(lines[1].command)));
    EXPECT_EQ(lines[2].status, "9000");

    vellab::set("short_at=");
    EXPECT_EQ(store->signByDeviceKey(attributesOfSize(60)).size(), 128u);
}

TEST_F(VelTokenLab, ActivationThenReconnectGivesAWorkingToken)
{
    vellab::set("lifecycle=6");
    vellab::replug();
    const bytes atr = vellab::currentAtr();
    ASSERT_EQ(atr.at(14), 0x06);
    vellab::clearLog();
    EXPECT_THROW(getVelToken(vellab::READER, atr), NeedReconnectVelToken);

    const auto lines = vellab::log();
    ASSERT_EQ(lines.size(), 1u);
    const std::string& activation = lines[0].command;
    // 414 bytes of data in the extended form, no Le.
    EXPECT_EQ(activation.substr(0, 14), "00F001000001"
                                        "9E");
    EXPECT_EQ(activation.size(), (7u + 414u) * 2);
    EXPECT_EQ(activation.substr(14, 20), "0108" + hexOf("12345678"));
    EXPECT_EQ(activation.substr(34, 8), "02000190");
    EXPECT_EQ(lines[0].status, "9000");
    EXPECT_EQ(vellab::state("lifecycle"), "working");

    vellab::replug();
    const auto store = token();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->id(), "01-23-45-67");
}

TEST_F(VelTokenLab, NotInitialisedDeviceIsRefusedFromItsAtr)
{
    vellab::set("lifecycle=3");
    vellab::replug();
    vellab::clearLog();
    EXPECT_THROW(getVelToken(vellab::READER, vellab::currentAtr()), DeviceNotInitialized);
    EXPECT_TRUE(vellab::log().empty());
}

TEST_F(VelTokenLab, UnsupportedOperationsNeverReachTheDevice)
{
    const auto store = token();
    vellab::clearLog();
    const std::shared_ptr<KeyRecord> key;
    Extensions extensions;
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"setKeyPassword", [&] { store->setKeyPassword(key, L"1"); }},
        {"createNewKey",
         [&] { store->createNewKey("a", 0, GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, "", "", L"1"); }},
        {"setKeyExternalId", [&] { store->setKeyExternalId(key, 1); }},
        {"changeKeyAlias", [&] { store->changeKeyAlias(key, "b"); }},
        {"changeKeyPass", [&] { store->changeKeyPass(key, L"2"); }},
        {"deleteKey", [&] { store->deleteKey(key); }},
        {"digestEngine", [&] { store->digestEngine(); }},
        {"sign", [&] { store->sign(key, {{1}}, false); }},
        {"cmsSign", [&] { store->cmsSign(key, {}, false); }},
        {"createPkcs10", [&] { store->createPkcs10(key, SubjectDN(), extensions, true, AlgorithmId()); }},
        {"getPublicKey", [&] { store->getPublicKey(key); }},
        {"certificateList", [&] { store->certificateList(CERT_USER); }},
        {"importUserCertificate", [&] { store->importUserCertificate(key, {1}); }},
        {"deleteUserCertificate", [&] { store->deleteUserCertificate(key); }},
        {"importCertificate", [&] { store->importCertificate({1}, CERT_AUTHORITY); }},
        {"deleteCertificate", [&] { store->deleteCertificate({1}, CERT_AUTHORITY); }},
        {"findKeyByCertificate", [&] { store->findKeyByCertificate({1}, true); }},
        {"findCertificateByKey", [&] { store->findCertificateByKey(key); }},
        {"updateKeysInfo", [&] { store->updateKeysInfo(); }},
        {"getKeysList", [&] { store->getKeysList(); }},
        {"verifySign",
         [&] {
             store->verifySign({1}, {2}, {3}, GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, "", false);
         }},
    };
    for (const auto& [name, operation] : operations) {
        EXPECT_THROW(operation(), FunctionNotImplemented) << name;
    }
    EXPECT_TRUE(vellab::log().empty());
}

} // namespace
