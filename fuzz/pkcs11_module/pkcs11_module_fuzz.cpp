// The token back end against a PKCS#11 module (and the card behind it)
// whose every answer comes from the input: the slot scan and the token
// information with the vendor's extended information, the login with its
// tries, the key list (records, metadata containers, older objects, keys of
// other programs), key creation, signing, digests and the certificate list.
// Each input ends in results or the library's exceptions.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "answers.h"
#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/entities.h"
#include "cryptoprovider/pkcs11/module_paths.h"
#include "cryptoprovider/pkcs11/token_models.h"
#include "pkcs11_double.h"
#include "x509/algorithms.h"

namespace
{

constexpr const char* READER = "Fuzz Reader 00 00";

std::shared_ptr<Pkcs11Token> makeToken(std::uint8_t make)
{
    switch (make % 3) {
    case 0:
        fuzzdouble::supplyPkcs11(pkcs11::pkcs11Rutoken());
        return std::make_shared<RuToken2>(READER);
    case 1:
        fuzzdouble::supplyPkcs11(pkcs11::pkcs11Mskey());
        return std::make_shared<MSKeyKAngara>(READER);
    default:
        fuzzdouble::supplyPkcs11(pkcs11::pkcs11jcPKCS11());
        return std::make_shared<CryptoTokenEP2>(READER);
    }
}

void session(Pkcs11Token& token)
{
    using fuzzdouble::expectOutcome;
    expectOutcome([&] { token.setPin(L"12345678"); });
    expectOutcome([&] { (void)token.pinTries(); });
    expectOutcome([&] { token.updateKeysInfo(); });
    int listed = 0;
    for (const auto& entry : token.getKeys()) {
        const std::shared_ptr<KeyRecord>& key = entry.second;
        if (++listed > 4)
            break;
        expectOutcome([&] { (void)token.getPublicKey(key); });
        expectOutcome([&] { token.setKeyPassword(key, L"пароль"); });
        expectOutcome([&] { (void)token.sign(key, {bytes(32, 0x11)}, fuzzdouble::current->byte() & 1); });
        expectOutcome([&] { (void)token.findCertificateByKey(key); });
    }
    expectOutcome([&] {
        (void)token.createNewKey("fuzz key", 1, GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
                                 "1.2.643.2.2.35.1", "", L"пароль");
    });
    expectOutcome([&] { (void)token.certificateList(CERT_USER); });
    expectOutcome([&] { (void)token.certificateList(CERT_AUTHORITY); });
    expectOutcome([&] {
        const std::shared_ptr<DigestEngine> digest = token.digestEngine();
        digest->init(GOST_R_3411_2012_256, "");
        digest->update(bytes(100, 0x22));
        (void)digest->doFinal(Endian::Little);
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
    fuzzdouble::expectOutcome([&] {
        const std::shared_ptr<Pkcs11Token> token = makeToken(answers.byte());
        session(*token);
    });
    fuzzdouble::current = nullptr;
    return 0;
}
