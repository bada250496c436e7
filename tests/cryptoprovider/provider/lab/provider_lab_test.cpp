// The provider on the lab's readers and tokens: which crypto means are
// present, the key-store listing and its cache, versions, the token digest
// engines, verification through a token and through the Angara module
// (messages made by openssl), and signing on a lab token checked by openssl.
// The tests share one lab and run in order: later ones see the tokens that
// earlier ones added and put back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/pkcs11/module_paths.h"
#include "cryptoprovider/provider/crypto_means.h"
#include "cryptoprovider/provider/engine_factory.h"
#include "pkcs7/gost_fixture.h"
#include "provider_fixture.h"
#include "support/lab_script.h"

namespace
{

using providertest::codeOf;

// Decimal store ids of the lab's Rutoken serials.
constexpr const char* RUTOKEN_ID = "0169552957";        // 0A1B2C3D
constexpr const char* SECOND_RUTOKEN_ID = "0187448654"; // 0B2C3D4E
constexpr const char* JACARTA_ID = "JC2000000001";

class ProviderLab : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        const char* modules = std::getenv("ORMID_LAB_PKCS11_DIR");
        ASSERT_NE(modules, nullptr) << "run under ctest (lab fixture)";
        pkcs11::setRutokenPkcs11EcpPath(modules);
        pkcs11::setMsKeyAngaraPkcs11Path(modules);
        pkcs11::setJaCartaPkcs11Path(modules);
    }

    static bool contains(const std::vector<std::string>& list, const std::string& item)
    {
        return std::find(list.begin(), list.end(), item) != list.end();
    }
};

TEST_F(ProviderLab, AvailableCryptoNamesEachMakeOnceSortedAndFiltered)
{
    // The cards in the readers and the lab's CSP.
    const std::vector<std::string> all{"angara", "cryptopro", "jacarta_2", "ovt", "rutoken_2"};
    EXPECT_EQ(getAvailableCrypto({}), all);
    EXPECT_EQ(getAvailableCrypto({"ovt", "rutoken_2", "cryptopro"}),
              (std::vector<std::string>{"cryptopro", "ovt", "rutoken_2"}));
    EXPECT_EQ(getAvailableCrypto({"ovt", "rutoken_2", "rutoken_3"}),
              (std::vector<std::string>{"ovt", "rutoken_2"}));
    EXPECT_TRUE(getAvailableCrypto({"rutoken_3"}).empty());

    // A second token of the same model adds no entry. (Its PIN was changed
    // from the default, so the next test can see a PIN cached on the store.)
    labscript::run("add-token", " rutoken-ecp-2 0B2C3D4E user-pin-default=0");
    EXPECT_EQ(getAvailableCrypto({}), all);
}

TEST_F(ProviderLab, ListingFollowsTheReadersAndKeepsKnownStores)
{
    providertest::TestProvider provider;
    const auto ids = provider.keyStoreList(KeyStoreType::HardwareDevice);
    EXPECT_TRUE(contains(ids, RUTOKEN_ID));
    EXPECT_TRUE(contains(ids, SECOND_RUTOKEN_ID));
    EXPECT_TRUE(contains(ids, JACARTA_ID));
    EXPECT_EQ(ids.size(), 4u); // and MS_KEY K; the confirmation and unknown cards are no tokens
    EXPECT_EQ(provider.keyStoreList(KeyStoreType::VelToken), std::vector<std::string>{"01-23-45-67"});

    // A token that still has its default PIN needs no login.
    provider.selectKeyStore(KeyStoreType::HardwareDevice, RUTOKEN_ID, false);
    const KeyStoreInfo info = provider.getKeyStoreInfo();
    EXPECT_EQ(info.id, RUTOKEN_ID);
    EXPECT_EQ(info.cryptoType, "rutoken_2");
    EXPECT_EQ(info.chipType, "RUTOKEN_ECP_2-401");
    EXPECT_FALSE(info.loginRequired);
    EXPECT_FALSE(info.userPinChanged);

    // A PIN cached on the store object survives a new listing: the object is kept.
    provider.selectKeyStore(KeyStoreType::HardwareDevice, SECOND_RUTOKEN_ID, false);
    EXPECT_TRUE(provider.getKeyStoreInfo().loginRequired);
    EXPECT_TRUE(provider.getKeyStoreInfo().userPinChanged);
    provider.setPin(L"12345678");
    EXPECT_FALSE(provider.getKeyStoreInfo().loginRequired);
    provider.keyStoreList(KeyStoreType::HardwareDevice);
    EXPECT_FALSE(provider.getKeyStoreInfo().loginRequired);

    // A token pulled out leaves the cache at the next listing.
    labscript::run("remove", " 'Aktiv Rutoken ECP 00 01'");
    EXPECT_FALSE(contains(provider.keyStoreList(KeyStoreType::HardwareDevice), SECOND_RUTOKEN_ID));
    EXPECT_EQ(codeOf([&] { provider.getKeyStoreInfo(); }), "CP-008005");
    EXPECT_EQ(codeOf([&] { provider.selectKeyStore(KeyStoreType::HardwareDevice, SECOND_RUTOKEN_ID, false); }),
              "CP-008028");
    EXPECT_EQ(provider.getKeyStoreId(), "");
}

TEST_F(ProviderLab, VersionIsTheModelNumberOrNull)
{
    providertest::TestProvider provider;
    EXPECT_EQ(provider.cryptoTypeVersion("rutoken_2"), "401");
    EXPECT_EQ(provider.cryptoTypeVersion("jacarta_2"), "303");
    EXPECT_EQ(provider.cryptoTypeVersion("rutoken_3"), "null");
    EXPECT_EQ(provider.cryptoTypeVersion("std"), "");
    EXPECT_EQ(codeOf([&] { provider.cryptoTypeVersion("nope"); }), "CP-008002");

    labscript::run("remove", " 'MS_KEY K 00 00'");
    providertest::TestProvider fresh;
    EXPECT_EQ(fresh.cryptoTypeVersion("angara"), "null");
    labscript::run("insert", " 'MS_KEY K 00 00' mskey MSK00000001");
    EXPECT_EQ(fresh.cryptoTypeVersion("angara"), "202");
}

TEST_F(ProviderLab, TokenDigestEnginesAgreeWithLibgcrypt)
{
    const bytes data{'a', 'b', 'c'};
    // Any "rutoken_" crypto type hashes on the Rutoken module.
    for (const char* cryptoType : {"rutoken_2", "rutoken_3220", "jacarta_2", "angara"}) {
        const auto engine = getDigestEngine(cryptoType);
        engine->init(GOST_R_3411_2012_256, "");
        engine->update(data);
        EXPECT_EQ(engine->doFinal(Endian::Big), gostsoft::streebog(data, 256)) << cryptoType;
    }
}

// A GOST R 34.10-2012-256 key (CryptoPro A parameters) with its openssl
// certificate, and messages openssl signs with it.
class OpensslMessages : public ProviderLab
{
  protected:
    OpensslMessages() : signer(gostsoft::Curve::CryptoProA256) {}

    bytes sign(const bytes& content, bool attached)
    {
        gostsoft::writeFile(signer.dir.file("in.bin"), content);
        const auto made = gostsoft::openssl("cms -sign -cades -binary -in " + signer.dir.file("in.bin") + " -signer " +
                                            signer.certPem + " -inkey " + signer.keyPem + " -outform DER -out " +
                                            signer.dir.file("out.p7s") + (attached ? " -nodetach" : ""));
        EXPECT_EQ(made.status, 0) << made.output;
        return gostsoft::readFile(signer.dir.file("out.p7s"));
    }

    cmstest::GostSigner signer;
    const bytes content{'p', 'a', 'y', 'm', 'e', 'n', 't'};
};

TEST_F(OpensslMessages, CadesMessagesVerifyThroughTheAngaraModule)
{
    providertest::TestProvider provider;
    const bytes detached = sign(content, false);
    EXPECT_TRUE(provider.verifyDetachedSign(content, detached, "angara", false, PublicKey(), ""));
    EXPECT_FALSE(provider.verifyDetachedSign({'x'}, detached, "angara", false, PublicKey(), ""));
    EXPECT_TRUE(provider.verifyAttachedSign(sign(content, true), "angara", false, PublicKey(), ""));

    // A message without content is checked against empty data, which the
    // verifier refuses.
    try {
        provider.verifyAttachedSign(detached, "angara", false, PublicKey(), "");
        ADD_FAILURE() << "verified without content";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), cp::localization.get("CP-008060"));
    }
}

TEST_F(OpensslMessages, RawSignatureVerifiedOnATokenSelectsIt)
{
    providertest::TestProvider provider;
    const bytes data{'d', 'o', 'c'};
    // s||r over the digest in the order the hash produces: as rawSign gives it.
    const bytes signature = signer.key.sign(data);
    const PublicKey key(signer.key.publicKey());
    const std::string algorithm = signer.key.signatureAlgorithmOid();
    EXPECT_TRUE(provider.verifyRawSign(data, signature, key, algorithm, "1.2.643.2.2.35.1", "rutoken_2", false));
    EXPECT_EQ(provider.getKeyStoreId(), RUTOKEN_ID);
    EXPECT_FALSE(provider.verifyRawSign({'x'}, signature, key, algorithm, "1.2.643.2.2.35.1", "rutoken_2", false));
    EXPECT_TRUE(provider.verifyRawSign(data, signature, key, algorithm, "1.2.643.2.2.35.1", "angara", false));
}

TEST_F(ProviderLab, KeyMadeOnATokenSignsWhatOpensslVerifies)
{
    providertest::TestProvider provider;
    provider.selectKeyStore(KeyStoreType::HardwareDevice, RUTOKEN_ID, false);
    provider.setPin(L"12345678");
    KeyInfo request;
    request.alias = " provider lab key ";
    request.signAlgorithmOid = "1.2.643.7.1.1.3.2";
    request.algParamsOid = "1.2.643.2.2.35.1";
    provider.createNewKey(request, L"");
    EXPECT_EQ(provider.getKeyInfo().alias, "provider lab key");
    EXPECT_EQ(codeOf([&] { provider.createNewKey(request, L""); }), "CP-008022");

    const bytes data{'p', 'a', 'y'};
    const bytes signature = provider.rawSign({data}, false, {}).at(0);
    gostsoft::TempDir dir;
    const auto verified = gostsoft::opensslVerify(dir, "pub", provider.getSubjectPublicKeyInfo().derEncoding(),
                                                  gostsoft::streebog(data, 256), signature);
    EXPECT_EQ(verified.status, 0) << verified.output;

    provider.deleteKey();
    EXPECT_EQ(codeOf([&] { provider.getKeyInfo(); }), "CP-008017");
}

} // namespace
