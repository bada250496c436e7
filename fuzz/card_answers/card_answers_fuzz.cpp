// Device recognition and the confirmation token against a PC/SC service
// whose every answer comes from the input: the reader list, reader states
// and ATRs, the Rutoken and JaCarta chip data, and a whole confirmation-token
// session (device information, PIN check with its tries, the confirmation
// signature, a PIN change, the end of the session, an activation). The token
// makes' modules are the PKCS#11 double, answering from the same input.
// Each input ends in results or the library's exceptions.
#include <cstdint>
#include <memory>
#include <string>

#include "answers.h"
#include "asn1/oid.h"
#include "asn1/tlv.h"
#include "cryptoprovider/pkcs11/module_paths.h"
#include "cryptoprovider/pkcs11/token_models.h"
#include "cryptoprovider/provider/device_detection.h"
#include "cryptoprovider/provider/reader_walk.h"
#include "cryptoprovider/scard/vel_device.h"
#include "cryptoprovider/scard/vel_token.h"
#include "pkcs11_double.h"
#include "pkcs7/attributes.h"

namespace
{

using fuzzdouble::expectOutcome;

pkcs9::Attributes confirmationAttributes()
{
    pkcs9::Attributes attributes;
    attributes.insert(ObjectIdentifier("1.2.643.2.2.99.1"), bytes{0x04, 0x03, 0x5A, 0x5A, 0x5A});
    return attributes;
}

void confirmationSession(const std::string& reader, const bytes& atr)
{
    expectOutcome([&] {
        const std::shared_ptr<KeyStore> store = getVelToken(reader, atr);
        auto* token = dynamic_cast<VelToken*>(store.get());
        if (token == nullptr)
            return;
        expectOutcome([&] { (void)token->serialData(false); });
        expectOutcome([&] { token->setPin(L"123456"); });
        expectOutcome([&] { (void)token->signByDeviceKey(confirmationAttributes()); });
        expectOutcome([&] { token->changePin(L"654321"); });
    });
}

void recognise(const std::string& reader, const bytes& atr)
{
    if (isOrmidVelToken(atr)) {
        confirmationSession(reader, atr);
        return;
    }
    fuzzdouble::plausibleReader = reader; // the slot a working module shows for it
    expectOutcome([&] {
        const std::shared_ptr<HardwareDevice> device = getHardwareDevice(reader, atr);
        if (auto* token = dynamic_cast<Pkcs11Token*>(device.get()))
            (void)token->pinTries(); // the Rutoken PIN state, the JaCarta chip data
    });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzdouble::installTokenDoubles();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzdouble::Answers answers(data, size);
    fuzzdouble::current = &answers;
    for (const std::string& path : {pkcs11::pkcs11Rutoken(), pkcs11::pkcs11Mskey(), pkcs11::pkcs11jcPKCS11()})
        expectOutcome([&] { fuzzdouble::supplyPkcs11(path); });
    const std::uint8_t choice = answers.byte();
    expectOutcome([&] {
        // Up to four cards, as many as the input says.
        const int most = 1 + (choice & 3);
        int seen = 0;
        for (const provider::CardInReader& card : provider::cardsInReaders(choice & 4, "fuzz")) {
            if (++seen > most)
                break;
            recognise(card.reader, card.atr);
        }
    });
    // A confirmation token whatever the reader list said, when the input
    // asks for it, so that inputs reach the device's own answers directly.
    if (choice & 8)
        confirmationSession("VEL-token 00 03", bytes{0x3B, 0x9B, 0x96, 0x01, 0x80, 0x31, 0x01, 0x61, 0x00,
                                                     0x73, 0x00, 0x21, 0x50, 0x81, answers.byte(), 0x00});
    fuzzdouble::current = nullptr;
    return 0;
}
