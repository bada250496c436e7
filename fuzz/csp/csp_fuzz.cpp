// The CryptoAPI back end against a CSP whose every answer comes from the
// input: the installation check, version, reader and container
// enumerations, opening a container and reading its key (parameters, key
// blobs, certificate), signing and hashing, a new container with its key,
// certificate contexts and the user's store. Each input ends in results or
// the library's exceptions, with every certificate context freed once.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "answers.h"
#include "capi/crypto_pro_container.h"
#include "capi/csp_engines.h"
#include "capi/functions.h"
#include "capi/handles.h"
#include "capi/wrapper.h"
#include "cryptoprovider/core/entities.h"
#include "csp_double.h"
#include "x509/algorithms.h"

namespace
{

using fuzzdouble::expectOutcome;

// A GOST R 34.10-2012-256 SubjectPublicKeyInfo (parameter set A), key bytes 0x11.
bytes subjectPublicKeyInfo()
{
    bytes info{0x30, 0x66, 0x30, 0x1F, 0x06, 0x08, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x01, 0x01,
               0x30, 0x13, 0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01, 0x06, 0x08, 0x2A,
               0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x02, 0x03, 0x43, 0x00, 0x04, 0x40};
    info.insert(info.end(), 64, 0x11);
    return info;
}

void container(capi::Container& store)
{
    expectOutcome([&] { store.updateKeysInfo(); });
    expectOutcome([&] {
        const std::shared_ptr<KeyRecord> key = store.key();
        expectOutcome([&] { (void)store.getPublicKey(key); });
        expectOutcome([&] { (void)store.sign(key, {bytes(32, 0x33)}, false); });
        expectOutcome([&] { (void)store.findCertificateByKey(key); });
        expectOutcome([&] { (void)store.getRsaPublicKey(key); });
    });
    expectOutcome([&] { (void)store.certificateList(CERT_USER); });
}

// The operations an input may run, in the order it names them.
void run(std::uint8_t operation)
{
    switch (operation % 9) {
    case 0:
        expectOutcome([] { CryptoProContainer::checkInstalled(); });
        break;
    case 1:
        expectOutcome([] { (void)capi::version(PROV_GOST_2001_DH); });
        break;
    case 2:
        expectOutcome([] { (void)capi::availableReaders(); });
        break;
    case 3:
        expectOutcome([] { (void)capi::availableContainers({75, 80, 81}, CRYPT_FQCN); });
        break;
    case 4:
        expectOutcome([] {
            CryptoProContainer existing("\\\\.\\HDIMAGE\\fuzz");
            container(existing);
        });
        break;
    case 5:
        expectOutcome([] {
            CryptoProContainer fresh;
            (void)fresh.createNewKey("fuzz", 1, GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
                                     "1.2.643.2.2.35.1", "", L"пароль");
            container(fresh);
        });
        break;
    case 6:
        expectOutcome([] {
            capi::DigestCryptoApi digest;
            digest.init(GOST_R_3411_2012_256, "");
            digest.update(bytes(100, 0x22));
            (void)digest.doFinal(Endian::Little);
        });
        break;
    case 7:
        expectOutcome([] {
            const capi::CertStore store(L"MY");
            expectOutcome([&] { (void)capi::CertContext::enumCertificatesInStore(store); });
            expectOutcome([&] { (void)store.findCertificate(subjectPublicKeyInfo()); });
            expectOutcome([&] { store.addCertificate(capi::CertContext(bytes{0x30, 0x00})); });
        });
        break;
    default:
        expectOutcome([] {
            (void)capi::verifyGostSignature(bytes(10, 0x44), bytes(64, 0x55), bytes(64, 0x11),
                                            GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
                                            "1.2.643.2.2.35.1", false);
        });
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzdouble::Answers answers(data, size);
    fuzzdouble::current = &answers;
    fuzzdouble::supplyCsp();
    // Each operation at most once: the digest and the verification spend
    // most of their time on work no answer changes.
    unsigned done = 0;
    for (int step = 0; step < 6 && !answers.exhausted(); ++step) {
        const std::uint8_t operation = answers.byte() % 9;
        if ((done & (1u << operation)) == 0)
            run(operation);
        done |= 1u << operation;
    }
    if (fuzzdouble::openCertificateContexts() != 0)
        std::abort(); // a certificate context the library did not give back
    fuzzdouble::current = nullptr;
    return 0;
}
