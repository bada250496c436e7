// The verification base over libgcrypt and a recording primitive, and which
// digests of the engine base run at once.
#include "cryptoprovider/core/verify_sign_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "asn1/der.h"
#include "cryptoprovider/core/cms_assembly.h"
#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/errors.h"
#include "pkcs7/errors.h"
#include "pkcs7/gost_fixture.h"
#include "soft_store.h"
#include "x509/errors.h"

using namespace softstore;
using cmstest::GostSigner;
using cmstest::toBytes;
using gostsoft::Curve;

namespace
{

const bytes CONTENT = toBytes("Payment order 17: 1500.00 RUB");

// ---- parameter sets ----

TEST(VerifyParams, KeyExchangeSetsBecomeSignatureSets)
{
    EXPECT_EQ(getGost3410Params("1.2.643.2.2.36.0"), "1.2.643.2.2.35.1");
    EXPECT_EQ(getGost3410Params("1.2.643.2.2.36.1"), "1.2.643.2.2.35.3");
    EXPECT_EQ(getGost3410Params("1.2.643.2.2.35.2"), "1.2.643.2.2.35.2");
    EXPECT_EQ(getGost3410Params("1.2.643.7.1.2.1.2.1"), "1.2.643.7.1.2.1.2.1");
    EXPECT_THROW(getGost3410Params(""), Gost3410ECParamsEmpty);
}

// ---- the base with libgcrypt as the primitive ----

struct Fixture {
    explicit Fixture(Curve curve) : signer(curve), store(std::make_shared<SoftKeyStore>())
    {
        record = store->addDeviceKey(
            "k", std::shared_ptr<const gostsoft::Key>(std::shared_ptr<void>(), &signer.key), signer.cert);
    }

    // Our CMS over `content`; `certHashFault` spoils the ESS hash.
    Pkcs7 ourCms(const bytes& content, bool certHashFault = false) const
    {
        DataForSign item;
        item.data = content;
        item.addSigningTime = true;
        item.addSigningCertificate = !certHashFault;
        item.withCertificates = true;
        AttachedContents none;
        auto attributes = generateSignedAttributes(store, {item}, record->x509(), record->digestAlgorithm(),
                                                   {}, false, none);
        if (certHashFault) {
            bytes hash = signer.key.digest(signer.cert.data());
            hash[3] ^= 0x40;
            attributes[0].insert(pkcs9::oid::SIGNING_CERTIFICATE_V2,
                                 pkcs9::signingCertificateV2(signer.cert, hash).derEncoding());
        }
        const bytes der = formCms(store->cmsSign(record, attributes, false), {item}, false, none).at(0);
        return Pkcs7(der, pkcs7::Format::SerialWithIssuer);
    }

    Pkcs7 theirCms(const bytes& content) const
    {
        gostsoft::writeFile(signer.dir.file("in.bin"), content);
        const auto made = gostsoft::openssl(
            "cms -sign -binary -cades -outform DER -in " + signer.dir.file("in.bin") + " -signer " +
            signer.certPem + " -inkey " + signer.keyPem + " -out " + signer.dir.file("theirs.p7s"));
        if (made.status != 0) {
            throw std::runtime_error(made.output);
        }
        return Pkcs7(gostsoft::readFile(signer.dir.file("theirs.p7s")), pkcs7::Format::SerialWithIssuer);
    }

    PublicKey certificateKey() const { return signer.cert.publicKey(Endian::Big); }

    GostSigner signer;
    std::shared_ptr<SoftKeyStore> store;
    std::shared_ptr<KeyRecord> record;
};

class VerifyCms : public ::testing::TestWithParam<Curve>
{
};

TEST_P(VerifyCms, OursAndOpensslsAcceptedFaultsRejected)
{
    const Fixture f(GetParam());
    const Fixture stranger(GetParam());
    SoftVerifyEngine engine;
    bytes tampered = CONTENT;
    tampered[0] ^= 0x01;
    const std::string params = f.signer.cert.gost3410ParamsOid();

    for (const bool ours : {true, false}) {
        SCOPED_TRACE(ours ? "ours" : "openssl");
        const Pkcs7 cms = ours ? f.ourCms(CONTENT) : f.theirCms(CONTENT);
        const auto& signers = cms.signerInfos();
        EXPECT_TRUE(engine.verifyCades(CONTENT, signers));
        EXPECT_TRUE(engine.verifyCmsSign(CONTENT, signers, false, f.certificateKey(), params));
        EXPECT_FALSE(engine.verifyCades(tampered, signers));
        EXPECT_FALSE(engine.verifyCmsSign(tampered, signers, false, f.certificateKey(), params));
        EXPECT_FALSE(engine.verifyCmsSign(CONTENT, signers, false, stranger.certificateKey(), params));
    }
    // A certificate hash that does not match fails the CAdES check only.
    const Pkcs7 wrongHash = f.ourCms(CONTENT, true);
    EXPECT_FALSE(engine.verifyCertDigest(wrongHash.signerInfos()[0]));
    EXPECT_FALSE(engine.verifyCades(CONTENT, wrongHash.signerInfos()));
    EXPECT_TRUE(engine.verifyCmsSign(CONTENT, wrongHash.signerInfos(), false, f.certificateKey(), params));
}

TEST_P(VerifyCms, RawSignaturesInBothModes)
{
    const Fixture f(GetParam());
    SoftVerifyEngine engine;
    const AlgorithmId& algorithm = f.record->signAlgorithm();
    const std::string params = f.record->algParamsOid();

    const bytes standard = f.store->rawSign(f.record, {CONTENT}, false, {}).at(0);
    EXPECT_TRUE(engine.verifyRawSign(CONTENT, standard, f.store->publicKey(f.record, Endian::Big), algorithm,
                                     params, false));
    const bytes legacy = f.store->rawSign(f.record, {CONTENT}, true, {}).at(0);
    EXPECT_TRUE(engine.verifyRawSign(CONTENT, legacy, f.store->publicKey(f.record, Endian::Little), algorithm,
                                     params, true));
    // Crossing the conventions fails.
    EXPECT_FALSE(engine.verifyRawSign(CONTENT, legacy, f.store->publicKey(f.record, Endian::Big), algorithm,
                                      params, false));
    EXPECT_FALSE(engine.verifyRawSign(toBytes("other"), standard, f.store->publicKey(f.record, Endian::Big),
                                      algorithm, params, false));
}

TEST_P(VerifyCms, LegacyMessageRoundTrip)
{
    const Fixture f(GetParam());
    SoftVerifyEngine engine;
    DataForSign item;
    item.data = CONTENT;
    item.attached = true;
    AttachedContents none;
    const auto attributes =
        generateSignedAttributes(f.store, {item}, X509(), f.record->digestAlgorithm(), {}, true, none);
    const bytes der = formCms(f.store->cmsSign(f.record, attributes, true), {item}, true, none).at(0);
    const Pkcs7 cms(der, pkcs7::Format::SerialOnly);
    const PublicKey produced = f.store->publicKey(f.record, Endian::Little);
    const std::string params = f.record->algParamsOid();
    EXPECT_TRUE(engine.verifyCmsSign(cms.content(), cms.signerInfos(), true, produced, params));
    // The standard conventions do not read a legacy message.
    EXPECT_FALSE(engine.verifyCmsSign(cms.content(), cms.signerInfos(), false, produced, params));
}

INSTANTIATE_TEST_SUITE_P(Keys, VerifyCms, ::testing::Values(Curve::CryptoProA256, Curve::Tc26A512));

TEST(VerifyCms, KeyExchangeParameterSetVerifiesAsItsSignatureSet)
{
    const Fixture f(Curve::CryptoProA256);
    SoftVerifyEngine engine;
    const bytes signature = f.store->rawSign(f.record, {CONTENT}, false, {}).at(0);
    EXPECT_TRUE(engine.verifyRawSign(CONTENT, signature, f.certificateKey(), f.record->signAlgorithm(),
                                     "1.2.643.2.2.36.0", false));
}

TEST(VerifyErrors, MalformedRequests)
{
    const Fixture f(Curve::CryptoProA256);
    SoftVerifyEngine engine;
    const Pkcs7 cms = f.ourCms(CONTENT);
    const SignerInfo& signer = cms.signerInfos()[0];
    const AlgorithmId& algorithm = f.record->signAlgorithm();
    const std::string params = f.record->algParamsOid();

    EXPECT_THROW(engine.verifyCmsSign(CONTENT, {}, false, f.certificateKey(), params), std::invalid_argument);
    EXPECT_THROW(engine.verifyCades(CONTENT, {}), std::invalid_argument);
    try {
        engine.verifyCmsSign(CONTENT, {signer, signer}, false, f.certificateKey(), params);
        ADD_FAILURE() << "two signers accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), cp::localization.get("CP-011002"));
    }
    EXPECT_THROW(engine.verifyCmsSign(CONTENT, {signer}, false, PublicKey(), params), PublicKeyEmpty);
    EXPECT_THROW(engine.verifyCmsSign(CONTENT, {signer}, false, f.certificateKey(), ""),
                 Gost3410ECParamsEmpty);
    EXPECT_THROW(engine.verifyCmsSign(CONTENT, {signer}, false, f.certificateKey(), "1.2.643.7.1.2.1.2.1"),
                 Gost3410ECParamsIncompatible);
    EXPECT_THROW(engine.verifyContentDigest({}, signer, false), std::runtime_error);
    EXPECT_THROW(engine.verifyRawSign({}, toBytes("s"), f.certificateKey(), algorithm, params, false),
                 std::runtime_error);
    EXPECT_THROW(engine.verifyRawSign(CONTENT, {}, f.certificateKey(), algorithm, params, false),
                 std::runtime_error);
    EXPECT_THROW(engine.verifyRawSign(CONTENT, toBytes("s"), PublicKey(), algorithm, params, false),
                 PublicKeyEmpty);
    EXPECT_THROW(engine.verifyRawSign(CONTENT, toBytes("s"), f.certificateKey(), algorithm, "", false),
                 Gost3410ECParamsEmpty);
    EXPECT_THROW(engine.verifySign(CONTENT, toBytes("s"), PublicKey(RsaPublicKey{{1, 0, 1}, 65537}),
                                   SHA256_WITH_RSA_ENCRYPTION, "", false),
                 FunctionNotImplemented);

    // CAdES checks need the signer's certificate.
    const SignerInfo noCertificate(signer.serial(), signer.signature(pkcs7::Format::SerialOnly),
                                   signer.attributes(), signer.signAlgorithmId(), signer.digestAlgorithmId(),
                                   X509(), pkcs7::Format::SerialWithIssuer);
    EXPECT_THROW(engine.verifyCertDigest(noCertificate), CertificateNotFound);
    EXPECT_THROW(engine.verifyCades(CONTENT, {noCertificate}), CertificateNotFound);
    // ...and the signingCertificateV2 attribute.
    DataForSign item;
    item.data = CONTENT;
    AttachedContents none;
    const auto bare =
        generateSignedAttributes(f.store, {item}, X509(), f.record->digestAlgorithm(), {}, false, none);
    const Pkcs7 withoutEss = f.store->cmsSign(f.record, bare, false).at(0);
    EXPECT_THROW(engine.verifyCades(CONTENT, withoutEss.signerInfos()), pkcs9::NoAttribute);
}

// ---- what reaches the primitive ----

struct CountingDigest : SoftDigestEngine {
    void init(const AlgorithmId& algorithm, std::string_view params) override
    {
        ++inits;
        SoftDigestEngine::init(algorithm, params);
    }
    int inits = 0;
};

struct Recorded {
    bytes signature;
    bytes publicKey;
    std::string params;
    bool kalvaMode = false;
};

class RecordingEngine : public VerifySignEngine
{
  public:
    explicit RecordingEngine(std::shared_ptr<CountingDigest> digest)
        : VerifySignEngine(digest), counter(digest)
    {
    }
    bool verifyGostSign(const bytes&, const bytes& signature, const bytes& publicKey, const AlgorithmId&,
                        std::string_view params, bool kalvaMode) override
    {
        calls.push_back({signature, publicKey, std::string(params), kalvaMode});
        return true;
    }
    std::vector<Recorded> calls;
    std::shared_ptr<CountingDigest> counter;
};

TEST(VerifyPrimitive, OrientationOfSignatureAndKey)
{
    const bytes ab{0xA0, 0xA1, 0xA2, 0xB0, 0xB1, 0xB2};
    const bytes xy{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    const struct {
        bool kalvaMode;
        const char* params;
        bytes signature;
        bytes publicKey;
        const char* reachedParams;
    } cases[] = {
        {false,
         "1.2.643.2.2.36.1",
         {0xB0, 0xB1, 0xB2, 0xA0, 0xA1, 0xA2},
         {0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05},
         "1.2.643.2.2.35.3"},
        {true, "1.2.643.2.2.36.0", ab, xy, "1.2.643.2.2.35.1"},
        {false,
         "1.2.643.7.1.2.1.1.1",
         {0xB0, 0xB1, 0xB2, 0xA0, 0xA1, 0xA2},
         {0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05},
         "1.2.643.7.1.2.1.1.1"},
    };
    for (const auto& c : cases) {
        RecordingEngine engine(std::make_shared<CountingDigest>());
        EXPECT_TRUE(engine.verifyRawSign(CONTENT, ab, PublicKey(xy),
                                         GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, c.params,
                                         c.kalvaMode));
        ASSERT_EQ(engine.calls.size(), 1u);
        EXPECT_EQ(engine.calls[0].signature, c.signature) << c.params;
        EXPECT_EQ(engine.calls[0].publicKey, c.publicKey) << c.params;
        EXPECT_EQ(engine.calls[0].params, c.reachedParams);
        EXPECT_EQ(engine.calls[0].kalvaMode, c.kalvaMode);
    }
}

TEST(VerifyPrimitive, ChecksBeforeThePrimitive)
{
    const Fixture f(Curve::CryptoProA256);
    const Pkcs7 cms = f.ourCms(CONTENT);
    const SignerInfo& signer = cms.signerInfos()[0];

    RecordingEngine engine(std::make_shared<CountingDigest>());
    EXPECT_THROW(
        engine.verifyCmsSign(CONTENT, {signer, signer}, false, f.certificateKey(), "1.2.643.2.2.35.1"),
        std::invalid_argument);
    EXPECT_EQ(engine.counter->inits, 0); // refused before any hashing

    // A message digest that does not match ends the check before the primitive.
    EXPECT_FALSE(
        engine.verifyCmsSign(toBytes("other"), {signer}, false, f.certificateKey(), "1.2.643.2.2.35.1"));
    EXPECT_FALSE(engine.verifyCades(toBytes("other"), {signer}));
    EXPECT_TRUE(engine.calls.empty());

    // The signed attributes reach it as their SET, the signature as stored.
    EXPECT_TRUE(engine.verifyCmsSign(CONTENT, {signer}, false, f.certificateKey(), "1.2.643.2.2.35.1"));
    ASSERT_EQ(engine.calls.size(), 1u);
    EXPECT_EQ(engine.calls[0].signature, signer.signature(pkcs7::Format::SerialOnly));
    EXPECT_EQ(engine.calls[0].publicKey, f.store->publicKey(f.record, Endian::Little).gostKey());
}

// ---- digests ----

// Counts the digests inside it; update waits while the gate is closed.
class GatedEngine : public DigestEngine
{
  public:
    void init(const AlgorithmId&, std::string_view) override
    {
        std::lock_guard lock(m_state);
        if (++m_inside > 1) {
            overlapped = true;
        }
        m_changed.notify_all();
    }
    void update(const bytes&) override
    {
        ++updates;
        std::unique_lock lock(m_state);
        m_changed.wait(lock, [this] { return m_open; });
    }
    bytes doFinal(Endian endian) override
    {
        std::lock_guard lock(m_state);
        --m_inside;
        return {static_cast<unsigned char>(endian)};
    }

    void setOpen(bool open)
    {
        std::lock_guard lock(m_state);
        m_open = open;
        m_changed.notify_all();
    }
    void waitUntilInside()
    {
        std::unique_lock lock(m_state);
        m_changed.wait(lock, [this] { return m_inside > 0; });
    }

    std::atomic<bool> overlapped{false};
    std::atomic<int> updates{0};

  private:
    std::mutex m_state;
    std::condition_variable m_changed;
    int m_inside = 0;
    bool m_open = true;
};

// Threads sharing one engine get whole digests, one at a time.
TEST(DigestEngineBase, OneDigestAtATimeOnOneEngine)
{
    GatedEngine engine;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                engine.digest({1, 2, 3}, GOST_R_3411_2012_256, Endian::Little, "");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(engine.overlapped);
    EXPECT_EQ(engine.updates, 1200);

    // Empty data skips the update step; the byte order reaches doFinal.
    EXPECT_EQ(engine.digest({}, GOST_R_3411_2012_256, Endian::Big, ""), bytes{0});
    EXPECT_EQ(engine.updates, 1200);
}

// A digest held inside one engine (a large document on one token) does not
// hold up a digest of another engine (another session's token).
TEST(DigestEngineBase, DigestsOfTwoEnginesRunAtOnce)
{
    GatedEngine held;
    GatedEngine other;
    held.setOpen(false);
    std::thread holder([&] { held.digest({1}, GOST_R_3411_2012_256, Endian::Big, ""); });
    held.waitUntilInside();

    auto second = std::async(std::launch::async,
                             [&] { return other.digest({2}, GOST_R_3411_2012_256, Endian::Little, ""); });
    // Only a guard against hanging: the second digest does not wait for the first.
    const bool finished = second.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    EXPECT_TRUE(finished) << "the second engine's digest waited for the first";
    held.setOpen(true);
    holder.join();
    EXPECT_EQ(second.get(), bytes{1});
}

} // namespace
