// The handle owners and free functions on the lab's CSP: providers and their
// parameters, key pairs made in new containers and opened again, hashing and
// signing, verification of signatures made by libgcrypt, certificates in the
// store "MY", the CSP's own error values, and every handle given back.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "asn1/errors.h"
#include "base/encoding.h"
#include "capi/errors.h"
#include "capi/functions.h"
#include "capi/handles.h"
#include "cryptoprovider/core/errors.h"
#include "csp_lab.h"
#include "x509/errors.h"
#include "x509/public_key.h"

namespace
{

using csplab::CspLab;
using gostsoft::Bytes;

const Bytes DATA{'p', 'a', 'y', ' ', '1', '0', '0'};

class Handles : public CspLab
{
  protected:
    void TearDown() override
    {
        capi::localization.setLanguage(RUSSIAN);
        CspLab::TearDown();
    }
};

// A signature of the CSP over DATA with `key`, as CryptSignHashA gives it.
Bytes cspSign(const capi::Key& key, const AlgorithmId& digest, const Bytes& data = DATA)
{
    const capi::Hash hash(key.provider().get(), digest);
    hash.update(data);
    return hash.sign(key.keySpec());
}

TEST_F(Handles, VerifyContextReportsVendorVersionAndReaders)
{
    EXPECT_EQ(capi::Provider::verifyContext(75).vendor(), "Crypto-Pro");
    EXPECT_EQ(capi::version(75), "5.0");
    EXPECT_EQ(capi::availableReaders(), (std::vector<std::string>{"HDIMAGE", "FLASH"}));
    // The CSP's own texts are CP1251.
    settings("version=4.0\nreaders=HDIMAGE," + encoding::utf8_to_cp1251("Носитель") + "\n");
    EXPECT_EQ(capi::version(80), "4.0");
    EXPECT_EQ(capi::availableReaders(), (std::vector<std::string>{"HDIMAGE", "Носитель"}));
}

TEST_F(Handles, GeneratedKeysSignVerifyAndOpenAgain)
{
    struct Case {
        capi::PROV_TYPE type;
        AlgorithmId algorithm;
        std::string paramsOid;
        std::size_t keySize;
        std::wstring password;
    };
    const std::vector<Case> cases{
        {75, GOST_R_3410_2001, "1.2.643.2.2.35.1", 64, L""},
        {80, GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", 64, L"пароль"},
        {81, GOST_R_3410_2012_512, "1.2.643.7.1.2.1.2.2", 128, L""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.algorithm.name());
        const std::string alias = "\\\\.\\HDIMAGE\\ключ-" + std::to_string(++n);
        const capi::Key created(c.type, alias, c.algorithm, c.paramsOid, c.password);
        const AlgorithmId sign = created.signAlgorithm();
        EXPECT_EQ(sign, capi::signAlgorithmByProvType(c.type));
        EXPECT_EQ(created.keySpec(), DWORD(AT_KEYEXCHANGE));
        const Bytes publicKey = created.publicKey();
        EXPECT_EQ(publicKey.size(), c.keySize);
        const Bytes paramSet = created.param(KP_PARAMSET_OID, 0);
        EXPECT_EQ(std::string(paramSet.begin(), std::find(paramSet.begin(), paramSet.end(), 0)), c.paramsOid);
        EXPECT_EQ(encoding::cp1251_to_utf8(created.provider().stringParam(PP_CONTAINER_ALIAS, 0)), alias);

        const Bytes signature = cspSign(created, getDigestAlgorithm(sign));
        EXPECT_EQ(signature.size(), c.keySize);
        EXPECT_NO_THROW(capi::verifySign(DATA, signature, publicKey, sign, c.paramsOid));
        EXPECT_THROW(capi::verifySign({'x'}, signature, publicKey, sign, c.paramsOid), capi::WrongSign);

        const capi::Key opened(alias, c.type);
        EXPECT_EQ(opened.publicKey(), publicKey);
        EXPECT_EQ(opened.keySpec(), DWORD(AT_KEYEXCHANGE));
        EXPECT_NO_THROW(
            capi::verifySign(DATA, cspSign(opened, getDigestAlgorithm(sign)), publicKey, sign, c.paramsOid));
    }
    // Listed by their full names, Cyrillic intact, each once.
    std::vector<std::string> names = capi::availableContainers({75, 80, 81}, CRYPT_FQCN);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"\\\\.\\HDIMAGE\\ключ-1", "\\\\.\\HDIMAGE\\ключ-2",
                                               "\\\\.\\HDIMAGE\\ключ-3"}));
}

TEST_F(Handles, RsaKeyGivesItsPublicKeyAndVerifies)
{
    const capi::Key key(24, "rsa", RSA_ENCRYPTION, "", L"", 1024);
    EXPECT_EQ(key.signAlgorithm(), RSA_ENCRYPTION);
    const RsaPublicKey publicKey = key.rsaPublicKey();
    EXPECT_EQ(publicKey.modulus.size(), 128u);
    EXPECT_EQ(publicKey.modulus[0] & 0x80, 0x80);
    EXPECT_EQ(publicKey.exponent, 65537u);
    const Bytes signature = cspSign(key, SHA_256);
    EXPECT_NO_THROW(capi::verifyRsaSign(DATA, signature, publicKey, SHA_256));
    EXPECT_THROW(capi::verifyRsaSign(DATA, signature, publicKey, SHA_1), capi::WrongSign);
}

TEST_F(Handles, SignaturesOfLibgcryptVerifyAndTamperedOnesDoNot)
{
    struct Case {
        gostsoft::Curve curve;
        AlgorithmId algorithm;
    };
    const std::vector<Case> cases{
        {gostsoft::Curve::CryptoProA256, GOST_R_3410_2012_256},
        {gostsoft::Curve::Tc26A256, GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
        {gostsoft::Curve::Tc26B512, GOST_R_3410_2012_512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.algorithm.name());
        const gostsoft::Key key = gostsoft::Key::generate(c.curve);
        // libgcrypt gives s||r big-endian; the CSP takes its byte-reverse.
        const Bytes standard = key.sign(DATA);
        const Bytes signature(standard.rbegin(), standard.rend());
        EXPECT_NO_THROW(capi::verifySign(DATA, signature, key.publicKey(), c.algorithm, key.paramSetOid()));

        Bytes otherData = DATA;
        otherData.back() ^= 1;
        EXPECT_THROW(capi::verifySign(otherData, signature, key.publicKey(), c.algorithm, key.paramSetOid()),
                     capi::WrongSign);
        EXPECT_THROW(capi::verifySign(DATA, key.sign(DATA), key.publicKey(), c.algorithm, key.paramSetOid()),
                     capi::WrongSign);
    }
}

TEST_F(Handles, PublicKeyStartingWithTheOidTagIsReadWhole)
{
    // A key whose first octet is the OID tag (06) follows the blob's
    // parameter-set OIDs: it is the key, not a third OID.
    gostsoft::Key key = gostsoft::Key::generate(gostsoft::Curve::Tc26A256);
    while (key.publicKey().front() != 0x06)
        key = gostsoft::Key::generate(gostsoft::Curve::Tc26A256);
    const AlgorithmId algorithm = GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN;
    const capi::Key imported(80, capi::makePublicKeyBlob(key.publicKey(), algorithm, key.paramSetOid()));
    EXPECT_EQ(imported.publicKey(), key.publicKey());
}

TEST_F(Handles, CreatingOnAnAbsentMediumNamesTheMedium)
{
    capi::localization.setLanguage(ENGLISH);
    struct Case {
        std::string alias;
        DWORD error;
        std::string text;
    };
    const std::vector<Case> cases{
        {"\\\\.\\FLASH\\key1", NTE_BAD_KEYSET_PARAM, "Keystore \"FLASH\" is not connected"},
        {"\\\\.\\NOSUCH\\key1", NTE_KEYSET_ENTRY_BAD, "Keystore \"NOSUCH\" is not connected"},
    };
    for (const Case& c : cases) {
        try {
            capi::Key(80, c.alias, GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L"");
            ADD_FAILURE() << "created " << c.alias;
        } catch (const capi::Error& e) {
            EXPECT_EQ(e.code(), c.error);
            EXPECT_EQ(std::string(e.what()), c.text);
        }
    }
    // Opening (not creating) keeps the plain translation.
    try {
        capi::Key("\\\\.\\FLASH\\key1", 80);
        ADD_FAILURE() << "opened";
    } catch (const capi::Error& e) {
        EXPECT_STRNE(e.errorCode(), "CAPI-000023");
    }
    // Once the medium is in, the same name works.
    settings("connected=HDIMAGE,FLASH\n");
    EXPECT_NO_THROW(capi::Key(80, "\\\\.\\FLASH\\key1", GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L""));
}

TEST_F(Handles, AFailedStepOfKeyCreationLeavesNoContainerAndNoHandle)
{
    struct Case {
        std::string rule;
        DWORD error;
        const char* catalogueCode;
    };
    const std::vector<Case> cases{
        {"CryptAcquireContextA nth 1 NTE_TOKEN_KEYSET_STORAGE_FULL", NTE_TOKEN_KEYSET_STORAGE_FULL,
         "CAPI-000026"},
        {"CryptSetProvParam nth 1 NTE_BAD_DATA", NTE_BAD_DATA, "CAPI-000008"},
        {"CryptSetProvParam nth 2 SCARD_W_WRONG_CHV", SCARD_W_WRONG_CHV, "CAPI-000028"},
        {"CryptGenKey nth 1 NTE_FAIL", NTE_FAIL, "CAPI-000017"},
        {"CryptGenKey nth 1 SCARD_W_CANCELLED_BY_USER", SCARD_W_CANCELLED_BY_USER, "CAPI-000030"},
    };
    const std::string alias = "\\\\.\\HDIMAGE\\fault";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        faults(c.rule + "\n");
        try {
            capi::Key(80, alias, GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L"secret");
            ADD_FAILURE() << "created";
        } catch (const capi::Error& e) {
            EXPECT_EQ(e.code(), c.error);
            EXPECT_STREQ(e.errorCode(), c.catalogueCode);
        }
        EXPECT_EQ(csplab::openHandles(), 0);
        EXPECT_TRUE(capi::availableContainers({80}, CRYPT_FQCN).empty());
        faults("");
        // The alias is free again.
        capi::Key(80, alias, GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L"secret");
        capi::Provider::deleteContainer(alias, 80);
    }
}

TEST_F(Handles, DeletedContainerCannotBeOpened)
{
    capi::Key(80, "gone", GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L"");
    EXPECT_NO_THROW(capi::Key("gone", 80));
    capi::Provider::deleteContainer("gone", 80);
    EXPECT_THROW(capi::Key("gone", 80), capi::Error);
}

TEST_F(Handles, FailuresReadTheCspsLastErrorOfThisThread)
{
    faults("CryptGetProvParam nth 1 NTE_SILENT_CONTEXT\n");
    EXPECT_THROW(capi::version(75), capi::SilentContext);
    faults("CryptAcquireContextA nth 1 NTE_PROV_TYPE_NOT_DEF\n");
    EXPECT_THROW(capi::Provider::verifyContext(80), capi::ProvTypeNotDef);
    faults("CryptCreateHash nth 1 NTE_BAD_ALGID\n");
    const capi::Provider provider = capi::Provider::verifyContext(80);
    try {
        capi::Hash(provider.get(), GOST_R_3411_2012_256);
        ADD_FAILURE() << "created";
    } catch (const capi::Error& e) {
        EXPECT_EQ(e.code(), NTE_BAD_ALGID);
        EXPECT_STREQ(e.name(), "NTE_BAD_ALGID");
    }
}

TEST_F(Handles, ContainersOfEachTypeEndAtTheirFirstFailure)
{
    capi::Key(80, "one", GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L"");
    settings("provider-types=80\n");
    // Type 81 is not served: it lists nothing, type 80 still lists its container.
    EXPECT_EQ(capi::availableContainers({81, 80}, CRYPT_FQCN),
              std::vector<std::string>{"\\\\.\\HDIMAGE\\one"});
}

TEST_F(Handles, EnumerationsStopAtTheirBound)
{
    settings("readers=A,B,C\n");
    const capi::Provider provider = capi::Provider::verifyContext(75);
    std::vector<std::string> taken;
    const auto take = [&](std::string name) { taken.push_back(std::move(name)); };
    // A CSP giving more items than the bound (one that never ends) is refused.
    try {
        provider.enumerate(PP_ENUMREADERS, 0, take, 2);
        ADD_FAILURE() << "more items than the bound";
    } catch (const capi::Error& e) {
        EXPECT_EQ(e.code(), NTE_FAIL);
    }
    EXPECT_EQ(taken, (std::vector<std::string>{"A", "B"}));
    taken.clear();
    provider.enumerate(PP_ENUMREADERS, 0, take, 3);
    EXPECT_EQ(taken, (std::vector<std::string>{"A", "B", "C"}));
}

TEST_F(Handles, NamesAndPasswordsWithoutCp1251AreRefused)
{
    // "?" is what the CSP would get for a name or password without CP1251.
    capi::Key(80, "?", GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L"");
    // Refused with the catalogue's errors for a key name and a PIN.
    EXPECT_THROW(capi::Key("\u00e9", 80), InvalidKeyAlias);
    EXPECT_THROW(capi::Provider("\u00e9", 80, CRYPT_VERIFYCONTEXT), InvalidKeyAlias);
    EXPECT_THROW(capi::Provider("\xff\xfe", 80, CRYPT_VERIFYCONTEXT), InvalidKeyAlias);
    EXPECT_THROW(capi::Provider(std::string_view("a\0b", 3), 80, CRYPT_VERIFYCONTEXT), InvalidKeyAlias);
    EXPECT_THROW(capi::Key(80, "\u00e9", GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L""), InvalidKeyAlias);
    EXPECT_THROW(capi::Key(80, "weak", GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L"p\u00e4ss"),
                 InvalidPinCharacter);
    EXPECT_EQ(capi::availableContainers({80}, CRYPT_FQCN), std::vector<std::string>{"\\\\.\\HDIMAGE\\?"});
    // Cyrillic and the euro sign have CP1251 bytes.
    capi::Key(80, "\u043a\u043b\u044e\u0447 \u20ac", GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1",
              L"\u043f\u0430\u0440\u043e\u043b\u044c \u20ac");
    EXPECT_NO_THROW(capi::Key("\u043a\u043b\u044e\u0447 \u20ac", 80));
}

// A self-signed certificate of `key` made by openssl.
Bytes selfSigned(const gostsoft::TempDir& dir, const gostsoft::Key& key)
{
    gostsoft::writeFile(dir.file("key.pem"), key.privateKeyPem());
    const auto made = gostsoft::openssl("req -new -x509 -days 30 -key " + dir.file("key.pem") +
                                        " -subj /CN=CSP -outform DER -out " + dir.file("cert.der"));
    if (made.status != 0)
        throw std::runtime_error("openssl req -x509 failed: " + made.output);
    return gostsoft::readFile(dir.file("cert.der"));
}

TEST_F(Handles, InstalledCertificateIsFoundByItsPublicKeyAndListed)
{
    const gostsoft::TempDir dir;
    const gostsoft::Key owner = gostsoft::Key::generate(gostsoft::Curve::Tc26A256);
    const gostsoft::Key stranger = gostsoft::Key::generate(gostsoft::Curve::Tc26A256);
    const Bytes certificate = selfSigned(dir, owner);
    capi::Key(80, "holder", GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L"");

    capi::installCertificateToSystemStore(80, "holder", AT_KEYEXCHANGE, certificate);
    // Installing again replaces it: still one certificate.
    capi::installCertificateToSystemStore(80, "holder", AT_KEYEXCHANGE, certificate);

    const capi::CertStore store(L"MY");
    EXPECT_EQ(store.findCertificate(owner.subjectPublicKeyInfo()), certificate);
    EXPECT_EQ(store.findCertificate(owner.subjectPublicKeyInfo(false)), certificate);
    EXPECT_TRUE(store.findCertificate(stranger.subjectPublicKeyInfo()).empty());
    EXPECT_EQ(capi::CertContext::enumCertificatesInStore(store), std::vector<Bytes>{certificate});
    EXPECT_EQ(capi::CertContext(certificate).encoded(), certificate);
}

TEST_F(Handles, CertificateFailuresAreTranslated)
{
    // The CSP's ASN.1 values become the decoding error.
    EXPECT_THROW(capi::CertContext(Bytes{0x30, 0x03, 0x02, 0x01}), Asn1DecodingError);
    EXPECT_THROW(capi::installCertificateToSystemStore(80, "holder", AT_KEYEXCHANGE, {}),
                 std::invalid_argument);
    const capi::CertStore store(L"MY");
    EXPECT_THROW(store.findCertificate({0x30, 0x00}), std::exception);
    faults("CertOpenStore nth 1 ERROR_ACCESS_DENIED\n");
    try {
        capi::CertStore denied(L"MY");
        ADD_FAILURE() << "opened";
    } catch (const capi::Error& e) {
        EXPECT_EQ(e.code(), ERROR_ACCESS_DENIED);
        EXPECT_STREQ(e.errorCode(), "CAPI-000031");
    }
}

TEST_F(Handles, MessageVerificationRefusalsOfTheCspAreTranslated)
{
    // The lab's CSP leaves CMS to the library and refuses both calls.
    constexpr DWORD NOT_SUPPORTED = 0x80090029;
    const Bytes cms{0x30, 0x03, 0x06, 0x01, 0x00};
    for (auto verify : {+[](const Bytes& m) { capi::verifyMessageSignature(m); },
                        +[](const Bytes& m) { capi::verifyDetachedMessageSignature(m, DATA); }}) {
        try {
            verify(cms);
            ADD_FAILURE() << "verified";
        } catch (const capi::Error& e) {
            EXPECT_EQ(e.code(), NOT_SUPPORTED);
            EXPECT_STREQ(e.name(), "NTE_NOT_SUPPORTED");
            EXPECT_STREQ(e.errorCode(), "CAPI-000017");
        }
    }
    EXPECT_THROW(capi::verifyDetachedMessageSignature(cms, {}), std::invalid_argument);
}

TEST_F(Handles, OwnersMoveTheirHandleAndReleaseItOnce)
{
    capi::Key first(80, "moved", GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1", L"");
    const HCRYPTKEY handle = first.get();
    capi::Key second(std::move(first));
    EXPECT_EQ(first.get(), 0u);
    EXPECT_EQ(second.get(), handle);
    capi::Key third("moved", 80);
    third = std::move(second); // the key third held goes back now
    EXPECT_EQ(third.get(), handle);
    EXPECT_EQ(csplab::openHandles(), 2); // one key and its provider

    capi::Provider provider = capi::Provider::verifyContext(80);
    capi::Hash hash(provider.get(), GOST_R_3411_2012_256);
    capi::Hash movedHash(std::move(hash));
    capi::CertStore store(L"MY");
    capi::CertStore movedStore(std::move(store));
    EXPECT_EQ(csplab::openHandles(), 5);
}

} // namespace
