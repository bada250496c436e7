// The provider with the lab's CSP (and no PC/SC service): detection, version
// and container list, a key made in a new container, an existing container
// selected, signatures and CMS checked by openssl, the certificate, the CSP's
// verification, and deleting the key. Also the provider on a machine whose
// CSP folder is empty or holds a CSP without one of its entry points, and the
// CSP's first use from several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capi/crypto_pro_container.h"
#include "capi/csp_engines.h"
#include "capi/functions.h"
#include "capi/wrapper.h"
#include "container/container_lab.h"
#include "cryptoprovider/provider/engine_factory.h"
#include "csp_lab.h"
#include "provider_fixture.h"

namespace
{

using containerlab::Bytes;
using providertest::codeOf;

const Bytes DATA{'i', 'n', 'v', 'o', 'i', 'c', 'e', ' ', '4', '2'};
const std::string FULL_NAME = "\\\\.\\HDIMAGE\\bank key";

KeyInfo newKey(const std::string& alias)
{
    KeyInfo key;
    key.alias = alias;
    key.signAlgorithmOid = GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN.oid().toString();
    key.algParamsOid = std::string(tc26_gost_3410::paramSetA_256);
    key.cryptoType = "cryptopro";
    return key;
}

std::string messageOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

class CspProvider : public csplab::CspLab
{
  protected:
    // The provider with a new container holding a key made as FULL_NAME.
    void makeKey()
    {
        provider.selectKeyStore(KeyStoreType::CryptoProContainer, "", true);
        provider.createNewKey(newKey(FULL_NAME), L"");
    }

    // The provider's stores give their keys' handles back before the count.
    void TearDown() override
    {
        provider.clearCache();
        CspLab::TearDown();
    }

    CryptoProviderRU provider;
};

TEST_F(CspProvider, DetectionVersionAndContainers)
{
    EXPECT_EQ(provider.availableCrypto({}), std::vector<std::string>{"cryptopro"});
    EXPECT_EQ(provider.availableCrypto({"rutoken_2", "cryptopro"}), std::vector<std::string>{"cryptopro"});
    EXPECT_TRUE(provider.availableCrypto({"rutoken_2"}).empty());
    EXPECT_EQ(provider.cryptoTypeVersion("cryptopro"), "5.0");
    settings("version=4.7\n");
    EXPECT_EQ(provider.cryptoTypeVersion("cryptopro"), "4.7");

    EXPECT_TRUE(provider.keyStoreList(KeyStoreType::CryptoProContainer).empty());
    makeKey();
    CryptoProContainer().createNewKey("second", 0, GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN,
                                      std::string(tc26_gost_3410::paramSetA_512), "cryptopro", L"");
    auto names = provider.keyStoreList(KeyStoreType::CryptoProContainer);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{FULL_NAME, "\\\\.\\HDIMAGE\\second"}));
}

TEST_F(CspProvider, NewContainerTakesItsUniqueNameAndSelectsItsKey)
{
    provider.selectKeyStore(KeyStoreType::CryptoProContainer, "ignored", true);
    const std::string newId = provider.getKeyStoreId();
    EXPECT_TRUE(std::regex_match(newId, std::regex("[0-9A-F]{32}"))) << newId;
    const KeyStoreInfo info = provider.getKeyStoreInfo();
    EXPECT_EQ(info.type, 2);
    EXPECT_EQ(info.cryptoType, "cryptopro");
    EXPECT_FALSE(info.loginRequired);
    EXPECT_TRUE(provider.getKeys().empty());

    provider.createNewKey(newKey(FULL_NAME), L"secret");
    const std::string uniqueName = CryptoProContainer(FULL_NAME).id();
    EXPECT_EQ(provider.getKeyStoreId(), uniqueName);
    EXPECT_EQ(provider.getKeyStoreInfo().id, uniqueName);
    const KeyInfo key = provider.getKeyInfo();
    EXPECT_EQ(key.alias, FULL_NAME);
    EXPECT_EQ(key.algParamsOid, tc26_gost_3410::paramSetA_256);
    EXPECT_EQ(key.cryptoType, "cryptopro");
    EXPECT_FALSE(key.loginRequired);
    EXPECT_EQ(provider.keyStoreList(KeyStoreType::CryptoProContainer), std::vector<std::string>{FULL_NAME});

    // Selected again by the id it reports.
    provider.forgetKeyStore();
    provider.selectKeyStore(KeyStoreType::CryptoProContainer, uniqueName, false);
    EXPECT_EQ(provider.getKeyInfo().alias, FULL_NAME);
}

TEST_F(CspProvider, ExistingContainerSelectsItsKeyAndTakesNoOther)
{
    makeKey();
    CryptoProviderRU other;
    other.selectKeyStore(KeyStoreType::CryptoProContainer, FULL_NAME, false);
    EXPECT_EQ(other.getKeyStoreId(), provider.getKeyStoreId());
    EXPECT_EQ(other.getKeyInfo().alias, FULL_NAME);
    EXPECT_EQ(messageOf([&] { other.createNewKey(newKey("another"), L""); }),
              cp::localization.get("CP-012002"));
    EXPECT_EQ(other.getPublicKey(false), provider.getPublicKey(false));

    EXPECT_EQ(codeOf([&] { other.selectKeyStore(KeyStoreType::CryptoProContainer, "missing", false); }),
              "CP-008005");
    other.selectKeyStore(KeyStoreType::CryptoProContainer, "", true);
    EXPECT_EQ(codeOf([&] { other.createNewKey(newKey("\\\\.\\HDIMAGE\\ключ"), L""); }), "CP-008058");
    // A new container may not take an existing one's name; that one stays.
    EXPECT_EQ(codeOf([&] { other.createNewKey(newKey(FULL_NAME), L""); }), "CAPI-000025");
    EXPECT_EQ(CryptoProviderRU().keyStoreList(KeyStoreType::CryptoProContainer),
              std::vector<std::string>{FULL_NAME});
    EXPECT_EQ(provider.getPublicKey(false),
              CryptoProContainer(FULL_NAME).publicKey(CryptoProContainer(FULL_NAME).key(), Endian::Big));
}

TEST_F(CspProvider, SignaturesCertificateAndVerification)
{
    containerlab::TestCa ca;
    makeKey();
    const Bytes spki = provider.getSubjectPublicKeyInfo().derEncoding();
    const Bytes digest = containerlab::gcryptDigest(GCRY_MD_STRIBOG256, DATA);
    const std::string algorithm = GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN.oid().toString();
    const std::string params(tc26_gost_3410::paramSetA_256);

    const Bytes signature = provider.rawSign({DATA}, false, {}).at(0);
    EXPECT_TRUE(containerlab::opensslAccepts(spki, digest, signature));
    const PublicKey publicKey = provider.getPublicKey(false);
    EXPECT_TRUE(provider.verifyRawSign(DATA, signature, publicKey, algorithm, params, "cryptopro", false));
    Bytes tampered = signature;
    tampered[3] ^= 0x10;
    EXPECT_FALSE(provider.verifyRawSign(DATA, tampered, publicKey, algorithm, params, "cryptopro", false));

    // The key's own request, issued by the test CA, imported and used in CMS.
    SubjectDN subject;
    subject.commonName = "Bank client";
    subject.countryName = "RU";
    Extensions extensions;
    const Bytes certificate = ca.issue(provider.createPkcs10(subject, extensions, true, AlgorithmId()));
    EXPECT_EQ(provider.importCertificate(certificate, CERT_USER), X509::DEFAULT_CERT_ID);
    EXPECT_EQ(provider.getCertificate().data(), certificate);
    EXPECT_EQ(capi::CertStore(L"MY").findCertificate(spki), certificate);
    CryptoProviderRU fresh;
    fresh.selectKeyStore(KeyStoreType::CryptoProContainer, FULL_NAME, false);
    EXPECT_EQ(fresh.getCertificate().data(), certificate);

    DataForSign item;
    item.data = DATA;
    item.withCertificates = true;
    item.addSigningCertificate = true;
    item.addSigningTime = true;
    const auto& signer = ca.signer();
    for (const bool attached : {true, false}) {
        item.attached = attached;
        const Bytes cms = fresh.cmsSign({item}, false).at(0);
        gostsoft::writeFile(signer.dir.file("m.p7s"), cms);
        gostsoft::writeFile(signer.dir.file("data.bin"), DATA);
        const auto verified =
            gostsoft::openssl("cms -verify -cades -binary -inform DER -in " + signer.dir.file("m.p7s") +
                              (attached ? std::string() : " -content " + signer.dir.file("data.bin")) +
                              " -CAfile " + ca.certificateFile() + " -out " + signer.dir.file("out.bin"));
        EXPECT_EQ(verified.status, 0) << verified.output;
        EXPECT_EQ(gostsoft::readFile(signer.dir.file("out.bin")), DATA);
        EXPECT_TRUE(fresh.verifyDetachedSign(DATA, cms, "cryptopro", false, publicKey, params));
    }
}

TEST_F(CspProvider, ThreadsSignAndListWithOneContainerAtOnce)
{
    makeKey();
    const Bytes spki = provider.getSubjectPublicKeyInfo().derEncoding();
    constexpr int THREADS = 4;
    std::vector<Bytes> signatures(THREADS);
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < THREADS; ++i) {
            threads.emplace_back([&, i] {
                for (int round = 0; round < 5; ++round) {
                    provider.getKeys(); // reads the key again while others sign with it
                    signatures[i] = provider.rawSign({DATA}, false, {}).at(0);
                }
            });
        }
    }
    const Bytes digest = containerlab::gcryptDigest(GCRY_MD_STRIBOG256, DATA);
    for (const Bytes& signature : signatures) {
        EXPECT_TRUE(containerlab::opensslAccepts(spki, digest, signature));
    }
}

TEST_F(CspProvider, DeletingTheKeyDeletesTheContainerAndForgetsIt)
{
    makeKey();
    provider.deleteKey();
    EXPECT_EQ(provider.getKeyStoreId(), "");
    EXPECT_TRUE(provider.keyStoreList(KeyStoreType::CryptoProContainer).empty());
    EXPECT_EQ(codeOf([&] { provider.selectKeyStore(KeyStoreType::CryptoProContainer, FULL_NAME, false); }),
              "CP-008005");
}

TEST_F(CspProvider, EnginesOfTheCsp)
{
    provider.initDigestEngine("cryptopro");
    EXPECT_EQ(provider.digestEngine()->digest(DATA, GOST_R_3411_2012_512, Endian::Big, ""),
              containerlab::gcryptDigest(GCRY_MD_STRIBOG512, DATA));
    EXPECT_NE(std::dynamic_pointer_cast<capi::VerifySignCryptoApi>(getVerifySignEngineSoftware("cryptopro")),
              nullptr);
    for (const char* other : {"signalcom", "vipnet", "microsoft"}) {
        EXPECT_THROW(getDigestEngine(other), FunctionNotImplemented) << other;
        EXPECT_THROW(getVerifySignEngineSoftware(other), FunctionNotImplemented) << other;
    }
}

// Run with ORMID_CSP_DIR naming a folder without a CSP, or a CSP one of
// whose libraries lacks an entry point: detection leaves the CSP out, and
// what needs it says it is not installed.
TEST(NoCsp, DetectionLeavesItOutAndItsUsesSayItIsNotInstalled)
{
    CryptoProviderRU provider;
    EXPECT_TRUE(provider.availableCrypto({}).empty());
    EXPECT_EQ(provider.cryptoTypeVersion("cryptopro"), "null");
    EXPECT_EQ(codeOf([&] { provider.keyStoreList(KeyStoreType::CryptoProContainer); }), "CP-008048");
    EXPECT_EQ(codeOf([&] { provider.selectKeyStore(KeyStoreType::CryptoProContainer, "", true); }),
              "CP-008048");
    EXPECT_EQ(codeOf([&] { provider.selectKeyStore(KeyStoreType::CryptoProContainer, "c", false); }),
              "CP-008048");
    EXPECT_EQ(codeOf([&] { provider.initDigestEngine("cryptopro"); }), "CP-008048");
    EXPECT_THROW(CryptoProContainer::checkInstalled(), CryptoProCSPLoadError);
}

// Run first in its process: the CSP is loaded by the threads that meet it at
// once.
TEST_F(CspProvider, FirstUseFromSeveralThreads)
{
    constexpr int THREADS = 8;
    std::vector<std::vector<std::string>> found(THREADS);
    std::vector<std::shared_ptr<capi::Wrapper>> loaded(THREADS);
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < THREADS; ++i) {
            threads.emplace_back([&, i] {
                found[i] = CryptoProviderRU().availableCrypto({});
                loaded[i] = capi::Wrapper::instance();
            });
        }
    }
    for (int i = 0; i < THREADS; ++i) {
        EXPECT_EQ(found[i], std::vector<std::string>{"cryptopro"}) << i;
        EXPECT_EQ(loaded[i], loaded[0]) << i;
    }
}

} // namespace
