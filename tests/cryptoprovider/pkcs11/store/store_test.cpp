// The token key store on a lab Rutoken: key numbers, records and password
// data as the token holds them, PIN and key password protection, key
// changes, signatures checked by openssl, the key kinds of other software,
// and two threads on one token.
#include <gtest/gtest.h>

#include <gcrypt.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "asn1/der.h"
#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/errors.h"
#include "icrypto/gost3411.h"
#include "pkcs7/pkcs7.h"
#include "store_fixture.h"
#include "x509/errors.h"

namespace
{

using namespace storelab;
using gostsoft::derConcat;
using gostsoft::derElement;
using gostsoft::derOid;

// A key password hash as the token keeps it: GOST R 34.11-94 with the test
// parameter set (by libgcrypt), the bytes in reverse order.
bytes passwordHash(const bytes& password)
{
    gcry_check_version(nullptr);
    bytes out(32);
    gcry_md_hash_buffer(GCRY_MD_GOSTR3411_94, out.data(), password.data(), password.size());
    std::reverse(out.begin(), out.end());
    return out;
}

bytes streebog(const bytes& data, const AlgorithmId& algorithm)
{
    return gostsoft::streebog(data, isGost2012_512(algorithm) ? 512 : 256);
}

// A Name with one common name.
bytes nameDer(std::string_view commonName)
{
    return derElement(
        0x30, derElement(0x31, derElement(0x30, derConcat({derOid("2.5.4.3"),
                                                           derElement(0x0C, bytes(commonName.begin(),
                                                                                  commonName.end()))}))));
}

// The contents of a certificate (the bytes inside its outer SEQUENCE) over
// `spki`, with a signature of zeros.
bytes certificateContent(const bytes& serial, std::string_view issuer, std::string_view subject,
                         const bytes& spki)
{
    const bytes tbs =
        derElement(0x30, derConcat({bytes{0xA0, 0x03, 0x02, 0x01, 0x02}, derElement(0x02, serial),
                                    derElement(0x30, derOid("1.2.643.7.1.1.3.2")), nameDer(issuer),
                                    derElement(0x30, derConcat({derElement(0x17, cp1251("250101000000Z")),
                                                                derElement(0x17, cp1251("350101000000Z"))})),
                                    nameDer(subject), spki}));
    return derConcat({tbs, derElement(0x30, derOid("1.2.643.7.1.1.3.2")), derElement(0x03, bytes(65, 0))});
}

// The CKA_VALUE of a Faktura data object: four bytes, then the contents of a
// certificate (serial 12 34) over `spki`.
bytes fakturaObjectValue(const bytes& spki, std::string_view subject = "Faktura User")
{
    bytes value{0, 0, 0, 0};
    const bytes content = certificateContent({0x12, 0x34}, "Test CA", subject, spki);
    value.insert(value.end(), content.begin(), content.end());
    return value;
}

// A GOST R 34.10-2001 SubjectPublicKeyInfo of a token's CKA_VALUE (X||Y).
bytes gost2001Spki(const bytes& value)
{
    const bytes algorithm = derElement(
        0x30, derConcat({derOid("1.2.643.2.2.19"),
                         derElement(0x30, derConcat({derOid(CRYPTOPRO_A), derOid("1.2.643.2.2.30.1")}))}));
    bytes bits{0x00};
    const bytes octets = derElement(0x04, value);
    bits.insert(bits.end(), octets.begin(), octets.end());
    return derElement(0x30, derConcat({algorithm, derElement(0x03, bits)}));
}

using StoreTest = StoreLab;

TEST_F(StoreTest, NewKeysTakeTheLowestFreeNumberAndCarryTheirRecordInTheLabel)
{
    const auto first = create("Главный бухгалтер", L"пароль");
    EXPECT_EQ(pkcs11::key(first)->keyId(), (bytes{0x01, 0x01}));
    EXPECT_EQ(first->alias(), "Главный бухгалтер");

    // The record and password data, byte for byte, as the token keeps them.
    const MetaInfoContainer meta = container({0x01, 0x01});
    const bytes raw = meta.data();
    EXPECT_EQ(bytes(raw.begin(), raw.begin() + 4), (bytes{'k', 'v', 'm', 'f'}));
    EXPECT_EQ(meta.maxTries(), 16);
    EXPECT_EQ(meta.failedTries(), 0);
    EXPECT_EQ(meta.passHash(), passwordHash(cp1251("пароль")));
    EXPECT_EQ(bytes(raw.begin() + 38, raw.begin() + 64), bytes(26, 0));
    bytes record{0x00, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0x20};
    for (const bytes& part : {cp1251("Г"), bytes{0x7F, ' '}, cp1251("б"), bytes{0xB7}})
        record.insert(record.end(), part.begin(), part.end());
    EXPECT_EQ(meta.payload(), record);

    create("two");
    const auto third = create("three");
    create("four");
    EXPECT_EQ(privateKeyIds(), (std::vector<bytes>{{1, 1}, {1, 2}, {1, 3}, {1, 4}}));
    store->deleteKey(third);
    EXPECT_EQ(pkcs11::key(create("five"))->keyId(), (bytes{0x01, 0x03}));
    EXPECT_EQ(pkcs11::key(create("six"))->keyId(), (bytes{0x01, 0x05}));

    const auto keys = store->getKeysList();
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys.at("five")->id(), 3);
    EXPECT_TRUE(keys.at("five")->isChangeable());
    EXPECT_TRUE(keys.at("five")->hasPassword());
}

TEST(FindMinFreeId, SkipsTakenNumbersFromTheStart)
{
    const struct {
        std::vector<std::uint8_t> ids;
        std::uint8_t start;
        std::uint8_t expected;
    } cases[] = {
        {{}, 1, 1}, {{1, 2, 4}, 1, 3}, {{4, 2, 1}, 1, 3}, {{1, 1, 2}, 1, 3}, {{0, 5}, 1, 1}, {{2, 3}, 2, 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LabStore::findMinFreeId(c.ids, c.start), c.expected);
    std::vector<std::uint8_t> all;
    for (int i = 1; i <= 255; ++i)
        all.push_back(static_cast<std::uint8_t>(i));
    EXPECT_THROW(LabStore::findMinFreeId(all, 1), CardIsFull);
}

TEST_F(StoreTest, PinErrorsReportTheTriesTheModelCounts)
{
    const auto fresh = makeStore();
    EXPECT_THROW(fresh->setPin(L""), PinLengthRange);

    setFact(SERIAL, "user-tries-left", "4");
    try {
        fresh->setPin(L"87654321");
        FAIL() << "a wrong PIN was accepted";
    } catch (const InvalidPassword& error) {
        EXPECT_EQ(error.tries(), 3);
    }
    EXPECT_THROW(fresh->getCachedPin(), PinRequired);

    setFact(SERIAL, "user-tries-left", "1");
    EXPECT_THROW(fresh->setPin(L"87654321"), PinBlocked);
    EXPECT_THROW(fresh->setPin(PIN), PinBlocked);

    // A store still on its default PIN asks for the PIN when that fails.
    setFact(SERIAL, "user-tries-left", "10");
    setFact(SERIAL, "user-pin", "11223344");
    const auto defaulted = makeStore();
    defaulted->setIsUserPinDefault(true);
    EXPECT_THROW(defaulted->updateKeysInfo(), PinRequired);
    EXPECT_FALSE(defaulted->isUserPinDefault());
}

TEST_F(StoreTest, KeyPasswordsHaveSixteenTriesAndRightOnesResetTheCount)
{
    const auto key = create("empty", L"");
    EXPECT_EQ(container({1, 1}).maxTries(), 16);
    // The software hash takes the empty message as one zero block.
    EXPECT_EQ(container({1, 1}).passHash(), icrypto::gost3411Digest({}));
    EXPECT_TRUE(store->isKeyPasswordSet(key));

    for (int expected : {15, 14}) {
        try {
            store->setKeyPassword(key, L"wrong");
            FAIL();
        } catch (const InvalidPassword& error) {
            EXPECT_EQ(error.tries(), expected);
        }
    }
    EXPECT_FALSE(store->isKeyPasswordSet(key));
    EXPECT_EQ(container({1, 1}).failedTries(), 2);
    store->setKeyPassword(key, L"");
    EXPECT_EQ(container({1, 1}).failedTries(), 0);

    for (int i = 1; i < 16; ++i)
        EXPECT_THROW(store->setKeyPassword(key, L"wrong"), InvalidPassword) << i;
    EXPECT_THROW(store->setKeyPassword(key, L"wrong"), KeyBlocked);
    EXPECT_THROW(store->setKeyPassword(key, L""), KeyBlocked);
    EXPECT_EQ(container({1, 1}).failedTries(), 16);
}

TEST_F(StoreTest, KeyChangesRewriteTheRecordAndMoveTheCachedPassword)
{
    const auto key = create("old name", L"first");
    const bytes signature = store->rawSign(key, {bytes{1, 2, 3}}, false, {}).at(0);

    store->changeKeyAlias(key, "  new name ");
    EXPECT_THROW(store->getCachedPassword("old name"), PasswordRequired);
    const auto renamed = store->findKeyByAlias("new name", true);
    EXPECT_TRUE(store->isKeyPasswordSet(renamed));
    EXPECT_THROW(store->findKeyByAlias("old name", true), KeyNotFound);
    // The public key cached under the old alias goes with it.
    EXPECT_EQ(store->getPublicKey(renamed), store->publicKey(renamed, Endian::Little).gostKey());

    store->setKeyExternalId(renamed, 0x0102030405060708ULL);
    const bytes payload = container({1, 1}).payload();
    EXPECT_EQ(bytes(payload.begin(), payload.begin() + 11),
              (bytes{0x00, 0x07, 1, 2, 3, 4, 5, 6, 7, 8, 0x20}));
    EXPECT_EQ(std::string(payload.begin() + 11, payload.end()), "new name");
    EXPECT_EQ(store->findKeyById(0x0102030405060708ULL, true)->alias(), "new name");

    store->changeKeyPass(renamed, L"second");
    EXPECT_EQ(container({1, 1}).passHash(), passwordHash(cp1251("second")));
    EXPECT_EQ(container({1, 1}).payload(), payload);
    const auto fresh = makeStore();
    fresh->setPin(PIN);
    const auto listed = fresh->findKeyByAlias("new name", false);
    EXPECT_THROW(fresh->setKeyPassword(listed, L"first"), InvalidPassword);
    fresh->setKeyPassword(listed, L"second");
    EXPECT_EQ(fresh->rawSign(listed, {bytes{1, 2, 3}}, false, {}).size(), 1u);
    EXPECT_EQ(signature.size(), 64u);

    // Changes need the password in the cache.
    const auto noPassword = makeStore();
    noPassword->setPin(PIN);
    const auto unknown = noPassword->findKeyByAlias("new name", false);
    EXPECT_THROW(noPassword->changeKeyAlias(unknown, "x"), PasswordRequired);
    EXPECT_THROW(noPassword->deleteKey(unknown), PasswordRequired);
    EXPECT_EQ(privateKeyIds().size(), 1u);
}

// Raw and CMS signatures of 256- and 512-bit keys verify with openssl under
// the key from getSubjectPublicKeyInfo; a group of documents needs one login.
TEST_F(StoreTest, SignaturesVerifyWithOpensslUnderTheKeyTheStoreDescribes)
{
    gostsoft::TempDir dir;
    const struct {
        const AlgorithmId* algorithm;
        const char* paramSet;
    } cases[] = {{&GOST256, CRYPTOPRO_A}, {&GOST512, TC26_512_A}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.paramSet);
        const auto key = create(std::string("key ") + c.paramSet, L"pw", *c.algorithm, c.paramSet);
        const bytes spki = store->getSubjectPublicKeyInfo(key).derEncoding();
        const auto verifies = [&](const bytes& digest, const bytes& signature) {
            return gostsoft::opensslVerifies(dir, "key", spki, digest, signature);
        };

        const bytes document{'p', 'a', 'y', ' ', '1', '0', '0'};
        const bytes raw = store->rawSign(key, {document}, false, {}).at(0);
        EXPECT_TRUE(verifies(streebog(document, *c.algorithm), raw));
        EXPECT_FALSE(verifies(streebog(bytes{'x'}, *c.algorithm), raw));

        std::vector<pkcs9::Attributes> group(3);
        for (std::size_t i = 0; i < group.size(); ++i)
            group[i].insert(pkcs9::oid::MESSAGE_DIGEST, der::encode(bytes(32, static_cast<std::uint8_t>(i))));
        const std::size_t loginsBefore = countCalls("C_Login");
        const std::vector<Pkcs7> messages = store->cmsSign(key, group, false);
        EXPECT_EQ(countCalls("C_Login") - loginsBefore, 1u);
        ASSERT_EQ(messages.size(), group.size());
        for (std::size_t i = 0; i < group.size(); ++i) {
            const SignerInfo& signer = messages[i].signerInfos().at(0);
            EXPECT_TRUE(verifies(streebog(group[i].derEncoding(), *c.algorithm),
                                 signer.signature(pkcs7::Format::SerialWithIssuer)))
                << i;
        }
    }
}

// An RSA key signs the DigestInfo of the attributes' hash, the SHA of the
// length of their message digest.
TEST_F(StoreTest, RsaCmsSignaturesVerifyWithOpenssl)
{
    const auto key = store->createRsaKey("rsa", 1024);
    const RsaPublicKey publicKey = store->rsaPublicKey(key);
    bytes modulus{0x00};
    modulus.insert(modulus.end(), publicKey.modulus.begin(), publicKey.modulus.end());
    const bytes rsaKey =
        derElement(0x30, derConcat({derElement(0x02, modulus), derElement(0x02, publicKey.exponentData())}));
    bytes bits{0x00};
    bits.insert(bits.end(), rsaKey.begin(), rsaKey.end());
    const bytes spki = derElement(
        0x30, derConcat({derElement(0x30, derConcat({derOid("1.2.840.113549.1.1.1"), bytes{0x05, 0x00}})),
                         derElement(0x03, bits)}));
    pkcs9::Attributes attributes;
    attributes.insert(pkcs9::oid::MESSAGE_DIGEST, der::encode(bytes(32, 0x5A)));
    const std::vector<Pkcs7> messages = store->cmsSign(key, {attributes}, false);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].signerInfos().at(0).digestAlgorithmId(), SHA_256);
    gostsoft::TempDir dir;
    const auto r = gostsoft::opensslVerify(
        dir, "rsa", spki, gostsoft::sha256(attributes.derEncoding()),
        messages[0].signerInfos().at(0).signature(pkcs7::Format::SerialOnly), "-pkeyopt digest:sha256");
    EXPECT_NE(r.output.find("Signature Verified Successfully"), std::string::npos) << r.output;
}

TEST_F(StoreTest, ListsOlderRecordsFakturaKeysAndKeysOfOtherSoftware)
{
    // Older form: the container in a data object named after the key number.
    create("older", L"pw");
    const bytes olderMeta = container({1, 1}).data();
    setLabel({1, 1}, {});
    devices().update(SERIAL, [&](labdev::Device& device) {
        device.addObject({{LAB_CKA_CLASS, pkcs11::DATA_VALUE},
                          {CKA_TOKEN, {1}},
                          {CKA_PRIVATE, {1}},
                          {CKA_MODIFIABLE, {1}},
                          {LAB_CKA_LABEL, {'1'}},
                          {LAB_CKA_VALUE, olderMeta}});
    });

    // Faktura: the certificate of the key in an "ftcgpk" data object.
    create("faktura", L"pw");
    const bytes fakturaValue = fakturaObjectValue(tokenlab::gostSpki(publicValue({1, 2}), CRYPTOPRO_A));
    setLabel({1, 2}, pkcs11::FAKTURA_LABEL);
    // A short object and one of another key come first: both are passed over.
    for (const bytes& value :
         {bytes{1, 2, 3, 4}, bytes(fakturaValue.begin(), fakturaValue.end() - 80), fakturaValue})
        addFakturaObject(value);

    // Other software: named by its subject, its label, or its id alone.
    for (const char* alias : {"by subject", "by label", "by id"})
        create(alias, L"pw");
    setLabel({1, 3}, tokenlab::text("ignored label"));
    devices().update(SERIAL, [&](labdev::Device& device) {
        for (auto& object : device.objects) {
            if (object.get(LAB_CKA_ID) == bytes{1, 3} &&
                object.get(LAB_CKA_CLASS) == pkcs11::PRIVATE_KEY_VALUE)
                object.attributes[CKA_SUBJECT] = nameDer("Ivanov I.I.");
        }
    });
    setLabel({1, 4}, tokenlab::text("  Other app key "));
    setLabel({1, 5}, {});

    const auto fresh = makeStore();
    fresh->setPin(PIN);
    const auto keys = fresh->getKeysList();
    std::vector<std::string> aliases;
    for (const auto& [alias, key] : keys)
        aliases.push_back(alias);
    EXPECT_EQ(aliases, (std::vector<std::string>{"0105", "Faktura User", "Ivanov I.I. (0103)",
                                                 "Other app key (0104)", "older"}));

    const auto older = keys.at("older");
    EXPECT_TRUE(older->hasPassword());
    EXPECT_TRUE(older->isChangeable());
    EXPECT_FALSE(fresh->isKeyPasswordSet(older));
    // The older form is moved into the key's label.
    EXPECT_EQ(container({1, 1}).data(), olderMeta);

    const auto faktura = keys.at("Faktura User");
    EXPECT_FALSE(faktura->hasPassword());
    EXPECT_FALSE(faktura->isChangeable());
    EXPECT_TRUE(fresh->isKeyPasswordSet(faktura));
    EXPECT_EQ(faktura->externalId(), 0x1234u);
    EXPECT_EQ(faktura->x509().serial(), (bytes{0x12, 0x34}));
    EXPECT_EQ(faktura->algParamsOid(), CRYPTOPRO_A);

    for (const char* alias : {"0105", "Ivanov I.I. (0103)", "Other app key (0104)"}) {
        const auto key = keys.at(alias);
        EXPECT_FALSE(key->hasPassword()) << alias;
        EXPECT_FALSE(key->isChangeable()) << alias;
        EXPECT_EQ(key->signAlgorithm(), GOST256) << alias;
        EXPECT_EQ(key->algParamsOid(), CRYPTOPRO_A) << alias;
        // No password is asked for: signing works at once.
        EXPECT_EQ(fresh->rawSign(key, {bytes{1}}, false, {}).at(0).size(), 64u) << alias;
    }
}

// A Faktura key takes its algorithm from its certificate: a GOST R 34.10-2001
// certificate makes a 2001 key, hashed with GOST R 34.11-94, even though its
// parameter set also serves 2012-256 keys. (A token signs 2012 keys only, so
// such a key is listed but refused for signing.)
TEST_F(StoreTest, FakturaKeysTakeTheirAlgorithmFromTheCertificate)
{
    const struct {
        const char* name;
        bool gost2001;
        AlgorithmId signAlgorithm;
        AlgorithmId digestAlgorithm;
    } cases[] = {
        {"2012-256", false, GOST256, GOST_R_3411_2012_256},
        {"2001", true, GOST_R_3410_2001, GOST_R_3411_1994},
    };
    std::uint8_t number = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto made = create(std::string("faktura ") + c.name, L"pw");
        const bytes id = pkcs11::key(made)->keyId();
        ASSERT_EQ(id, (bytes{1, number++}));
        const bytes value = publicValue(id);
        addFakturaObject(fakturaObjectValue(
            c.gost2001 ? gost2001Spki(value) : tokenlab::gostSpki(value, CRYPTOPRO_A), c.name));
        setLabel(id, pkcs11::FAKTURA_LABEL);

        const auto fresh = makeStore();
        fresh->setPin(PIN);
        const auto keys = fresh->getKeysList();
        ASSERT_EQ(keys.count(c.name), 1u);
        const auto key = keys.at(c.name);
        EXPECT_EQ(key->signAlgorithm(), c.signAlgorithm);
        EXPECT_EQ(key->digestAlgorithm(), c.digestAlgorithm);
        EXPECT_EQ(key->algParamsOid(), CRYPTOPRO_A);
        if (c.gost2001)
            EXPECT_THROW(fresh->rawSign(key, {bytes{1}}, false, {}), UnsupportedAlgorithm);
        else
            EXPECT_EQ(fresh->rawSign(key, {bytes{1}}, false, {}).at(0).size(), 64u);
    }
}

TEST_F(StoreTest, CertificatesOfKeysAndAuthorities)
{
    const auto key = create("with certificate");
    gostsoft::TempDir dir;
    const bytes spki = store->getSubjectPublicKeyInfo(key).derEncoding();
    const bytes certificate = derElement(0x30, certificateContent({0x05}, "CA", "User", spki));

    EXPECT_EQ(store->importUserCertificate(key, certificate), (bytes{1, 1}));
    EXPECT_EQ(store->findCertificateByKey(key).data(), certificate);
    EXPECT_EQ(store->findKeyByCertificate({1, 1}, true)->alias(), "with certificate");
    EXPECT_THROW(store->findKeyByCertificate({1, 9}, true), KeyNotFound);
    store->deleteUserCertificate(key);
    EXPECT_TRUE(store->certificateList(CERT_USER).empty());

    EXPECT_EQ(store->importCertificate(certificate, CERT_AUTHORITY), (bytes{0x05}));
    ASSERT_EQ(store->certificateList(CERT_AUTHORITY).size(), 1u);
    store->deleteCertificate({0x05}, CERT_AUTHORITY);
    EXPECT_TRUE(store->certificateList(CERT_AUTHORITY).empty());
}

// An operation run inside a token session of its own thread shares that
// session's login; another thread's operation waits until the session ends,
// so the logins never overlap.
TEST_F(StoreTest, ASessionIsSharedWithinItsThreadAndWaitedForByOthers)
{
    create("key");
    const std::size_t start = callLog().size();
    std::atomic<bool> otherDone{false};
    std::thread other;
    {
        const Pkcs11Token::TokenSession session(store.get());
        other = std::thread([&] {
            store->updateKeysInfo();
            otherDone = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(otherDone.load());
        store->updateKeysInfo();
        EXPECT_EQ(store->getKeysList().size(), 1u);
    }
    other.join();

    std::istringstream calls(callLog().substr(start));
    std::vector<std::string> logins;
    for (std::string line; std::getline(calls, line);) {
        if (line.find(" C_Login ") != std::string::npos || line.find(" C_Logout ") != std::string::npos)
            logins.push_back(line.find(" C_Login ") != std::string::npos ? "in" : "out");
    }
    EXPECT_EQ(logins, (std::vector<std::string>{"in", "out", "in", "out"}));
}

// Two stores on one token and two threads on one store: every operation
// succeeds, and the records end as the last change left them.
TEST_F(StoreTest, ThreadsSharingATokenKeepItsRecordsWhole)
{
    const auto signing = create("signing");
    const auto changing = create("changing", L"a");
    const auto other = makeStore();
    other->setPin(PIN);
    const auto otherChanging = other->findKeyByAlias("changing", false);
    other->setKeyPassword(otherChanging, L"a");

    std::atomic<int> failures{0};
    const auto guard = [&failures](auto body) {
        return [body, &failures] {
            try {
                body();
            } catch (const std::exception& error) {
                ++failures;
                ADD_FAILURE() << error.what();
            }
        };
    };
    std::thread signer(guard([&] {
        for (int i = 0; i < 15; ++i)
            store->rawSign(signing, {bytes{static_cast<std::uint8_t>(i)}}, false, {});
    }));
    std::thread lister(guard([&] {
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(store->getKeysList().size(), 2u);
    }));
    std::thread changer(guard([&] {
        for (int i = 0; i < 10; ++i)
            other->changeKeyPass(otherChanging, i % 2 ? L"a" : L"b");
    }));
    signer.join();
    lister.join();
    changer.join();
    EXPECT_EQ(failures.load(), 0);

    const auto fresh = makeStore();
    fresh->setPin(PIN);
    const auto keys = fresh->getKeysList();
    ASSERT_EQ(keys.size(), 2u);
    fresh->setKeyPassword(keys.at("changing"), L"a");
    EXPECT_EQ(keys.at("changing")->systemId(), 7);
}

} // namespace
