// The key store base through a libgcrypt-backed test store.
#include "cryptoprovider/core/key_store.h"

#include <gtest/gtest.h>

#include "base/conv.h"
#include "base/random.h"
#include "cryptoprovider/core/errors.h"
#include "pkcs7/gost_fixture.h"
#include "soft_store.h"
#include "x509/errors.h"
#include "x509/pkcs10.h"

using namespace softstore;
using gostsoft::Curve;

namespace
{

std::shared_ptr<const gostsoft::Key> newKey(Curve curve = Curve::CryptoProA256)
{
    return std::make_shared<gostsoft::Key>(gostsoft::Key::generate(curve));
}

bytes text(std::string_view value)
{
    return bytes(value.begin(), value.end());
}

// ---- masked secrets ----

TEST(MaskedSecret, HoldsNoClearCharacterAndWipesWhatItDrops)
{
    const std::wstring mask = conv::binary_to_str<wchar_t>(bs::getRandomBytes(128));
    const std::wstring pin = L"12345678901234567890123456789012345 ПИН"; // longer than the mask
    MaskedSecret secret(pin, mask);
    ASSERT_EQ(secret.masked().size(), pin.size());
    for (std::size_t i = 0; i < pin.size(); ++i) {
        EXPECT_NE(secret.masked()[i], pin[i]) << i;
        EXPECT_EQ(secret.masked()[i], static_cast<wchar_t>(pin[i] ^ mask[i % mask.size()])) << i;
    }
    EXPECT_EQ(secret.reveal(mask), pin);

    // Replacing and moving leave nothing behind in the object given up.
    MaskedSecret moved(std::move(secret));
    EXPECT_TRUE(secret.masked().empty());
    EXPECT_EQ(moved.reveal(mask), pin);
    MaskedSecret other(L"1", mask);
    other = std::move(moved);
    EXPECT_TRUE(moved.masked().empty());
    EXPECT_EQ(other.reveal(mask), pin);
    other.wipe();
    EXPECT_TRUE(other.empty());
    EXPECT_THROW(MaskedSecret(L"1", L""), std::invalid_argument);
}

// ---- PIN and password caches ----

struct DefaultPinStore : SoftKeyStore {
    std::wstring defaultUserPin() const override { return L"00000000"; }
};

TEST(KeyStorePins, CachedPinDefaultPinAndPasswords)
{
    DefaultPinStore store;
    store.setId("token-1");
    EXPECT_THROW(store.getCachedPin(), PinRequired);

    store.setIsUserPinDefault(true);
    EXPECT_EQ(store.getCachedPin(), L"00000000"); // the model's own default, no PinRequired

    store.setCachedPin(L"4321");
    EXPECT_FALSE(store.isUserPinDefault());
    EXPECT_EQ(store.getCachedPin(), L"4321");
    store.setCachedPin(L"98765");
    EXPECT_EQ(store.getCachedPin(), L"98765");

    // The PIN belongs to the store's id.
    store.setId("token-2");
    EXPECT_THROW(store.getCachedPin(), PinRequired);
    store.setId("token-1");
    store.deleteCachedPin();
    EXPECT_THROW(store.getCachedPin(), PinRequired);

    store.setCachedPassword(" key ", L"secret");
    EXPECT_EQ(store.getCachedPassword("key"), L"secret");
    EXPECT_EQ(store.getCachedPassword("\tkey\n"), L"secret");
    try {
        store.getCachedPassword("other key");
        ADD_FAILURE() << "no PasswordRequired";
    } catch (const PasswordRequired& e) {
        EXPECT_EQ(e.alias(), "other key");
    }
    const auto record = std::make_shared<KeyRecord>("key  ", GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
                                                    "1.2.643.2.2.35.1", "rutoken_2", X509());
    EXPECT_TRUE(store.isKeyPasswordSet(record));
    store.deleteCachedPassword("key ");
    EXPECT_FALSE(store.isKeyPasswordSet(record));
}

TEST(KeyStorePins, ClearCacheDropsSecretsButKeepsFlags)
{
    SoftKeyStore store;
    store.setId("t");
    store.setHasPinCode(true);
    store.setCachedPin(L"1111");
    store.setCachedPassword("k", L"p");
    store.addDeviceKey("k", newKey());
    store.getKeysList();
    store.clearCache();
    EXPECT_THROW(store.getCachedPin(), PinRequired);
    EXPECT_THROW(store.getCachedPassword("k"), PasswordRequired);
    EXPECT_TRUE(store.getKeys().empty());
    EXPECT_TRUE(store.hasPinCode());
    store.setIsUserPinDefault(true);
    store.clearCache();
    EXPECT_TRUE(store.isUserPinDefault());
}

// ---- aliases and lookups ----

TEST(KeyStoreAliases, NormalisedForComparison)
{
    const struct {
        std::string alias;
        std::string prepared;
    } cases[] = {
        {"plain Key 1", "plain Key 1"},
        {"a\tb", "atb"},
        {"\b\t\n\f\r", "btnfr"},
        {"a/b", "ab"},
        {"a\\b", "ab"},
        {"\\\\//", ""},
        {"say \"hi\"", "say \"hi\""},
        {"Ключ", "Ключ"},
        {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(prepareAliasForCheck(c.alias), c.prepared) << c.alias;
    }
}

TEST(KeyStoreAliases, LookupsRefreshTheListOnce)
{
    SoftKeyStore store;
    const auto first = store.addDeviceKey("bank/key", newKey());
    first->setExternalId(7);
    store.getKeysList();
    ASSERT_EQ(store.calls.updateKeysInfo, 1);

    // Found in the cached list: no refresh; the alias matches after normalisation.
    EXPECT_EQ(store.findKeyByAlias("bankkey", true), first);
    EXPECT_EQ(store.findKeyById(7, true), first);
    EXPECT_EQ(store.calls.updateKeysInfo, 1);
    EXPECT_THROW(store.findKeyByAlias("Bankkey", true), KeyNotFound); // case counts
    EXPECT_EQ(store.calls.updateKeysInfo, 2);

    // A key added on the device is found by the second pass.
    const auto added = store.addDeviceKey("new\tkey", newKey());
    added->setExternalId(9);
    EXPECT_EQ(store.findKeyByAlias("newtkey", true), added);
    EXPECT_EQ(store.calls.updateKeysInfo, 3);
    const auto third = store.addDeviceKey("third", newKey());
    third->setExternalId(11);
    EXPECT_EQ(store.findKeyById(11, true), third);
    EXPECT_EQ(store.calls.updateKeysInfo, 4);

    // Without the list: exactly one refresh, then KeyNotFound.
    EXPECT_THROW(store.findKeyByAlias("missing", false), KeyNotFound);
    EXPECT_EQ(store.calls.updateKeysInfo, 5);
    EXPECT_THROW(store.findKeyById(12345, false), KeyNotFound);
    EXPECT_EQ(store.calls.updateKeysInfo, 6);
    EXPECT_THROW(store.findKeyByAlias("", true), EmptyKeyAlias);
    EXPECT_EQ(store.calls.updateKeysInfo, 6);
}

TEST(KeyStoreAliases, KeyListEditing)
{
    SoftKeyStore store;
    const auto key = std::make_shared<KeyRecord>("k", GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
                                                 "1.2.643.2.2.35.1", "rutoken_2", X509());
    store.addKeyRecord(key);
    const auto same = std::make_shared<KeyRecord>("k", GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
                                                  "1.2.643.2.2.35.1", "rutoken_2", X509());
    store.addKeyRecord(same);
    ASSERT_EQ(store.getKeys().size(), 1u);
    EXPECT_EQ(store.getKeys().at("k"), same);
    store.removeKeyRecord(key);
    EXPECT_TRUE(store.getKeys().empty());
    const auto unnamed = std::make_shared<KeyRecord>("", AlgorithmId(), "", "", X509());
    EXPECT_THROW(store.addKeyRecord(unnamed), EmptyKeyAlias);
    EXPECT_THROW(store.addKeyRecord(nullptr), KeyNotSelected);
}

// ---- certificates ----

X509 certificateWithId(const cmstest::GostSigner& signer, bytes id)
{
    X509 certificate = signer.cert;
    certificate.setId(id);
    return certificate;
}

TEST(KeyStoreCertificates, FindAcrossTypesWithOneRefresh)
{
    static const cmstest::GostSigner signer(Curve::CryptoProA256);
    SoftKeyStore store;
    const X509 user = certificateWithId(signer, {0x00, 0x01});
    const X509 authority = certificateWithId(signer, {0x02});
    store.deviceCertificates[CERT_USER] = {user};
    store.deviceCertificates[CERT_AUTHORITY] = {authority};

    EXPECT_EQ(store.findCertificate({0x02}, {CERT_USER, CERT_AUTHORITY}, true), authority);
    EXPECT_EQ(store.calls.certificateList[CERT_USER], 1);
    // Cached now: found without asking the device.
    EXPECT_EQ(store.findCertificate({0x00, 0x01}, {CERT_USER, CERT_AUTHORITY}, true), user);
    EXPECT_EQ(store.calls.certificateList[CERT_USER], 1);
    // A certificate that arrived later is found by the second, uncached pass.
    const X509 later = certificateWithId(signer, {0x03});
    store.deviceCertificates[CERT_AUTHORITY].push_back(later);
    EXPECT_EQ(store.findCertificate({0x03}, {CERT_USER, CERT_AUTHORITY}, true), later);
    EXPECT_EQ(store.calls.certificateList[CERT_AUTHORITY], 2);
    EXPECT_THROW(store.findCertificate({0x00}, {CERT_USER, CERT_AUTHORITY}, true), CertificateNotFound);
    EXPECT_EQ(store.calls.certificateList[CERT_USER], 3);

    // An unreadable list other than the user's is skipped; the user's is reported.
    store.failingCertificateLists = {CERT_AUTHORITY};
    EXPECT_EQ(store.findCertificate({0x00, 0x01}, {CERT_AUTHORITY, CERT_USER}, false), user);
    store.failingCertificateLists = {CERT_USER};
    EXPECT_THROW(store.findCertificate({0x02}, {CERT_USER, CERT_AUTHORITY}, false), std::runtime_error);
}

TEST(KeyStoreCertificates, CacheEditsDoNotReachTheDevice)
{
    static const cmstest::GostSigner signer(Curve::CryptoProA256);
    SoftKeyStore store;
    const X509 a = certificateWithId(signer, {0x01});
    store.deviceCertificates[CERT_OTHER_ENTITY] = {};
    store.addX509(a, CERT_OTHER_ENTITY);
    store.addX509(a, CERT_OTHER_ENTITY); // equal: kept once
    EXPECT_EQ(store.findCertificate({0x01}, {CERT_OTHER_ENTITY}, true), a);
    EXPECT_EQ(store.calls.certificateList[CERT_OTHER_ENTITY], 0);
    store.removeX509({0x01}, CERT_OTHER_ENTITY);
    EXPECT_THROW(store.findCertificate({0x01}, {CERT_OTHER_ENTITY}, true), CertificateNotFound);
    // certificates() always asks the device and replaces the cached list.
    EXPECT_TRUE(store.certificates(CERT_OTHER_ENTITY).empty());
    EXPECT_EQ(store.calls.certificateList[CERT_OTHER_ENTITY], 2);
}

// ---- public keys and signing ----

TEST(KeyStorePublicKey, CachedOnceAndGivenInBothOrders)
{
    for (const Curve curve : {Curve::CryptoProA256, Curve::Tc26A512}) {
        SoftKeyStore store;
        const auto gostKey = newKey(curve);
        const auto key = store.addDeviceKey("k", gostKey);
        // Big: the certificate form (coordinates little-endian); Little: the device's.
        EXPECT_EQ(store.publicKey(key, Endian::Big), PublicKey(gostKey->publicKey()));
        EXPECT_EQ(store.publicKey(key, Endian::Little), PublicKey(backendPublicKey(*gostKey)));
        EXPECT_EQ(store.calls.getPublicKey, 1);
        // The SubjectPublicKeyInfo equals the one libgcrypt's key gives.
        EXPECT_EQ(store.getSubjectPublicKeyInfo(key).derEncoding(), gostKey->subjectPublicKeyInfo(true));

        store.forgetKey(key);
        store.publicKey(key, Endian::Big);
        EXPECT_EQ(store.calls.getPublicKey, 2);
    }
}

struct FixedSignatureStore : SoftKeyStore {
    std::vector<bytes> sign(const std::shared_ptr<KeyRecord>&, const std::vector<bytes>& data, bool) override
    {
        return std::vector<bytes>(data.size(), fixed);
    }
    bytes fixed;
};

TEST(KeyStoreSigning, RawSignatureHalves)
{
    bytes r(32), s(32);
    for (int i = 0; i < 32; ++i) {
        r[i] = static_cast<unsigned char>(i);
        s[i] = static_cast<unsigned char>(0x80 + i);
    }
    bytes rs = r;
    rs.insert(rs.end(), s.begin(), s.end());
    bytes sr = s;
    sr.insert(sr.end(), r.begin(), r.end());
    const struct {
        bytes stored;
        bool kalvaMode;
        bytes expected;
    } cases[] = {
        {rs, false, sr},
        {rs, true, rs},
        {{1, 2, 3, 4, 5, 6}, false, {4, 5, 6, 1, 2, 3}},
        {{}, false, {}},
    };
    FixedSignatureStore store;
    const auto key = store.addDeviceKey("k", newKey());
    for (const auto& c : cases) {
        store.fixed = c.stored;
        const auto signatures = store.rawSign(key, {text("a"), text("b")}, c.kalvaMode, {});
        EXPECT_EQ(signatures, (std::vector<bytes>{c.expected, c.expected})) << c.kalvaMode;
    }
    const auto rsaKey = std::make_shared<KeyRecord>("r", SHA256_WITH_RSA_ENCRYPTION, "", "cryptopro", X509());
    EXPECT_THROW(store.rawSign(rsaKey, {text("a")}, false, {SHA_256}), FunctionNotImplemented);
}

TEST(KeyStoreSigning, RawSignatureVerifiesInStandardOrientation)
{
    SoftKeyStore store;
    const auto gostKey = newKey(Curve::Tc26A512);
    const auto key = store.addDeviceKey("k", gostKey);
    const bytes data = text("payment 1");
    const bytes signature = store.rawSign(key, {data}, false, {}).at(0);
    EXPECT_TRUE(gostKey->verifyDigest(gostKey->digest(data), signature));
    const bytes kalva = store.rawSign(key, {data}, true, {}).at(0);
    EXPECT_FALSE(gostKey->verifyDigest(gostKey->digest(data), kalva));
    EXPECT_TRUE(gostKey->verifyDigest(gostKey->digest(data), swapSignatureHalves(kalva)));
}

TEST(KeyStoreSigning, DigestThroughTheStoreEngine)
{
    SoftKeyStore store;
    const bytes abc = text("abc");
    // GOST R 34.11-94 known answers in their CMS byte order.
    EXPECT_EQ(store.digest(abc, GOST_R_3411_1994, Endian::Big, "1.2.643.2.2.30.1"),
              conv::hex_to_bytes("b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"));
    EXPECT_EQ(store.digest(abc, GOST_R_3411_1994, Endian::Little, "1.2.643.2.2.30.0"),
              conv::hex_to_bytes("1dd5a4067c49703b75bc75c9290f5ecbb5eb85229e7277a2b2b14fc4484313f3"));
    // Empty data: no update step.
    EXPECT_EQ(store.digest({}, GOST_R_3411_2012_256, Endian::Big, ""),
              conv::hex_to_bytes("3f539a213e97c802cc229d474c6aa32a825a360b2a933a949fd925208d9ce1bb"));
}

// ---- PKCS#10 ----

TEST(KeyStorePkcs10, RequestVerifiedByOpenssl)
{
    for (const Curve curve : {Curve::CryptoProA256, Curve::Tc26A512}) {
        SoftKeyStore store;
        const auto key = store.addDeviceKey("k", newKey(curve));
        SubjectDN subject;
        subject.commonName = "Ivan Petrov";
        subject.countryName = "RU";
        Extensions extensions;
        extensions.keyUsage = key_usage::DIGITAL_SIGNATURE | key_usage::NON_REPUDIATION;
        extensions.hasSubjectSignTool = true;

        const bytes pem = store.createPkcs10(key, subject, extensions, false, AlgorithmId());
        EXPECT_EQ(extensions.subjectSignTool, crypto::getName("rutoken_2"));
        const std::string pemText(pem.begin(), pem.end());
        const std::string begin = "-----BEGIN CERTIFICATE REQUEST-----\n";
        const std::string end = "-----END CERTIFICATE REQUEST-----";
        ASSERT_EQ(pemText.rfind(begin, 0), 0u);
        ASSERT_GT(pemText.size(), begin.size() + end.size());
        EXPECT_EQ(pemText.substr(pemText.size() - end.size()), end);
        const std::string body = pemText.substr(begin.size(), pemText.size() - begin.size() - end.size());
        std::size_t start = 0;
        while (start < body.size()) {
            const std::size_t lineEnd = body.find('\n', start);
            ASSERT_NE(lineEnd, std::string::npos);
            EXPECT_LE(lineEnd - start, 64u);
            EXPECT_GT(lineEnd - start, 0u);
            start = lineEnd + 1;
        }

        gostsoft::TempDir dir;
        gostsoft::writeFile(dir.file("r.pem"), pem);
        const auto checked = gostsoft::openssl("req -in " + dir.file("r.pem") + " -noout -verify -text");
        EXPECT_EQ(checked.status, 0) << checked.output;
        EXPECT_NE(checked.output.find("verify OK"), std::string::npos) << checked.output;
        EXPECT_NE(checked.output.find("Ivan Petrov"), std::string::npos);

        const Pkcs10 der(store.createPkcs10(key, subject, extensions, true, AlgorithmId()));
        EXPECT_EQ(der.publicKeyInfo().publicKey, store.publicKey(key, Endian::Big));
    }
}

TEST(KeyStorePkcs10, RequestInfoOfAnotherKeyIsRefused)
{
    SoftKeyStore store;
    const auto key = store.addDeviceKey("k", newKey());
    const auto other = store.addDeviceKey("other", newKey());
    SubjectDN subject;
    subject.commonName = "x";
    const Pkcs10::Info info{0, subject, store.getSubjectPublicKeyInfo(other), Extensions()};
    EXPECT_THROW(store.pkcs10Sign(key, info.derEncoding(), true, AlgorithmId()), InvalidKeyForPkcs10);
}

} // namespace
