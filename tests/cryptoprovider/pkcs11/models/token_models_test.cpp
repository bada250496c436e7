// The three token makes on the lab: what each reads at construction, PIN
// tries, password bytes, mechanisms, RSA keys on Rutoken and the MS_KEY K
// Cyrillic passwords.
#include <gtest/gtest.h>
#include <winscard.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "asn1/der.h"
#include "base/conv.h"
#include "base/encoding.h"
#include "cryptoprovider/core/crypto_types.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/helper.h"
#include "cryptoprovider/pkcs11/key_formats.h"
#include "cryptoprovider/pkcs11/module_paths.h"
#include "cryptoprovider/pkcs11/return_values.h"
#include "cryptoprovider/pkcs11/token_models.h"
#include "cryptoprovider/pkcs11/token_probes.h"
#include "icrypto/gost3411.h"
#include "lab_tokens.h"
#include "support/gost_soft.h"
#include "x509/errors.h"

namespace
{

using namespace labtokens;

const std::wstring PIN = L"12345678";

using StoreFactory = std::function<std::shared_ptr<Pkcs11Token>()>;

struct Make {
    const char* name;
    StoreFactory open;
    const char* serial;
    const char* storeId;
    const char* cryptoType;
    const char* chipTypeInfo;
};

const Make MAKES[] = {
    {"Rutoken", [] { return std::make_shared<RuToken2>(RUTOKEN_READER); }, RUTOKEN_SERIAL, "0169552957",
     "rutoken_2", "RUTOKEN_ECP_2-401"},
    {"MS_KEY K", [] { return std::make_shared<MSKeyKAngara>(MSKEY_READER); }, MSKEY_SERIAL, MSKEY_SERIAL,
     "angara", "MSKEY_K-202"},
    {"JaCarta", [] { return std::make_shared<CryptoTokenEP2>(JACARTA_READER); }, JACARTA_SERIAL,
     JACARTA_SERIAL, "jacarta_2", "JACARTA_GOST-303"},
};

class TokenModels : public ::testing::Test
{
  protected:
    static void SetUpTestSuite() { useLabModules(); }
    void TearDown() override
    {
        for (const Make& make : MAKES) {
            setFacts(make.serial, "user-tries-left=10 user-pin-default=1 user-pin=12345678 card.formatted=1");
        }
    }
};

CK_TOKEN_INFO tokenInfoWithSerial(std::string_view serial)
{
    CK_TOKEN_INFO info{};
    std::memset(info.serialNumber, ' ', sizeof(info.serialNumber));
    std::memcpy(info.serialNumber, serial.data(), serial.size());
    return info;
}

TEST(RutokenStoreId, ComesFromTheFirstFourSerialBytes)
{
    const bytes serial = pkcs11::serialData(tokenInfoWithSerial("a1b2c3d"));
    EXPECT_EQ(serial, (bytes{0x0A, 0x1B, 0x2C, 0x3D}));
    EXPECT_EQ(pkcs11::rutokenStoreId(serial), "0169552957");
    EXPECT_EQ(pkcs11::rutokenSerialFromStoreId("0169552957"), "0A1B2C3D");

    EXPECT_EQ(pkcs11::rutokenStoreId({}), "0000000000");
    EXPECT_EQ(pkcs11::rutokenStoreId({0x01, 0x02}), "0000000258");
    EXPECT_EQ(pkcs11::rutokenStoreId({0xFF, 0xFF, 0xFF, 0xFF, 0x12}), "4294967295");
    EXPECT_THROW(pkcs11::serialData(tokenInfoWithSerial("XYZ")), std::invalid_argument);
    EXPECT_THROW(pkcs11::rutokenSerialFromStoreId("12a"), std::invalid_argument);
}

TEST_F(TokenModels, ConstructionReadsIdAndPinState)
{
    for (const Make& make : MAKES) {
        SCOPED_TRACE(make.name);
        const auto store = make.open();
        EXPECT_EQ(store->id(), make.storeId);
        EXPECT_EQ(store->pkcs11Serial(), make.serial);
        EXPECT_EQ(store->cryptoType(), make.cryptoType);
        EXPECT_EQ(crypto::makeChipTypeInfo(store->chipType(), store->package()), make.chipTypeInfo);
        EXPECT_TRUE(store->hasPinCode());
        EXPECT_FALSE(store->isUserPinBlocked());
        EXPECT_FALSE(store->isAdminPinBlocked());
    }
    // The default-PIN state: Rutoken reads it from the extended token
    // information, MS_KEY K from the token flags; JaCarta does not know it.
    const bool defaultPin[] = {true, true, false};
    for (std::size_t i = 0; i < std::size(MAKES); ++i) {
        EXPECT_EQ(MAKES[i].open()->isUserPinDefault(), defaultPin[i]) << MAKES[i].name;
        setFacts(MAKES[i].serial, "user-pin-default=0 user-tries-left=0");
        const auto store = MAKES[i].open();
        EXPECT_FALSE(store->isUserPinDefault()) << MAKES[i].name;
        EXPECT_TRUE(store->isUserPinBlocked()) << MAKES[i].name;
    }
}

TEST_F(TokenModels, PinTriesAsEachMakeReportsThem)
{
    for (const Make& make : MAKES) {
        SCOPED_TRACE(make.name);
        const auto store = make.open();
        EXPECT_ANY_THROW(store->setPin(L"87654321"));
        EXPECT_EQ(store->pinTries(), 9);
        setFacts(make.serial, "user-tries-left=3");
        EXPECT_EQ(store->pinTries(), 3);
    }
    // No tries left: the Rutoken card says the PIN is blocked, the others
    // count zero.
    for (const Make& make : MAKES) {
        setFacts(make.serial, "user-tries-left=0");
    }
    EXPECT_THROW(MAKES[0].open()->pinTries(), PinBlocked);
    EXPECT_EQ(MAKES[1].open()->pinTries(), 0);
    EXPECT_EQ(MAKES[2].open()->pinTries(), 0);
    for (const Make& make : MAKES) {
        EXPECT_THROW(make.open()->setPin(PIN), PinBlocked) << make.name;
    }
}

// The tries are unknown (16) whenever the chip data cannot be read: a card
// not formatted, or a card another program (the vendor module) holds for
// itself, where the reader answers with a sharing violation.
TEST_F(TokenModels, JaCartaTriesAreUnknownWhenTheChipDataCannotBeRead)
{
    CryptoTokenEP2 store(JACARTA_READER);
    setFacts(JACARTA_SERIAL, "card.formatted=0");
    EXPECT_THROW(store.getChipData(), DeviceError);
    EXPECT_EQ(store.pinTries(), 16);
    setFacts(JACARTA_SERIAL, "card.formatted=1");
    const int tries = store.pinTries();
    ASSERT_NE(tries, 16);

    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(context, JACARTA_READER, SCARD_SHARE_EXCLUSIVE,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol),
              SCARD_S_SUCCESS);
    EXPECT_THROW(store.getChipData(), ScardException);
    EXPECT_EQ(store.pinTries(), 16);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    EXPECT_EQ(store.pinTries(), tries);
}

TEST_F(TokenModels, PasswordBytesPerMake)
{
    const std::wstring password = L"Пароль1";
    const std::string cp1251 = encoding::utf16_to_cp1251(password);
    const std::string utf8 = encoding::utf16_to_utf8(password);
    EXPECT_EQ(MAKES[0].open()->makePasswordHash(password), bytes(cp1251.begin(), cp1251.end()));
    EXPECT_EQ(MAKES[1].open()->makePasswordHash(password), bytes(utf8.begin(), utf8.end()));
    EXPECT_EQ(MAKES[2].open()->makePasswordHash(password), bytes(utf8.begin(), utf8.end()));
    EXPECT_EQ(cp1251.size(), password.size());
}

TEST_F(TokenModels, SigningMechanismsPerMake)
{
    const auto rutoken = MAKES[0].open();
    const auto mskey = MAKES[1].open();
    const auto jacarta = MAKES[2].open();
    const AlgorithmId& gost256 = GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN;
    const AlgorithmId& gost512 = GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN;
    for (const auto& store : {rutoken, mskey, jacarta}) {
        EXPECT_EQ(store->signAlgorithm(gost256), CKM_GOSTR3410) << store->cryptoType();
        EXPECT_EQ(store->signAlgorithm(GOST_R_3410_2012_256), CKM_GOSTR3410) << store->cryptoType();
        EXPECT_THROW(store->signAlgorithm(GOST_R_3410_2001), UnsupportedAlgorithm) << store->cryptoType();
    }
    EXPECT_EQ(rutoken->signAlgorithm(gost512), 0xD4321006u);
    EXPECT_EQ(mskey->signAlgorithm(gost512), 0xD4321006u);
    EXPECT_THROW(jacarta->signAlgorithm(gost512), UnsupportedAlgorithm);
    EXPECT_EQ(rutoken->signAlgorithm(RSA_ENCRYPTION), CKM_RSA_PKCS);
    EXPECT_THROW(mskey->signAlgorithm(RSA_ENCRYPTION), UnsupportedAlgorithm);
    EXPECT_THROW(jacarta->signAlgorithm(RSA_ENCRYPTION), UnsupportedAlgorithm);
}

TEST_F(TokenModels, MsKeyDefaultPinOpensTheTokenWithoutAsking)
{
    setFacts(MSKEY_SERIAL, "user-pin=11111111 user-pin-default=1");
    MSKeyKAngara store(MSKEY_READER);
    ASSERT_TRUE(store.isUserPinDefault());
    EXPECT_NO_THROW(store.updateKeysInfo());
}

TEST_F(TokenModels, JaCartaTakesTheTokenOfItsOwnReader)
{
    addToken("jacarta-gost2", "JC2000000002");
    EXPECT_EQ(CryptoTokenEP2(JACARTA_SPARE_READER).id(), "JC2000000002");
    EXPECT_EQ(CryptoTokenEP2(JACARTA_READER).id(), JACARTA_SERIAL);
    removeToken(JACARTA_SPARE_READER, "JC2000000002");
}

TEST_F(TokenModels, ProbesFindTheirMakes)
{
    const auto rutokenModule = Pkcs11::instance(pkcs11::pkcs11Rutoken(), true);
    const CK_TOKEN_INFO rutoken = rutokenModule->tokenInfo(pkcs11::findRutokenEcp());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rutoken.serialNumber), 8), RUTOKEN_SERIAL);
    const auto jacartaModule = Pkcs11::instance(pkcs11::pkcs11jcPKCS11(), true);
    const CK_TOKEN_INFO jacarta = jacartaModule->tokenInfo(pkcs11::findCryptoTokenEP2());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(jacarta.serialNumber), 12), JACARTA_SERIAL);

    setFacts(RUTOKEN_SERIAL, "present=0");
    setFacts(JACARTA_SERIAL, "present=0");
    EXPECT_THROW(pkcs11::findRutokenEcp(), DeviceNotFound);
    EXPECT_THROW(pkcs11::findCryptoTokenEP2(), DeviceNotFound);
    setFacts(RUTOKEN_SERIAL, "present=1");
    setFacts(JACARTA_SERIAL, "present=1");
}

// ---- RSA on Rutoken ----

// SubjectPublicKeyInfo of an RSA key, written without the library.
gostsoft::Bytes rsaSpki(const RsaPublicKey& key)
{
    using namespace gostsoft;
    Bytes modulus = key.modulus;
    if (!modulus.empty() && (modulus[0] & 0x80)) {
        modulus.insert(modulus.begin(), 0x00);
    }
    const Bytes exponent = key.exponentData();
    const Bytes rsaKey = derElement(0x30, derConcat({derElement(0x02, modulus), derElement(0x02, exponent)}));
    const Bytes bitString = derConcat({Bytes{0x00}, rsaKey}); // no unused bits
    return derElement(0x30,
                      derConcat({derElement(0x30, derConcat({derOid("1.2.840.113549.1.1.1"), {0x05, 0x00}})),
                                 derElement(0x03, bitString)}));
}

TEST_F(TokenModels, RutokenRsaKeysOfValidSizesSignAsOpenSslVerifies)
{
    RuToken2 store(RUTOKEN_READER);
    store.setPin(PIN);
    for (const std::uint16_t bits : {1000, 4352, 256, 0}) {
        EXPECT_THROW(store.createNewRsaKey("rsa", 0, L"pw", bits), std::invalid_argument) << bits;
    }
    const auto key = store.createNewRsaKey("rsa 2048", 7, L"pw", 2048);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->signAlgorithm(), RSA_ENCRYPTION);
    ASSERT_EQ(store.getKeysList().count("rsa 2048"), 1u);

    const RsaPublicKey publicKey = store.getRsaPublicKey(key);
    EXPECT_EQ(publicKey.modulus.size(), 256u);
    const bytes data{'p', 'a', 'y', 'm', 'e', 'n', 't'};
    const std::vector<bytes> signatures = store.rsaSign(key, {data, data}, {SHA_256, SHA_1});
    ASSERT_EQ(signatures.size(), 2u);

    gostsoft::TempDir dir;
    gostsoft::writeFile(dir.file("key.pem"), gostsoft::toPem(rsaSpki(publicKey), "PUBLIC KEY"));
    gostsoft::writeFile(dir.file("data"), data);
    const struct {
        const char* digest;
        const bytes& signature;
    } checks[] = {{"sha256", signatures[0]}, {"sha1", signatures[1]}};
    for (const auto& check : checks) {
        gostsoft::writeFile(dir.file("sig"), check.signature);
        const auto result =
            gostsoft::run("openssl dgst -" + std::string(check.digest) + " -verify " + dir.file("key.pem") +
                          " -signature " + dir.file("sig") + " " + dir.file("data"));
        EXPECT_EQ(result.status, 0) << check.digest << ": " << result.output;
    }

    EXPECT_TRUE(store.verifyRsaSign(data, signatures[0], publicKey, SHA_256));
    EXPECT_FALSE(store.verifyRsaSign(bytes{'x'}, signatures[0], publicKey, SHA_256));
    EXPECT_THROW(store.rsaSign(key, {data, data}, {SHA_256}), std::out_of_range);
    store.deleteKey(key);
}

// An RSA pair whose record cannot be written, or whose key list cannot be
// read afterwards, is taken away again: no stray objects, no listed key,
// no cached password for it.
TEST_F(TokenModels, RutokenRsaKeyFailingAfterGenerationLeavesNothing)
{
    const std::string faults = std::string(std::getenv("ORMID_LAB_DIR")) + "/faults";
    const auto keyObjects = [] {
        const pkcs11::Helper helper(Pkcs11::instance(pkcs11::pkcs11Rutoken(), true), RUTOKEN_SERIAL,
                                    pkcs11::SessionMode::User, bytes{'1', '2', '3', '4', '5', '6', '7', '8'});
        return helper.findObjects({pkcs11::attribute(CKA_TOKEN, pkcs11::TRUE_VALUE)}).size();
    };
    RuToken2 store(RUTOKEN_READER);
    store.setPin(PIN);
    const std::size_t before = keyObjects();
    // The record write, and the listing's object search after it.
    for (const char* rule :
         {"C_SetAttributeValue nth 2 CKR_DEVICE_ERROR\n", "C_FindObjectsInit nth 4 CKR_DEVICE_ERROR\n"}) {
        SCOPED_TRACE(rule);
        gostsoft::writeFile(faults, gostsoft::Bytes(rule, rule + std::strlen(rule)));
        EXPECT_THROW(store.createNewRsaKey("rsa", 0, L"pw", 512), pkcs11::Exception);
        gostsoft::writeFile(faults, gostsoft::Bytes());
        EXPECT_EQ(keyObjects(), before);
        EXPECT_EQ(store.getKeysList().count("rsa"), 0u);
        EXPECT_THROW(store.getCachedPassword("rsa"), PasswordRequired);
    }
}

// ---- MS_KEY K passwords ----

// Replaces the key's password hash on the token, as software that hashed
// another encoding would have stored it.
void storePasswordHash(const std::shared_ptr<KeyRecord>& key, const bytes& passwordBytes)
{
    pkcs11::Helper helper(Pkcs11::instance(pkcs11::pkcs11Mskey(), true), MSKEY_SERIAL,
                          pkcs11::SessionMode::User, bytes{'1', '2', '3', '4', '5', '6', '7', '8'});
    const CK_OBJECT_HANDLE privateKey =
        helper.findKeyObject(pkcs11::key(key)->keyId(), pkcs11::PRIVATE_KEY_VALUE);
    helper.changeKeyPassword(privateKey, icrypto::gost3411Digest(passwordBytes), 16);
}

TEST_F(TokenModels, MsKeyCyrillicPasswordsInEitherEncodingCountOneFailurePerAttempt)
{
    const std::wstring password = L"пароль";
    const std::string cp1251 = encoding::utf16_to_cp1251(password);
    MSKeyKAngara store(MSKEY_READER);
    store.setPin(PIN);
    const auto key = store.createNewKey("cyrillic", 0, GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
                                        "1.2.643.2.2.35.1", "", password);

    const auto wrongTries = [&](std::wstring_view wrong) {
        try {
            store.setKeyPassword(key, wrong);
        } catch (const InvalidPassword& error) {
            return error.tries();
        }
        return -1;
    };
    // Set in UTF-8 (this library).
    EXPECT_NO_THROW(store.setKeyPassword(key, password));
    EXPECT_EQ(wrongTries(L"парол"), 15);
    EXPECT_EQ(wrongTries(L"wrong"), 14);

    // Set in Windows-1251 (older software).
    storePasswordHash(key, bytes(cp1251.begin(), cp1251.end()));
    EXPECT_NO_THROW(store.setKeyPassword(key, password));
    EXPECT_EQ(wrongTries(L"ПАРОЛЬ"), 15);
    EXPECT_EQ(wrongTries(L"ПАРОЛЬ"), 14);
    EXPECT_NO_THROW(store.setKeyPassword(key, password));
    EXPECT_EQ(wrongTries(L"парол"), 15);
    store.setKeyPassword(key, password);
    store.deleteKey(key);
}

} // namespace
