// The CSP's digest and verification engines on the lab's CSP: digests equal
// libgcrypt's, and raw and CMS verification through the engines' base with
// keys and signatures made by the CSP.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "capi/crypto_pro_container.h"
#include "capi/csp_engines.h"
#include "container_lab.h"
#include "cryptoprovider/core/errors.h"
#include "csp_lab.h"
#include "x509/errors.h"

namespace
{

using containerlab::Bytes;
using csplab::CspLab;

const Bytes STATEMENT{'s', 't', 'a', 't', 'e', 'm', 'e', 'n', 't'};

Bytes reversed(Bytes value)
{
    std::reverse(value.begin(), value.end());
    return value;
}

TEST_F(CspLab, DigestEngineEqualsLibgcrypt)
{
    struct Case {
        AlgorithmId algorithm;
        std::string paramsOid;
        int gcrypt;
    };
    const Case cases[] = {
        {GOST_R_3411_1994, gost3411::CRYPTOPRO_PARAM_SET.toString(), GCRY_MD_GOSTR3411_CP},
        {GOST_R_3411_1994, gost3411::TEST_PARAM_SET.toString(), GCRY_MD_GOSTR3411_94},
        {GOST_R_3411_2012_256, "", GCRY_MD_STRIBOG256},
        {GOST_R_3411_2012_512, "", GCRY_MD_STRIBOG512},
        {SHA_256, "", GCRY_MD_SHA256},
        {SHA_1, "", GCRY_MD_SHA1},
    };
    Bytes longer(100000);
    for (std::size_t i = 0; i < longer.size(); ++i)
        longer[i] = static_cast<std::uint8_t>(i * 7);
    capi::DigestCryptoApi engine;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.algorithm.name() + " " + c.paramsOid);
        for (const Bytes& data : {Bytes{}, STATEMENT, longer}) {
            const Bytes expected = containerlab::gcryptDigest(c.gcrypt, data);
            // In two pieces through the steps, and in one through digest().
            engine.init(c.algorithm, c.paramsOid);
            engine.update(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(data.size() / 3)));
            engine.update(Bytes(data.begin() + static_cast<std::ptrdiff_t>(data.size() / 3), data.end()));
            EXPECT_EQ(engine.doFinal(Endian::Big), expected);
            const Bytes little = engine.digest(data, c.algorithm, Endian::Little, c.paramsOid);
            EXPECT_EQ(little, c.algorithm.isGost() ? reversed(expected) : expected);
        }
    }
}

TEST_F(CspLab, DigestEngineRefusals)
{
    capi::DigestCryptoApi engine;
    EXPECT_THROW(engine.update(STATEMENT), DigestContextNotInitialized);
    EXPECT_THROW(engine.doFinal(Endian::Big), DigestContextNotInitialized);
    engine.init(GOST_R_3411_2012_256, "");
    engine.doFinal(Endian::Big);
    // A finished hash is gone.
    EXPECT_THROW(engine.doFinal(Endian::Big), DigestContextNotInitialized);
    EXPECT_THROW(engine.init(RSA_ENCRYPTION, ""), UnsupportedAlgorithm);
    EXPECT_THROW(engine.update(STATEMENT), DigestContextNotInitialized);
    // A new init drops the hash in progress.
    engine.init(GOST_R_3411_2012_256, "");
    engine.update(STATEMENT);
    engine.init(GOST_R_3411_2012_512, "");
    EXPECT_EQ(engine.doFinal(Endian::Big), containerlab::gcryptDigest(GCRY_MD_STRIBOG512, {}));
}

TEST_F(CspLab, VerificationEngineChecksTheCspsRawSignatures)
{
    capi::VerifySignCryptoApi engine(std::make_shared<capi::DigestCryptoApi>());
    for (const auto& kind : containerlab::keyKinds()) {
        SCOPED_TRACE(kind.name);
        CryptoProContainer store;
        store.createNewKey(std::string("verify ") + kind.name, 0, kind.algorithm, kind.paramsOid, "cryptopro",
                           L"");
        const auto key = store.key();
        const PublicKey publicKey = store.publicKey(key, Endian::Big);

        const Bytes signature = store.rawSign(key, {STATEMENT}, false, {}).at(0);
        EXPECT_TRUE(engine.verifyRawSign(STATEMENT, signature, publicKey, kind.algorithm, kind.paramsOid, false));
        Bytes wrong = signature;
        wrong[5] ^= 0x01;
        EXPECT_FALSE(engine.verifyRawSign(STATEMENT, wrong, publicKey, kind.algorithm, kind.paramsOid, false));
        EXPECT_FALSE(
            engine.verifyRawSign(Bytes{'x'}, signature, publicKey, kind.algorithm, kind.paramsOid, false));

        const Bytes legacy = store.rawSign(key, {STATEMENT}, true, {}).at(0);
        const PublicKey legacyKey = store.publicKey(key, Endian::Little);
        if (isGost34102001(kind.algorithm)) {
            // The CSP hashes with the CryptoPro parameters only.
            EXPECT_THROW(engine.verifyRawSign(STATEMENT, legacy, legacyKey, kind.algorithm, kind.paramsOid, true),
                         FunctionNotImplemented);
        } else {
            EXPECT_TRUE(engine.verifyRawSign(STATEMENT, legacy, legacyKey, kind.algorithm, kind.paramsOid, true));
        }
    }
}

TEST_F(CspLab, VerificationEngineChecksOpensslsCades)
{
    const cmstest::GostSigner signer(gostsoft::Curve::Tc26A512);
    gostsoft::writeFile(signer.dir.file("in.bin"), STATEMENT);
    const auto made = gostsoft::openssl("cms -sign -binary -cades -outform DER -in " +
                                        signer.dir.file("in.bin") + " -signer " + signer.certPem +
                                        " -inkey " + signer.keyPem + " -out " + signer.dir.file("m.p7s"));
    ASSERT_EQ(made.status, 0) << made.output;
    const Pkcs7 cms(gostsoft::readFile(signer.dir.file("m.p7s")), pkcs7::Format::SerialWithIssuer);
    const auto engine =
        std::make_shared<capi::VerifySignCryptoApi>(std::make_shared<capi::DigestCryptoApi>());
    const std::string params = signer.cert.gost3410ParamsOid();
    EXPECT_TRUE(engine->verifyCades(STATEMENT, cms.signerInfos()));
    EXPECT_TRUE(
        engine->verifyCmsSign(STATEMENT, cms.signerInfos(), false, signer.cert.publicKey(Endian::Big), params));
    Bytes tampered = STATEMENT;
    tampered[0] ^= 0x01;
    EXPECT_FALSE(engine->verifyCades(tampered, cms.signerInfos()));
    const cmstest::GostSigner stranger(gostsoft::Curve::Tc26A512);
    EXPECT_FALSE(
        engine->verifyCmsSign(STATEMENT, cms.signerInfos(), false, stranger.cert.publicKey(Endian::Big), params));
}

} // namespace
