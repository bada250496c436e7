// Token digests against libgcrypt, their life cycle, and GOST verification
// on the tokens against signatures made by an independent signer and by the
// tokens themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include <gcrypt.h>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/module_paths.h"
#include "cryptoprovider/pkcs11/token_engines.h"
#include "cryptoprovider/pkcs11/token_models.h"
#include "cryptoprovider/pkcs11/token_probes.h"
#include "lab_tokens.h"
#include "support/gost_soft.h"
#include "x509/errors.h"

namespace
{

using namespace labtokens;

bytes gcryptDigest(int algorithm, const bytes& data)
{
    bytes digest(gcry_md_get_algo_dlen(algorithm));
    gcry_md_hash_buffer(algorithm, digest.data(), data.data(), data.size());
    return digest;
}

bytes reversed(bytes value)
{
    std::reverse(value.begin(), value.end());
    return value;
}

bytes message(std::size_t size)
{
    bytes data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    return data;
}

struct NamedEngine {
    const char* name;
    std::function<std::shared_ptr<DigestEngine>()> make;
};

std::vector<NamedEngine> engines()
{
    return {
        {"Rutoken",
         [] {
             return std::make_shared<pkcs11::DigestPkcs11>(pkcs11::pkcs11Rutoken(), pkcs11::findRutokenEcp(),
                                                           pkcs11::SessionMode::Public);
         }},
        {"JaCarta",
         [] {
             return std::make_shared<pkcs11::DigestPkcs11>(
                 pkcs11::pkcs11jcPKCS11(), pkcs11::findCryptoTokenEP2(), pkcs11::SessionMode::Rescan);
         }},
        {"Angara", [] { return std::make_shared<pkcs11::DigestAngara>(); }},
    };
}

class TokenEngines : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        gcry_check_version(nullptr);
        useLabModules();
    }
    void TearDown() override { useLabModules(); }
};

TEST_F(TokenEngines, DigestsEqualLibgcryptInEitherByteOrder)
{
    const struct {
        const AlgorithmId& algorithm;
        int reference;
    } algorithms[] = {
        {GOST_R_3411_1994, GCRY_MD_GOSTR3411_CP},
        {GOST_R_3411_2012_256, GCRY_MD_STRIBOG256},
        {GOST_R_3411_2012_512, GCRY_MD_STRIBOG512},
        {SHA_256, GCRY_MD_SHA256},
    };
    const bytes data = message(1000);
    for (const NamedEngine& named : engines()) {
        const auto engine = named.make();
        for (const auto& a : algorithms) {
            SCOPED_TRACE(std::string(named.name) + " " + a.algorithm.name());
            const bytes expected = gcryptDigest(a.reference, data);
            // In parts, then whole: the same engine hashes again after doFinal.
            engine->init(a.algorithm, gost3411::paramSet(false));
            engine->update(bytes(data.begin(), data.begin() + 333));
            engine->update(bytes(data.begin() + 333, data.end()));
            EXPECT_EQ(engine->doFinal(Endian::Big), expected);
            const bytes little = engine->digest(data, a.algorithm, Endian::Little, gost3411::paramSet(false));
            EXPECT_EQ(little, a.algorithm.isGost() ? reversed(expected) : expected);
            EXPECT_EQ(engine->digest({}, a.algorithm, Endian::Big, gost3411::paramSet(false)),
                      gcryptDigest(a.reference, {}));
        }
    }
}

TEST_F(TokenEngines, DigestLifeCycle)
{
    for (const NamedEngine& named : engines()) {
        SCOPED_TRACE(named.name);
        const auto engine = named.make();
        EXPECT_THROW(engine->update({1}), DigestContextNotInitialized);
        EXPECT_THROW(engine->doFinal(Endian::Big), DigestContextNotInitialized);

        EXPECT_THROW(engine->init(GOST_R_3411_1994, gost3411::paramSet(true)), FunctionNotImplemented);
        EXPECT_THROW(engine->update({1}), DigestContextNotInitialized);
        EXPECT_THROW(engine->init(RSA_ENCRYPTION, ""), UnsupportedAlgorithm);

        // An unfinished hash is dropped by the next init.
        engine->init(SHA_256, "");
        engine->update({'j', 'u', 'n', 'k'});
        engine->init(SHA_256, "");
        engine->update({'a', 'b', 'c'});
        EXPECT_EQ(engine->doFinal(Endian::Big), gcryptDigest(GCRY_MD_SHA256, {'a', 'b', 'c'}));
        EXPECT_THROW(engine->doFinal(Endian::Big), DigestContextNotInitialized);
    }
}

TEST_F(TokenEngines, RutokenHashesWithoutTheAngaraLibrary)
{
    RuToken2 rutoken(RUTOKEN_READER);
    EXPECT_TRUE(std::dynamic_pointer_cast<pkcs11::DigestAngara>(rutoken.digestEngine()));

    gostsoft::TempDir empty;
    pkcs11::setMsKeyAngaraPkcs11Path(empty.path().string());
    EXPECT_THROW(pkcs11::DigestAngara(), Pkcs11LoadError);
    const auto engine = rutoken.digestEngine();
    EXPECT_TRUE(std::dynamic_pointer_cast<pkcs11::DigestPkcs11>(engine));
    const bytes data = message(100);
    EXPECT_EQ(rutoken.digest(data, GOST_R_3411_2012_256, Endian::Big, gost3411::paramSet(false)),
              gcryptDigest(GCRY_MD_STRIBOG256, data));
}

// ---- verification ----

struct SoftCase {
    gostsoft::Curve curve;
    const AlgorithmId& algorithm;
};

const SoftCase SOFT_CASES[] = {
    {gostsoft::Curve::CryptoProA256, GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
    {gostsoft::Curve::Tc26A512, GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN},
};

// Verifies s||r (the CMS form) of `data` with the key as a certificate
// carries it, through the verification base as every caller does.
bool verifies(VerifySignEngine& engine, const bytes& data, const bytes& signature, const bytes& publicKey,
              const AlgorithmId& algorithm, const std::string& paramsOid)
{
    return engine.verifyRawSign(data, signature, PublicKey(publicKey), algorithm, paramsOid, false);
}

bytes tampered(bytes value)
{
    value[value.size() / 2] ^= 0x01;
    return value;
}

TEST_F(TokenEngines, IndependentSignaturesVerifyOnEachMake)
{
    const bytes data = message(300);
    pkcs11::VerifySignAngara angara;
    const std::shared_ptr<HardwareDevice> devices[] = {std::make_shared<RuToken2>(RUTOKEN_READER),
                                                       std::make_shared<MSKeyKAngara>(MSKEY_READER),
                                                       std::make_shared<CryptoTokenEP2>(JACARTA_READER)};
    for (const SoftCase& c : SOFT_CASES) {
        const gostsoft::Key key = gostsoft::Key::generate(c.curve);
        const bytes signature = key.sign(data);
        const bytes publicKey = key.publicKey();
        const std::string params = key.paramSetOid();
        SCOPED_TRACE(params);
        EXPECT_TRUE(verifies(angara, data, signature, publicKey, c.algorithm, params));
        EXPECT_FALSE(verifies(angara, tampered(data), signature, publicKey, c.algorithm, params));
        EXPECT_FALSE(verifies(angara, data, tampered(signature), publicKey, c.algorithm, params));
        for (const auto& device : devices) {
            SCOPED_TRACE(device->cryptoType());
            VerifySignHwDevice engine(device->digestEngine(), device);
            if (device->cryptoType() == "jacarta_2" && key.is512()) {
                EXPECT_THROW(verifies(engine, data, signature, publicKey, c.algorithm, params),
                             UnsupportedAlgorithm);
                continue;
            }
            EXPECT_TRUE(verifies(engine, data, signature, publicKey, c.algorithm, params));
            EXPECT_FALSE(verifies(engine, tampered(data), signature, publicKey, c.algorithm, params));
            EXPECT_FALSE(verifies(engine, data, signature, tampered(publicKey), c.algorithm, params));
        }
    }
}

TEST_F(TokenEngines, TokenSignaturesVerifyWithTheKeyTheTokenShows)
{
    const bytes data = message(64);
    const std::wstring pin = L"12345678";
    const std::shared_ptr<Pkcs11Token> stores[] = {std::make_shared<RuToken2>(RUTOKEN_READER),
                                                   std::make_shared<MSKeyKAngara>(MSKEY_READER),
                                                   std::make_shared<CryptoTokenEP2>(JACARTA_READER)};
    pkcs11::VerifySignAngara angara;
    const AlgorithmId& algorithm = GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN;
    const std::string params = "1.2.643.2.2.35.1";
    for (const auto& store : stores) {
        SCOPED_TRACE(store->cryptoType());
        store->setPin(pin);
        const auto key = store->createNewKey("verify me", 0, algorithm, params, "", L"");
        const bytes signature = store->rawSign(key, {data}, false, {}).at(0);
        const bytes publicKey = store->publicKey(key, Endian::Big).gostKey(); // as a certificate carries it
        VerifySignHwDevice engine(store->digestEngine(), store);
        EXPECT_TRUE(verifies(engine, data, signature, publicKey, algorithm, params));
        EXPECT_TRUE(verifies(angara, data, signature, publicKey, algorithm, params));
        EXPECT_FALSE(verifies(engine, tampered(data), signature, publicKey, algorithm, params));
        store->deleteKey(key);
    }
}

} // namespace
