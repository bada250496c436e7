// The provider's key-store, key, certificate and signing logic on a software
// key store (no device): selection, key changes and their checks, the
// certificate-to-key check, and CMS signing checked by openssl.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/strings.h"
#include "pkcs7/gost_fixture.h"
#include "provider_fixture.h"

namespace
{

using cmstest::GostSigner;
using providertest::codeOf;
using providertest::ProviderStore;
using providertest::TestProvider;

class ProviderOnStore : public ::testing::Test
{
  protected:
    ProviderOnStore() : signer(gostsoft::Curve::Tc26A256), other(gostsoft::Curve::Tc26A256)
    {
        store->setId("soft-store");
        store->addDeviceKey("beta", keyOf(signer));
        store->addDeviceKey("alpha", keyOf(other));
        provider.cacheKeyStore(store);
    }

    static std::shared_ptr<const gostsoft::Key> keyOf(GostSigner& owner)
    {
        // The signer keeps its key; the store gets a view of it.
        return std::shared_ptr<const gostsoft::Key>(std::shared_ptr<void>(), &owner.key);
    }

    void select() { provider.selectKeyStore(KeyStoreType::CryptoProContainer, "soft-store", false); }

    GostSigner signer; // the key "beta", with an openssl certificate
    GostSigner other;  // the key "alpha"
    std::shared_ptr<ProviderStore> store = std::make_shared<ProviderStore>();
    TestProvider provider;
};

TEST_F(ProviderOnStore, SelectionPicksTheFirstKeyAndForgettingDropsBoth)
{
    EXPECT_EQ(provider.getKeyStoreId(), "");
    EXPECT_EQ(codeOf([&] { provider.getKeyStoreInfo(); }), "CP-008005");
    select();
    EXPECT_EQ(provider.getKeyStoreId(), "soft-store");
    EXPECT_EQ(provider.getKeyInfo().alias, "alpha");

    const KeyStoreInfo info = provider.getKeyStoreInfo();
    EXPECT_EQ(info.type, 2);
    EXPECT_EQ(info.id, "soft-store");
    EXPECT_EQ(info.cryptoType, "rutoken_2");
    EXPECT_EQ(info.cryptoName, "СКЗИ \"Рутокен ЭЦП 2.0\"");
    EXPECT_EQ(info.chipType, ""); // not a device in a reader
    EXPECT_FALSE(info.loginRequired);

    const KeyInfo beta = provider.setKey("  beta \t");
    EXPECT_EQ(beta.alias, "beta");
    EXPECT_EQ(beta.signAlgorithmOid, "1.2.643.7.1.1.3.2");
    EXPECT_EQ(beta.digestAlgorithmOid, "1.2.643.7.1.1.2.2");
    EXPECT_EQ(beta.algParamsOid, "1.2.643.7.1.2.1.1.1");
    EXPECT_EQ(provider.getKeyInfo().alias, "beta");
    EXPECT_EQ(codeOf([&] { provider.setKey("gamma"); }), "CP-008017");
    EXPECT_EQ(provider.getKeyInfo().alias, "beta");

    const auto keys = provider.getKeys();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].alias, "alpha");
    EXPECT_EQ(keys[1].alias, "beta");

    provider.forgetKey();
    EXPECT_EQ(codeOf([&] { provider.getKeyInfo(); }), "CP-008016");
    provider.setKey("beta");
    provider.forgetKeyStore();
    EXPECT_EQ(provider.getKeyStoreId(), "");
    EXPECT_EQ(codeOf([&] { provider.getKeyInfo(); }), "CP-008005");
    EXPECT_EQ(codeOf([&] { provider.getKeys(); }), "CP-008005");
}

TEST_F(ProviderOnStore, PinIsCheckedBeforeTheStoreSeesIt)
{
    store->setHasPinCode(true);
    select();
    EXPECT_TRUE(provider.getKeyStoreInfo().loginRequired);
    EXPECT_EQ(codeOf([&] { provider.setPin(L""); }), "CP-008012");
    EXPECT_TRUE(provider.getKeyStoreInfo().loginRequired);
    provider.setPin(L"12345678");
    EXPECT_FALSE(provider.getKeyStoreInfo().loginRequired);
    EXPECT_EQ(store->getCachedPin(), L"12345678");
}

TEST_F(ProviderOnStore, NewAliasesAreChecked)
{
    select();
    provider.setKey("beta");
    struct Case {
        const char* alias;
        const char* code;    // "" when the store is asked to rename
        const char* symbol;  // the symbol the message names
    };
    const Case cases[] = {
        {"a\tb", "CP-008020", "\t"},
        // The first forbidden value of the table is named, not the first in the alias.
        {"x\xC2\xA9\x01y", "CP-008020", "\x01"},
        {"copy\xC2\xA9", "CP-008020", "\xC2\xA9"},      // ©, 0xA9
        {"sect\xC2\xA7", "CP-008020", "\xC2\xA7"},      // §, 0xA7
        {"del\x7F", "CP-008020", "\x7F"},
        {"   ", "CP-008019", ""},
        {"bad\xFF\xFE", "CP-008064", ""},               // not UTF-8
        {" alpha ", "CP-008022", "alpha"},              // another key's alias, trimmed
        {"line\nfeed\r", "", ""},
        {"\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87 \xC2\xAB\xD0\x81\xC2\xBB", "", ""}, // Ключ «Ё»
    };
    for (const Case& c : cases) {
        store->renamedTo.clear();
        std::string message;
        try {
            provider.changeKeyAlias(c.alias);
        } catch (const bs::ComposedError& e) {
            EXPECT_STREQ(e.errorCode(), c.code) << c.alias;
            message = e.what();
        } catch (const bs::LookedUpError& e) {
            EXPECT_STREQ(e.errorCode(), c.code) << c.alias;
        }
        if (*c.code) {
            EXPECT_TRUE(store->renamedTo.empty()) << c.alias;
            if (*c.symbol) {
                EXPECT_NE(message.find(std::string("\"") + c.symbol + "\""), std::string::npos) << message;
            }
            continue;
        }
        ASSERT_EQ(store->renamedTo.size(), 1u) << c.alias;
        EXPECT_EQ(store->renamedTo[0], bs::trim(c.alias));
        EXPECT_EQ(provider.getKeyInfo().alias, bs::trim(c.alias));
    }
}

TEST_F(ProviderOnStore, ExternalIdIsSetOnceAndNeverTwiceInAStore)
{
    select();
    provider.setKey("beta");
    EXPECT_EQ(codeOf([&] { provider.setKeyExternalId(0); }), "CP-008023");
    provider.setKeyExternalId(18446744073709551615ULL);
    EXPECT_EQ(provider.getKeyInfo().externalId, 18446744073709551615ULL);
    EXPECT_EQ(codeOf([&] { provider.setKeyExternalId(5); }), "CP-008025");

    provider.setKey("alpha");
    EXPECT_EQ(codeOf([&] { provider.setKeyExternalId(18446744073709551615ULL); }), "CP-008024");
    EXPECT_EQ(provider.getKeyInfo().externalId, 0u);
}

TEST_F(ProviderOnStore, KeysOfOtherSoftwareCannotBeChanged)
{
    select();
    provider.setKey("beta");
    store->deviceKeys.at("beta")->setIsChangeable(false);
    EXPECT_EQ(codeOf([&] { provider.changeKeyAlias("gamma"); }), "CP-008001");
    EXPECT_EQ(codeOf([&] { provider.setKeyExternalId(7); }), "CP-008001");
    EXPECT_EQ(codeOf([&] { provider.deleteKey(); }), "CP-008001");
    EXPECT_EQ(codeOf([&] { provider.deleteCertificate({0x00, 0x07}, CERT_USER); }), "CP-008001");
    EXPECT_EQ(codeOf([&] { provider.importCertificate(signer.cert.data(), CERT_USER); }), "CP-008001");
    EXPECT_TRUE(store->renamedTo.empty());
    EXPECT_TRUE(store->deletedUserCertificates.empty());
    EXPECT_TRUE(store->importedUserCertificates.empty());
    EXPECT_EQ(store->deviceKeys.count("beta"), 1u);
}

TEST_F(ProviderOnStore, DeletedKeyIsReportedAsNotFound)
{
    select();
    provider.setKey("beta");
    provider.deleteKey();
    EXPECT_EQ(codeOf([&] { provider.getKeyInfo(); }), "CP-008017");
    EXPECT_EQ(provider.getKeyStoreId(), "soft-store");
}

TEST_F(ProviderOnStore, UserCertificateMustBelongToTheKey)
{
    select();
    provider.setKey("alpha");
    EXPECT_EQ(codeOf([&] { provider.importCertificate(signer.cert.data(), CERT_USER); }), "CP-008059");
    EXPECT_TRUE(store->importedUserCertificates.empty());
    EXPECT_TRUE(provider.getCertificate().empty());
    EXPECT_EQ(codeOf([&] { provider.setKeyByCertificate({0x00, 0x07}); }), "CP-008018");

    // The key's own certificate, as PEM: stored, bound to the key, and the
    // key can be found by it.
    provider.setKey("beta");
    const std::string pem = gostsoft::toPem(signer.cert.data(), "CERTIFICATE");
    const bytes id = provider.importCertificate(bytes(pem.begin(), pem.end()), CERT_USER);
    EXPECT_EQ(id, (bytes{0x00, 0x07}));
    ASSERT_EQ(store->importedUserCertificates.size(), 1u);
    EXPECT_EQ(store->importedUserCertificates[0], signer.cert.data());
    EXPECT_EQ(provider.getCertificate().data(), signer.cert.data());
    EXPECT_EQ(provider.getCertificate().id(), id);

    provider.deleteCertificate(id, CERT_USER);
    EXPECT_EQ(store->deletedUserCertificates, std::vector<std::string>{"beta"});
    EXPECT_TRUE(provider.getCertificate().empty());
}

TEST_F(ProviderOnStore, CmsSignLooksForTheCertificateOutsideLegacyMode)
{
    select();
    provider.setKey("beta");
    DataForSign item;
    item.data = {'p', 'a', 'y'};
    item.attached = true;

    // Legacy mode: no certificate lookup; the signer is named by serial only.
    EXPECT_EQ(provider.cmsSign({item}, true).size(), 1u);
    EXPECT_EQ(store->certificateLookups, 0);

    // Without a certificate on the store the key still signs.
    EXPECT_EQ(provider.cmsSign({item}, false).size(), 1u);
    EXPECT_EQ(store->certificateLookups, 1);

    // With one, the message names it and openssl verifies it.
    store->deviceKeys.at("beta")->setX509(signer.cert);
    item.withCertificates = true;
    item.addSigningCertificate = true;
    const auto messages = provider.cmsSign({item}, false);
    ASSERT_EQ(messages.size(), 1u);
    gostsoft::writeFile(signer.dir.file("m.p7s"), messages[0]);
    const auto verified =
        gostsoft::openssl("cms -verify -binary -inform DER -in " + signer.dir.file("m.p7s") + " -CAfile " +
                          signer.certPem + " -out " + signer.dir.file("out.bin"));
    EXPECT_EQ(verified.status, 0) << verified.output;
    EXPECT_EQ(gostsoft::readFile(signer.dir.file("out.bin")), item.data);
}

TEST_F(ProviderOnStore, RawSignatureAndPublicKeyOrders)
{
    select();
    provider.setKey("beta");
    const bytes data{'d', 'o', 'c'};
    // Outside legacy mode the halves come as CMS carries them (s||r).
    const bytes signature = provider.rawSign({data}, false, {}).at(0);
    EXPECT_TRUE(signer.key.verifyDigest(signer.key.digest(data), signature));
    const bytes legacy = provider.rawSign({data}, true, {}).at(0);
    EXPECT_TRUE(signer.key.verifyDigest(signer.key.digest(data), gost::swapSignatureHalves(legacy)));

    EXPECT_EQ(provider.getPublicKey(false).gostKey(), signer.key.publicKey());
    EXPECT_EQ(provider.getPublicKey(true).gostKey(), softstore::backendPublicKey(signer.key));
    EXPECT_EQ(provider.getSubjectPublicKeyInfo().publicKey.gostKey(), signer.key.publicKey());
}

} // namespace
