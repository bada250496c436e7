// CSP containers on the lab's CSP: a new container and its key, opening
// existing containers, the refusals, signatures checked by openssl and by
// the CSP itself, the key's certificate in the container and in "MY", and
// deleting the container.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/errors.h"
#include "capi/crypto_pro_container.h"
#include "capi/csp_engines.h"
#include "capi/errors.h"
#include "capi/functions.h"
#include "container_lab.h"
#include "cryptoprovider/core/gost_algorithms.h"
#include "cryptoprovider/core/cms_assembly.h"
#include "cryptoprovider/core/errors.h"
#include "csp_lab.h"
#include "x509/errors.h"

namespace
{

using containerlab::Bytes;
using containerlab::KeyKind;
using csplab::CspLab;

const Bytes ORDER{'o', 'r', 'd', 'e', 'r', ' ', '1', '7'};
using containerlab::TC26_A;

class Containers : public CspLab
{
  protected:
    // A new container with a key of `kind`, created as `alias`.
    static std::shared_ptr<CryptoProContainer> created(const std::string& alias, const AlgorithmId& algorithm,
                                                       const std::string& paramsOid)
    {
        auto store = std::make_shared<CryptoProContainer>();
        store->createNewKey(alias, 0, algorithm, paramsOid, "cryptopro", L"");
        return store;
    }

    static std::vector<std::string> containers()
    {
        return capi::availableContainers({75, 80, 81}, CRYPT_FQCN);
    }
};

TEST_F(Containers, NewContainerTakesTheCspsUniqueNameWithItsKey)
{
    CryptoProContainer store;
    EXPECT_TRUE(std::regex_match(store.id(), std::regex("[0-9A-F]{32}"))) << store.id();
    EXPECT_TRUE(store.isNew());
    EXPECT_THROW(store.containerId(), KeyNotFound);
    EXPECT_TRUE(store.getKeysList().empty());
    EXPECT_NE(CryptoProContainer().id(), store.id());

    const auto made =
        store.createNewKey("\\\\.\\HDIMAGE\\payments", 0, GOST256, TC26_A, "cryptopro", L"secret");
    EXPECT_FALSE(store.isNew());
    EXPECT_EQ(store.provType(), 80);
    EXPECT_EQ(containers(), std::vector<std::string>{"\\\\.\\HDIMAGE\\payments"});
    // The id is the unique name the CSP gives the container.
    const CryptoProContainer opened("\\\\.\\HDIMAGE\\payments");
    EXPECT_EQ(store.id(), opened.id());
    EXPECT_EQ(store.containerId(), store.id());
    EXPECT_TRUE(store.id().starts_with("HDIMAGE\\")) << store.id();

    const auto keys = store.getKeys();
    ASSERT_EQ(keys.size(), 1u);
    const auto& key = keys.begin()->second;
    EXPECT_EQ(key, made);
    EXPECT_EQ(key->alias(), "\\\\.\\HDIMAGE\\payments");
    EXPECT_EQ(key->signAlgorithm(), GOST256);
    EXPECT_EQ(key->digestAlgorithm(), GOST_R_3411_2012_256);
    EXPECT_EQ(key->algParamsOid(), TC26_A);
    EXPECT_EQ(key->cryptoType(), "cryptopro");
    EXPECT_TRUE(key->x509().empty());
    EXPECT_EQ(capi::getKeySpec(key), AT_KEYEXCHANGE);
    EXPECT_EQ(store.key(), key);
    EXPECT_EQ(store.findKeyByCertificate({0x01}, true), key);
}

TEST_F(Containers, OpeningAContainerByAnyOfItsNamesGivesItsKey)
{
    const auto made = created("ключ", GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN,
                              std::string(tc26_gost_3410::paramSetB_512));
    const Bytes publicKey = made->getPublicKey(made->key());
    // A bare name lives on HDIMAGE; names are CP1251 to the CSP, UTF-8 here.
    ASSERT_EQ(containers(), std::vector<std::string>{"\\\\.\\HDIMAGE\\ключ"});
    for (const std::string& name : {std::string("\\\\.\\HDIMAGE\\ключ"), std::string("ключ"), made->id()}) {
        CryptoProContainer store(name);
        EXPECT_EQ(store.id(), made->id()) << name;
        EXPECT_FALSE(store.isNew());
        const auto keys = store.getKeysList();
        ASSERT_EQ(keys.size(), 1u) << name;
        const auto& key = keys.begin()->second;
        EXPECT_EQ(key->alias(), "ключ");
        EXPECT_EQ(key->signAlgorithm(), GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN);
        EXPECT_EQ(key->algParamsOid(), tc26_gost_3410::paramSetB_512);
        EXPECT_EQ(store.getPublicKey(key), publicKey);
    }
    // The CSP's default container stands for an empty name.
    EXPECT_THROW(CryptoProContainer(""), KeyStoreNotSelected);
    const auto byDefault = created("default", GOST256, TC26_A);
    settings("default-container=\\\\.\\HDIMAGE\\default\n");
    EXPECT_EQ(CryptoProContainer("").id(), byDefault->id());
}

TEST_F(Containers, Refusals)
{
    const auto existing = created("kept", GOST256, TC26_A);
    const Bytes publicKey = existing->getPublicKey(existing->key());

    // An existing container takes no second key, and keeps the one it has.
    CryptoProContainer opened("kept");
    try {
        opened.createNewKey("other", 0, GOST256, TC26_A, "cryptopro", L"");
        ADD_FAILURE() << "a key made in an existing container";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), cp::localization.get("CP-012002"));
    }
    // A new container may not take the name of an existing one.
    CryptoProContainer fresh;
    try {
        fresh.createNewKey("kept", 0, GOST256, TC26_A, "cryptopro", L"");
        ADD_FAILURE() << "a second container of one name";
    } catch (const capi::Error& e) {
        EXPECT_EQ(e.code(), NTE_EXISTS);
    }
    EXPECT_TRUE(fresh.isNew());
    EXPECT_EQ(containers(), std::vector<std::string>{"\\\\.\\HDIMAGE\\kept"});
    EXPECT_EQ(CryptoProContainer("kept").getPublicKey(opened.key()), publicKey);

    // Cyrillic with HDIMAGE is refused before the CSP is asked.
    EXPECT_THROW(fresh.createNewKey("\\\\.\\HDIMAGE\\ключ", 0, GOST256, TC26_A, "cryptopro", L""),
                 KeyAliasContainCyrillic);
    // A medium that is not connected.
    try {
        fresh.createNewKey("\\\\.\\FLASH\\key1", 0, GOST256, TC26_A, "cryptopro", L"");
        ADD_FAILURE() << "a key on a medium that is not there";
    } catch (const capi::Error& e) {
        EXPECT_EQ(std::string(e.what()), bs::message(capi::localization, "CAPI-000023", "FLASH"));
    }
    EXPECT_THROW(fresh.createNewKey("rsa", 0, RSA_ENCRYPTION, "", "cryptopro", L""), UnsupportedAlgorithm);
    EXPECT_THROW(fresh.createNewRsaKey("rsa", 0, L"", 2048), UnsupportedAlgorithm);
    EXPECT_TRUE(fresh.isNew());
    EXPECT_EQ(containers().size(), 1u);

    // Unknown names, and what the CSP does by itself.
    EXPECT_THROW(CryptoProContainer("missing"), KeyStoreNotSelected);
    for (const auto& call :
         std::vector<std::function<void()>>{[&] { opened.setPin(L"1"); }, [&] { opened.changePin(L"1"); },
                                            [&] { opened.setKeyPassword(opened.key(), L"1"); },
                                            [&] { opened.setKeyExternalId(opened.key(), 5); },
                                            [&] { opened.changeKeyAlias(opened.key(), "x"); },
                                            [&] { opened.changeKeyPass(opened.key(), L"1"); },
                                            [&] { opened.importCertificate({1}, CERT_AUTHORITY); },
                                            [&] { opened.deleteCertificate({1}, CERT_USER); },
                                            [&] { opened.deleteUserCertificate(opened.key()); }}) {
        EXPECT_THROW(call(), FunctionNotImplemented);
    }
    EXPECT_TRUE(opened.isPinSet());
    EXPECT_TRUE(opened.isKeyPasswordSet(opened.key()));
    EXPECT_THROW(capi::cspKey(std::make_shared<KeyRecord>("x", GOST256, TC26_A, "cryptopro", X509())),
                 std::logic_error);
}

TEST_F(Containers, SignaturesVerifyWithOpensslAndTheCsp)
{
    for (const KeyKind& kind : containerlab::keyKinds()) {
        SCOPED_TRACE(kind.name);
        const auto store = created(std::string("key ") + kind.name, kind.algorithm, kind.paramsOid);
        const auto key = store->key();
        const Bytes spki = store->getSubjectPublicKeyInfo(key).derEncoding();
        const Bytes certificateKey = store->publicKey(key, Endian::Big).gostKey();
        const Bytes digest = containerlab::gcryptDigest(kind.digest, ORDER);

        // r||s with each half big-endian, as every key store gives them: the
        // CSP's little-endian halves reversed one by one.
        const auto signatures = store->sign(key, {ORDER, ORDER}, false);
        ASSERT_EQ(signatures.size(), 2u);
        EXPECT_NE(signatures[0], signatures[1]);
        for (const Bytes& signature : signatures) {
            EXPECT_TRUE(containerlab::opensslAccepts(spki, digest, swapSignatureHalves(signature)));
            EXPECT_NO_THROW(capi::verifySign(ORDER, reverseHalves(signature), certificateKey, kind.algorithm,
                                             kind.paramsOid));
        }
        EXPECT_THROW(capi::verifySign(ORDER, signatures[0], certificateKey, kind.algorithm, kind.paramsOid),
                     capi::WrongSign);

        // What callers get: s||r as certificates and openssl write it; in
        // legacy-bank mode r||s as the store gave it.
        const Bytes raw = store->rawSign(key, {ORDER}, false, {}).at(0);
        EXPECT_TRUE(containerlab::opensslAccepts(spki, digest, raw));
        EXPECT_FALSE(containerlab::opensslAccepts(spki, digest, swapSignatureHalves(raw)));
        EXPECT_TRUE(store->verifySign(ORDER, swapSignatureHalves(raw), reverseHalves(certificateKey),
                                      kind.algorithm, kind.paramsOid, false));
        EXPECT_FALSE(store->verifySign(ORDER, raw, reverseHalves(certificateKey), kind.algorithm,
                                       kind.paramsOid, false));
        if (!isGost34102001(kind.algorithm)) {
            const Bytes legacy = store->rawSign(key, {ORDER}, true, {}).at(0);
            EXPECT_TRUE(containerlab::opensslAccepts(spki, digest, swapSignatureHalves(legacy)));
        }
    }
}

TEST_F(Containers, LegacyBankModeHashesGost94WithTheTestParameters)
{
    const auto store = created("legacy", GOST_R_3410_2001_GOST_R_3411_1994, std::string(crypto_pro_param::A));
    const auto key = store->key();
    const Bytes signature = swapSignatureHalves(store->rawSign(key, {ORDER}, true, {}).at(0));
    const Bytes spki = store->getSubjectPublicKeyInfo(key).derEncoding();
    EXPECT_TRUE(containerlab::opensslAccepts(spki, containerlab::gcryptDigest(GCRY_MD_GOSTR3411_94, ORDER),
                                             signature));
    EXPECT_FALSE(containerlab::opensslAccepts(spki, containerlab::gcryptDigest(GCRY_MD_GOSTR3411_CP, ORDER),
                                              signature));
}

// A container of a CSP that makes RSA keys in type 24 contexts (this
// library's own CSP container takes GOST keys only).
class RsaContainer : public CryptoProContainer
{
  public:
    capi::PROV_TYPE providerTypeByAlgorithm(const AlgorithmId& algorithm) const override
    {
        return algorithm.isRsa() ? PROV_RSA_AES : CryptoProContainer::providerTypeByAlgorithm(algorithm);
    }
};

TEST_F(Containers, RsaKeysSignWithTheDigestAskedFor)
{
    const auto store = std::make_shared<RsaContainer>();
    store->createNewRsaKey("rsa", 0, L"", 2048);
    const auto key = store->key();
    EXPECT_EQ(key->signAlgorithm(), RSA_ENCRYPTION);
    EXPECT_EQ(key->algParamsOid(), "");
    const RsaPublicKey publicKey = store->getRsaPublicKey(key);
    EXPECT_EQ(publicKey.modulus.size(), 256u);
    const Bytes spki = store->getSubjectPublicKeyInfo(key).derEncoding();
    const gostsoft::TempDir dir;
    capi::VerifySignCryptoApi engine(std::make_shared<capi::DigestCryptoApi>());
    struct Case {
        AlgorithmId algorithm;
        std::string name;
        int gcrypt;
    };
    for (const Case& c : {Case{SHA_256, "sha256", GCRY_MD_SHA256}, Case{SHA_512, "sha512", GCRY_MD_SHA512}}) {
        SCOPED_TRACE(c.name);
        const auto opensslAccepts = [&](const Bytes& data, const Bytes& signature) {
            const auto checked =
                gostsoft::opensslVerify(dir, c.name, spki, containerlab::gcryptDigest(c.gcrypt, data),
                                        signature, "-pkeyopt digest:" + c.name);
            return checked.output.find("Signature Verified Successfully") != std::string::npos;
        };
        const Bytes signature = store->rawSign(key, {ORDER}, false, {c.algorithm}).at(0);
        EXPECT_TRUE(opensslAccepts(ORDER, signature));
        EXPECT_TRUE(engine.verifyRsaSign(ORDER, signature, publicKey, c.algorithm));
        EXPECT_FALSE(engine.verifyRsaSign(Bytes{'x'}, signature, publicKey, c.algorithm));

        // In CMS the digest is the one the message-digest attribute's length names.
        DataForSign item;
        item.data = ORDER;
        item.shaDigestAlgorithm = c.algorithm;
        AttachedContents none;
        const auto attributes =
            generateSignedAttributes(store, {item}, X509(), key->digestAlgorithm(), {}, false, none);
        const SignerInfo signer = store->cmsSign(key, attributes, false).at(0).signerInfos().at(0);
        EXPECT_EQ(signer.digestAlgorithmId(), c.algorithm);
        EXPECT_TRUE(opensslAccepts(attributes.at(0).derEncoding(),
                                   signer.signature(pkcs7::Format::SerialWithIssuer)));
    }
}

TEST_F(Containers, TheKeysCertificateIsKeptWithTheKeyAndInMy)
{
    containerlab::TestCa ca;
    const auto store = created("certified", GOST256, TC26_A);
    const auto key = store->key();
    EXPECT_THROW(store->findCertificateByKey(key), CertificateNotFound);
    EXPECT_TRUE(store->certificateList(CERT_USER).empty());

    const Bytes der = ca.issue(*store, key, "Certified");
    EXPECT_EQ(store->importUserCertificate(key, der), X509::DEFAULT_CERT_ID);
    const Bytes spki = store->getSubjectPublicKeyInfo(key).derEncoding();
    EXPECT_EQ(capi::CertStore(L"MY").findCertificate(spki), der);

    CryptoProContainer reopened("certified");
    const auto reread = reopened.key();
    EXPECT_EQ(reread->x509().data(), der);
    EXPECT_EQ(reread->x509().id(), X509::DEFAULT_CERT_ID);
    EXPECT_EQ(reopened.findCertificateByKey(reread).data(), der);
    ASSERT_EQ(reopened.certificateList(CERT_USER).size(), 1u);
    EXPECT_TRUE(reopened.certificateList(CERT_AUTHORITY).empty());

    // A key whose certificate is only in "MY" finds it there by its public key.
    const auto other = created("other", GOST256, TC26_A);
    const Bytes otherDer = ca.issue(*other, other->key(), "Other");
    capi::installCertificateToSystemStore(80, other->id(), AT_KEYEXCHANGE, otherDer);
    EXPECT_EQ(CryptoProContainer("other").key()->x509().data(), otherDer);

    // A certificate of another key is refused by the CSP.
    EXPECT_THROW(store->importUserCertificate(key, otherDer), capi::Error);
}

TEST_F(Containers, DeletingTheKeyDeletesTheContainer)
{
    const auto store = created("short-lived", GOST256, TC26_A);
    const auto key = store->key();
    created("stays", GOST256, TC26_A);
    store->deleteKey(key);
    EXPECT_TRUE(store->getKeys().empty());
    EXPECT_EQ(containers(), std::vector<std::string>{"\\\\.\\HDIMAGE\\stays"});
    EXPECT_THROW(CryptoProContainer("short-lived"), KeyStoreNotSelected);
}

TEST_F(Containers, EntryPoints)
{
    for (const char* cryptoType : {"cryptopro", "signalcom", "microsoft", "vipnet"}) {
        EXPECT_TRUE(capi::isCspCryptoType(cryptoType)) << cryptoType;
    }
    for (const char* cryptoType : {"", "CryptoPro", "angara", "rutoken_2"}) {
        EXPECT_FALSE(capi::isCspCryptoType(cryptoType)) << cryptoType;
    }
    EXPECT_NO_THROW(capi::checkCspInstalled("cryptopro"));
    EXPECT_THROW(capi::checkCspInstalled("signalcom"), FunctionNotImplemented);

    created("existing", GOST256, TC26_A);
    const auto fresh = capi::getKeyStore(KeyStoreType::CryptoProContainer, "existing", true);
    EXPECT_TRUE(std::dynamic_pointer_cast<CryptoProContainer>(fresh)->isNew());
    const auto opened = capi::getKeyStore(KeyStoreType::CryptoProContainer, "existing", false);
    EXPECT_EQ(opened->type(), KeyStoreType::CryptoProContainer);
    EXPECT_EQ(opened->cryptoType(), "cryptopro");
    EXPECT_EQ(opened->getKeysList().size(), 1u);
    EXPECT_THROW(capi::getKeyStore(KeyStoreType::HardwareDevice, "existing", false), KeyStoreNotSelected);
}

TEST_F(Containers, AForeignCspIsNotTaken)
{
    settings("vendor=Other-Maker\n");
    EXPECT_THROW(CryptoProContainer::checkInstalled(), CryptoProCSPLoadError);
    EXPECT_THROW(CryptoProContainer(), CryptoProCSPLoadError);
    settings("provider-types=80,81\n");
    EXPECT_THROW(CryptoProContainer::checkInstalled(), CryptoProCSPLoadError);
}

} // namespace
