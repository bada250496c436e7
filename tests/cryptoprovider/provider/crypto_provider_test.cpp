#include "cryptoprovider/provider/crypto_provider_ru.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "cryptoprovider/core/errors.h"
#include "provider_fixture.h"

namespace
{

using providertest::codeOf;

TEST(CryptoProviderTest, FreshProviderHasNothingSelected)
{
    auto provider = getCryptoProvider();
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(provider->getKeyStoreId(), "");
    EXPECT_EQ(provider->digestEngine(), nullptr);
    EXPECT_NO_THROW(provider->forgetKeyStore());
    EXPECT_NO_THROW(provider->forgetKey());
    EXPECT_NO_THROW(provider->clearCache());
    EXPECT_NO_THROW(provider->clearKeyStoreCache());
    EXPECT_NO_THROW(provider->clearKeyCache());
}

TEST(CryptoProviderTest, ChecksComeBeforeTheKeyStore)
{
    auto provider = getCryptoProvider();
    struct Case {
        const char* name;
        std::function<void()> call;
        const char* code;
    };
    const Case cases[] = {
        {"store info without store", [&] { provider->getKeyStoreInfo(); }, "CP-008005"},
        {"empty PIN is rejected first", [&] { provider->setPin(L""); }, "CP-008012"},
        {"empty new PIN is rejected first", [&] { provider->changePin(L""); }, "CP-008012"},
        {"PIN without store", [&] { provider->setPin(L"1234"); }, "CP-008005"},
        {"external id 0", [&] { provider->setKeyExternalId(0); }, "CP-008023"},
        {"blank alias", [&] { provider->setKey(" \t "); }, "CP-008019"},
        {"alias without store", [&] { provider->setKey(" name "); }, "CP-008005"},
        {"key info without store", [&] { provider->getKeyInfo(); }, "CP-008005"},
        {"key list without store", [&] { provider->getKeys(); }, "CP-008005"},
        {"raw sign without store", [&] { provider->rawSign({{1}}, false, {}); }, "CP-008005"},
        {"certificates without store", [&] { provider->certificates(CERT_USER); }, "CP-008005"},
        {"confirm without store", [&] { provider->confirm({1}, {}); }, "CP-008005"},
        {"unknown crypto type", [&] { provider->getCryptoTypeInfo("STD"); }, "CP-008002"},
        {"version of unknown crypto type", [&] { provider->cryptoTypeVersion("nope"); }, "CP-008002"},
        {"delete without store", [&] { provider->deleteKey(); }, "CP-008005"},
        {"verify with unknown crypto type", [&] { provider->verifyRawSign({1}, {1}, PublicKey(bytes{1}),
                                                                          "1.2.643.7.1.1.3.2", "", "std", false); },
         "CP-008053"},
        {"digest engine of a crypto type without one", [&] { provider->initDigestEngine("ovt"); }, "CP-008053"},
        {"containers of an unknown kind", [&] { provider->keyStoreList(KeyStoreType(5)); }, "CP-008053"},
        {"containers without the CSP", [&] { provider->keyStoreList(KeyStoreType::CryptoProContainer); },
         "CP-008048"},
        {"container without the CSP",
         [&] { provider->selectKeyStore(KeyStoreType::CryptoProContainer, "c", false); }, "CP-008048"},
        {"new container without the CSP",
         [&] { provider->selectKeyStore(KeyStoreType::CryptoProContainer, "", true); }, "CP-008048"},
        {"CSP version without the CSP", [&] { EXPECT_EQ(provider->cryptoTypeVersion("cryptopro"), "null"); },
         ""},
        {"store kind without key stores", [&] { provider->selectKeyStore(KeyStoreType(4), "x", false); },
         "CP-008005"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(codeOf(c.call), c.code) << c.name;
    }
}

TEST(CryptoProviderTest, CryptoTypeInfoComesFromTheCatalogue)
{
    auto provider = getCryptoProvider();
    const CryptoTypeInfo angara = provider->getCryptoTypeInfo("angara");
    EXPECT_EQ(angara.chipType, "MSKEY_K-202");
    EXPECT_EQ(angara.shortName, "MS_KEY K – АНГАРА");
    const CryptoTypeInfo csp = provider->getCryptoTypeInfo("cryptopro");
    EXPECT_EQ(csp.chipType, "");
    EXPECT_EQ(csp.fullName, "СКЗИ \"КриптоПро CSP\"");
}

TEST(CryptoProviderTest, EachCallMakesAnIndependentProvider)
{
    EXPECT_NE(getCryptoProvider(), getCryptoProvider());
}

} // namespace
