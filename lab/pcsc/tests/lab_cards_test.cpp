// The lab's cards as the library meets them: the Rutoken and JaCarta faces of
// the PKCS#11 tokens, the MS_KEY K ATR and the confirmation token.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gcrypt.h>

#include "base/conv.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "device/device.h"
#include "support/lab_script.h"

// libgcrypt keeps its random pool for the life of the process.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions()
{
    return "leak:libgcrypt.so\n";
}

namespace
{

using Bytes = std::vector<unsigned char>;

const char* const RUTOKEN = "Aktiv Rutoken ECP 00 00";
const char* const RUTOKEN_SPARE = "Aktiv Rutoken ECP 00 01";
const char* const JACARTA = "Aladdin R.D. JaCarta 00 00";
const char* const MSKEY = "MS_KEY K 00 00";
const char* const VEL = "ORMID VEL-token 00 00";

std::string labDir()
{
    const char* dir = std::getenv("ORMID_LAB_DIR");
    return dir ? dir : "";
}

// "VERB REST...": the verb and what follows it on the lab command line.
void lab(const std::string& arguments)
{
    const std::string verb = arguments.substr(0, arguments.find(' '));
    labscript::run(verb, arguments.substr(verb.size()));
}

std::string velField(const std::string& key)
{
    std::ifstream in(labDir() + "/vel/vel1.state");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

int invalidPasswordTries(SCardProvider& provider, const apdu::Command& command)
{
    try {
        provider.executeCommand(command, false);
    } catch (const InvalidPassword& e) {
        return e.tries();
    }
    return -1;
}

TEST(RutokenCard, ChipDataTellsTheModel)
{
    labdev::DeviceDirectory devices(labDir());
    const labdev::Device token = devices.load("0A1B2C3D");
    const auto* model = labdev::findModel(token.model());
    ASSERT_NE(model, nullptr);

    SCardProvider provider(RUTOKEN);
    const Bytes chip =
        provider.executeCommand(apdu::Command(0x00, 0xCA, 0x01, 0x89, short{0x0C}), false).getData();
    ASSERT_EQ(chip.size(), 12u);
    EXPECT_EQ(chip[1], model->chipModel);
    EXPECT_EQ(chip[4], 24);
    EXPECT_EQ(chip[5], 2);

    // A device fact makes the card show a chip no model has, until it is cleared.
    const Bytes unknown{0x00, 0x35, 0x00, 0x00, 0x19, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07};
    devices.update("0A1B2C3D",
                   [](labdev::Device& d) { d.set("card.chip-data", "003500001903000000000007"); });
    EXPECT_EQ(provider.executeCommand(apdu::Command(0x00, 0xCA, 0x01, 0x89, short{0x0C}), false).getData(),
              unknown);
    devices.update("0A1B2C3D", [](labdev::Device& d) { d.set("card.chip-data", ""); });
    EXPECT_EQ(provider.executeCommand(apdu::Command(0x00, 0xCA, 0x01, 0x89, short{0x0C}), false).getData(),
              chip);

    // A second token of a later model, in the reader's free slot.
    lab("add-token rutoken-ecp-3 0B1C2D3E");
    SCardProvider later(RUTOKEN_SPARE);
    const Bytes laterChip =
        later.executeCommand(apdu::Command(0x00, 0xCA, 0x01, 0x89, short{0x0C}), false).getData();
    ASSERT_GE(laterChip.size(), 6u);
    EXPECT_EQ(laterChip[1], 60);
    EXPECT_EQ(devices.load("0B1C2D3E").get(labdev::fact::READER), RUTOKEN_SPARE);

    // Pulling the card out takes the token out of its PKCS#11 slot as well.
    later.disconnect();
    lab("remove 'Aktiv Rutoken ECP 00 01'");
    EXPECT_FALSE(devices.load("0B1C2D3E").getBool(labdev::fact::PRESENT, true));
    EXPECT_FALSE(SCardProvider().getStatus(RUTOKEN_SPARE).eventState & SCARD_STATE_PRESENT);
}

TEST(RutokenCard, PinStateIsTheTokensOwn)
{
    const apdu::Command pinState(0x00, 0x20, 0x00, 0x02);
    SCardProvider provider(RUTOKEN);
    EXPECT_EQ(invalidPasswordTries(provider, pinState), 10);

    lab("set 0A1B2C3D user-tries-left=3");
    EXPECT_EQ(invalidPasswordTries(provider, pinState), 3);

    // A wrong PIN presented on the card costs a try of the token.
    const std::string wrong = "00000000";
    EXPECT_EQ(invalidPasswordTries(provider,
                                   apdu::Command(0x00, 0x20, 0x00, 0x02, Bytes(wrong.begin(), wrong.end()))),
              2);
    EXPECT_EQ(labdev::DeviceDirectory(labDir()).load("0A1B2C3D").getInt(labdev::fact::USER_TRIES_LEFT), 2);

    lab("set 0A1B2C3D user-tries-left=0");
    EXPECT_THROW(provider.executeCommand(pinState, false), KeyBlocked);
    lab("set 0A1B2C3D user-tries-left=10");
}

TEST(JaCartaCard, ChipDataCountsTheTries)
{
    const apdu::Command chipData(0x80, 0x38, 0x20, 0x00);
    SCardProvider provider(JACARTA);
    Bytes chip = provider.executeCommand(chipData, false).getData();
    ASSERT_GE(chip.size(), 14u);
    EXPECT_EQ(chip[12] - chip[13], 10);

    lab("set JC2000000001 user-tries-left=4");
    chip = provider.executeCommand(chipData, false).getData();
    EXPECT_EQ(chip[12] - chip[13], 4);

    lab("set JC2000000001 card.formatted=0");
    EXPECT_THROW(provider.executeCommand(chipData, false), apdu::CardNotFormatted);
    lab("set JC2000000001 card.formatted=1 user-tries-left=10");
}

TEST(AtrCards, PresentTheMakersAtrs)
{
    SCardProvider provider;
    EXPECT_EQ(conv::bytes_to_hex(provider.getStatus(MSKEY).atr), "3B9E96008031C0654D5300000072F7418107");
    EXPECT_EQ(conv::bytes_to_hex(provider.getStatus(JACARTA).atr),
              "3BDC18FF8191FE1FC38073C821136601061159000128");
}

// The confirmation token's ATR test.
bool isVelAtr(const Bytes& atr)
{
    const Bytes head = {0x3B, 0x9B, 0x96, 0x01, 0x80, 0x31, 0x01, 0x61};
    return atr.size() == 16 && std::equal(head.begin(), head.end(), atr.begin()) && atr[9] == 0x73 &&
           atr[10] == 0x00 && atr[11] == 0x21 && (atr[12] & 0xFC) == 0x50 && atr[13] == 0x81;
}

Bytes tlv(unsigned char tag, const Bytes& value)
{
    return apdu::Tlv(tag, value).data();
}

Bytes utf8(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes openSession(SCardProvider& provider, const std::string& pin)
{
    return provider.executeCommand(apdu::Command(0x00, 0x20, 0x01, 0x01, utf8(pin)), false).getData();
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Checks a device signature (s || r) over `data` against the device key.
bool verifiesWithDeviceKey(const Bytes& data, const Bytes& signature)
{
    if (signature.size() != 128) {
        return false;
    }
    // Public key stored as certificates carry it: X and Y little-endian.
    const Bytes pub = conv::hex_to_bytes(velField("public"));
    Bytes q = {0x04};
    q.insert(q.end(), pub.rbegin() + 64, pub.rend());
    q.insert(q.end(), pub.rbegin(), pub.rbegin() + 64);
    Bytes digest(64);
    gcry_md_hash_buffer(GCRY_MD_STRIBOG512, digest.data(), data.data(), data.size());
    std::reverse(digest.begin(), digest.end());
    gcry_sexp_t key = nullptr, hash = nullptr, sig = nullptr;
    gcry_sexp_build(&key, nullptr, "(public-key (ecc (curve GOST2012-512-tc26-A) (q %b)))",
                    static_cast<int>(q.size()), q.data());
    gcry_sexp_build(&hash, nullptr, "(data (flags gost) (value %b))", 64, digest.data());
    gcry_sexp_build(&sig, nullptr, "(sig-val (gost (r %b) (s %b)))", 64, signature.data() + 64, 64,
                    signature.data());
    const bool ok = key && hash && sig && gcry_pk_verify(sig, hash, key) == 0;
    gcry_sexp_release(key);
    gcry_sexp_release(hash);
    gcry_sexp_release(sig);
    return ok;
}

class VelCard : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        lab("set vel1 lifecycle=working tries=10 max_tries=10 pin=123456 default_pin=1");
    }
};

TEST_F(VelCard, DescribesItself)
{
    SCardProvider provider;
    const Bytes atr = provider.getStatus(VEL).atr;
    EXPECT_TRUE(isVelAtr(atr)) << conv::bytes_to_hex(atr);
    EXPECT_EQ(atr[14], 0x07); // working

    SCardProvider card(VEL);
    const Bytes info = card.executeCommand(apdu::Command(0x00, 0xF5, 0x00, 0x00), false).getData();
    EXPECT_EQ(findTagValue(0x95, info, 0), conv::hex_to_bytes("87D61200"));
    EXPECT_EQ(findTagValue(0x96, info, 0), Bytes{0x01});
    EXPECT_EQ(findTagValue(0x97, info, 0), Bytes{0x0A});

    lab("set vel1 info_without_tries=1");
    const Bytes noTries = card.executeCommand(apdu::Command(0x00, 0xF5, 0x00, 0x00), false).getData();
    lab("set vel1 info_without_tries=0");
    EXPECT_TRUE(findTagValue(0x97, noTries, 0).empty());
    EXPECT_EQ(findTagValue(0x95, noTries, 0), conv::hex_to_bytes("87D61200"));
}

TEST_F(VelCard, SignsConfirmationDataInASession)
{
    SCardProvider card(VEL);
    ScardTransaction transaction(card);
    EXPECT_EQ(invalidPasswordTries(card, apdu::Command(0x00, 0x20, 0x01, 0x01, utf8("654321"))), 9);
    const Bytes token = openSession(card, "123456");
    ASSERT_FALSE(token.empty());

    // 300 bytes of attributes: the command takes the extended form.
    Bytes attributes = {0x31, 0x82, 0x01, 0x28};
    attributes.resize(300, 0x5A);
    const apdu::Command sign(0x00, 0x2A, 0x9E, 0x80, concat(tlv(0x82, token), tlv(0x01, attributes)), 0x80);
    const Bytes signature = card.executeCommand(sign, false).getData();
    EXPECT_EQ(signature.size(), 128u);
    EXPECT_TRUE(verifiesWithDeviceKey(attributes, signature));
    attributes[10] ^= 1;
    EXPECT_FALSE(verifiesWithDeviceKey(attributes, signature));

    // A right PIN restored the tries; after the session ends nothing signs.
    EXPECT_EQ(velField("tries"), "10");
    card.executeCommand(apdu::Command(0x00, 0x20, 0x02, 0x01, token), false);
    EXPECT_THROW(card.executeCommand(sign, false), AccessDenied);
}

TEST_F(VelCard, ChangesThePin)
{
    SCardProvider card(VEL);
    ScardTransaction transaction(card);
    const Bytes token = openSession(card, "123456");
    const apdu::Command change(0x00, 0x24, 0x01, 0x01,
                               concat(tlv(0x01, utf8("123456")), tlv(0x02, utf8("2468"))));
    card.executeCommand(change, false);
    card.executeCommand(apdu::Command(0x00, 0x20, 0x02, 0x01, token), false);

    const Bytes info = card.executeCommand(apdu::Command(0x00, 0xF5, 0x00, 0x00), false).getData();
    EXPECT_EQ(findTagValue(0x96, info, 0), Bytes{0x00});
    EXPECT_FALSE(openSession(card, "2468").empty());
    EXPECT_EQ(invalidPasswordTries(card, apdu::Command(0x00, 0x20, 0x01, 0x01, utf8("123456"))), 9);
}

TEST_F(VelCard, BlocksWhenTheTriesRunOut)
{
    lab("set vel1 tries=2");
    {
        SCardProvider card(VEL);
        const apdu::Command wrong(0x00, 0x20, 0x01, 0x01, utf8("000000"));
        EXPECT_EQ(invalidPasswordTries(card, wrong), 1);
        EXPECT_THROW(card.executeCommand(wrong, false), KeyBlocked); // 63C0
        EXPECT_THROW(openSession(card, "123456"), KeyBlocked);       // 6983
    }
    lab("replug 'ORMID VEL-token 00 00'");
    EXPECT_EQ(SCardProvider().getStatus(VEL).atr[14], 4);
    lab("set vel1 lifecycle=working tries=10");
    lab("replug 'ORMID VEL-token 00 00'");
}

TEST_F(VelCard, ActivationTakesEffectAfterAReconnect)
{
    lab("set vel1 lifecycle=6");
    lab("replug 'ORMID VEL-token 00 00'");
    EXPECT_EQ(SCardProvider().getStatus(VEL).atr[14], 6);

    Bytes random(400);
    gcry_randomize(random.data(), random.size(), GCRY_WEAK_RANDOM);
    SCardProvider card(VEL);
    const apdu::Command badCode(0x00, 0xF0, 0x01, 0x00,
                                concat(tlv(0x01, utf8("00000000")), tlv(0x02, random)));
    EXPECT_THROW(card.executeCommand(badCode, false), AccessDenied);
    const apdu::Command activate(0x00, 0xF0, 0x01, 0x00,
                                 concat(tlv(0x01, utf8(velField("activation_code"))), tlv(0x02, random)));
    EXPECT_EQ(activate.getRequest().size(), 4u + 3u + 414u);
    EXPECT_EQ(card.executeCommand(activate, false).getSw(), 0x9000);
    card.disconnect();

    EXPECT_EQ(SCardProvider().getStatus(VEL).atr[14], 6); // until the device is plugged in again
    lab("replug 'ORMID VEL-token 00 00'");
    EXPECT_EQ(SCardProvider().getStatus(VEL).atr[14], 7);
}

// The confirmation token's record of its wire, emptied first.
class VelWire : public VelCard
{
  protected:
    static std::string logPath() { return labDir() + "/vel/vel1.apdu.log"; }

    void SetUp() override
    {
        VelCard::SetUp();
        std::ofstream(logPath(), std::ios::trunc);
    }

    static std::string log()
    {
        std::ifstream in(logPath());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static bool cardPresent() { return SCardProvider().getStatus(VEL).eventState & SCARD_STATE_PRESENT; }
};

TEST_F(VelWire, RecordsEachCommandWithItsStatusWord)
{
    SCardProvider card(VEL);
    card.executeCommand(apdu::Command(0x00, 0xF5, 0x00, 0x00), false);
    EXPECT_EQ(invalidPasswordTries(card, apdu::Command(0x00, 0x20, 0x01, 0x01, utf8("000000"))), 9);
    EXPECT_EQ(log(), "00F50000 9000\n"
                     "0020010106303030303030 63C9\n");

    // Deleted under the card's feet: the next line starts a new file.
    std::remove(logPath().c_str());
    card.executeCommand(apdu::Command(0x00, 0xF5, 0x00, 0x00), false);
    EXPECT_EQ(log(), "00F50000 9000\n");
}

TEST_F(VelWire, PulledOutOnTheChosenInstruction)
{
    lab("set vel1 pull_at=2A");
    {
        SCardProvider card(VEL);
        EXPECT_EQ(card.executeCommand(apdu::Command(0x00, 0xF5, 0x00, 0x00), false).getSw(), 0x9000);
        const apdu::Command sign(0x00, 0x2A, 0x9E, 0x80,
                                 concat(tlv(0x82, Bytes(8)), tlv(0x01, Bytes{0x31, 0x00})), 0x80);
        EXPECT_THROW(card.executeCommand(sign, false), ScardException);
        EXPECT_EQ(log(), "00F50000 9000\n" + conv::bytes_to_hex(sign.getRequest()) + " -\n");
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (cardPresent() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(cardPresent());
    EXPECT_EQ(velField("pull_at"), ""); // once only

    lab("insert 'ORMID VEL-token 00 00' vel vel1");
    SCardProvider card(VEL);
    EXPECT_EQ(card.executeCommand(apdu::Command(0x00, 0xF5, 0x00, 0x00), false).getSw(), 0x9000);
}

TEST_F(VelWire, MuteCardNeverAnswers)
{
    lab("set vel1 mute=1");
    // The exchange would block until the card is pulled out: bound it.
    const auto usual = SCardProvider::responseTimeout();
    SCardProvider::setResponseTimeout(std::chrono::milliseconds(700));
    const auto start = std::chrono::steady_clock::now();
    try {
        SCardProvider(VEL).executeCommand(apdu::Command(0x00, 0xF5, 0x00, 0x00), false);
        ADD_FAILURE() << "the mute card answered";
    } catch (const ScardException& e) {
        EXPECT_EQ(e.code(), static_cast<std::uint32_t>(SCARD_E_TIMEOUT));
    }
    SCardProvider::setResponseTimeout(usual);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
    EXPECT_EQ(log(), "00F50000 -\n");
    EXPECT_EQ(SCardProvider().getStatus(VEL).atr[14], 0x07); // still shows its ATR

    lab("set vel1 mute=0");
    lab("replug 'ORMID VEL-token 00 00'");
    SCardProvider card(VEL);
    EXPECT_EQ(card.executeCommand(apdu::Command(0x00, 0xF5, 0x00, 0x00), false).getSw(), 0x9000);
}

} // namespace
