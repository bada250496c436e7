// Our CMS checked by independent verifiers (openssl with the gost engine,
// and Bouncy Castle when ORMID_BC_VERIFIER names its command), and CMS made
// by openssl read back by our parser.
#include <gtest/gtest.h>

#include <cstdlib>

#include "asn1/der.h"
#include "gost_fixture.h"
#include "pkcs7/attributes.h"
#include "pkcs7/pkcs7.h"

using namespace cmstest;
using gostsoft::Curve;

namespace
{

const Bytes CONTENT = toBytes("Payment order 17: 1500.00 RUB to account 40702810900000000001\n");

struct Message {
    Bytes der;
    bool attached = false;
};

// Signed attributes for `content`, signed with the fixture key, wrapped with
// format 1. `corrupt` names a fault to build in.
enum class Fault { None, SignatureHalvesNotSwapped, WrongCertificateHash };

Message makeCms(const GostSigner& signer, const Bytes& content, bool attached, Fault fault = Fault::None)
{
    Bytes certHash = signer.key.digest(signer.cert.data());
    if (fault == Fault::WrongCertificateHash)
        certHash[0] ^= 0x01;
    const pkcs9::Attributes attributes = pkcs9::generateSignedAttributes(
        signer.key.digest(content), {}, true, pkcs9::signingCertificateV2(signer.cert, certHash), {}, {});
    const Bytes signedBytes = attributes.derEncoding();
    Bytes stored = signer.storedSignature(signedBytes);
    if (fault == Fault::SignatureHalvesNotSwapped)
        stored = swapHalves(stored);
    Pkcs7 cms(signer.cert, stored, attributes, pkcs7::Format::SerialWithIssuer);
    if (attached)
        cms.setContent(content);
    return {cms.derEncoding(true), attached};
}

// Exit code of `openssl cms -verify -cades` (0 accepted).
int opensslVerify(const GostSigner& signer, const Message& message, const Bytes& content)
{
    gostsoft::writeFile(signer.dir.file("m.p7s"), message.der);
    gostsoft::writeFile(signer.dir.file("m.txt"), content);
    std::string args = "cms -verify -cades -binary -inform DER -in " + signer.dir.file("m.p7s") +
                       " -CAfile " + signer.certPem + " -out " + signer.dir.file("out.txt");
    if (!message.attached)
        args += " -content " + signer.dir.file("m.txt");
    const auto result = gostsoft::openssl(args);
    if (result.status == 0) {
        EXPECT_EQ(gostsoft::readFile(signer.dir.file("out.txt")), content);
    }
    return result.status;
}

const char* bcVerifier()
{
    const char* command = std::getenv("ORMID_BC_VERIFIER");
    return command && *command ? command : nullptr;
}

// Messages for one Bouncy Castle run (one JVM start for many messages).
class BcBatch
{
  public:
    explicit BcBatch(const GostSigner& signer) : m_signer(signer) {}

    void add(const Message& message, const Bytes& content, bool accept)
    {
        const std::string base = m_signer.dir.file("bc" + std::to_string(m_count++));
        gostsoft::writeFile(base + ".p7s", message.der);
        gostsoft::writeFile(base + ".txt", content);
        m_args += std::string(accept ? " accept " : " reject ") + base + ".p7s " +
                  (message.attached ? std::string("-") : base + ".txt");
    }

    // Every message met its expectation.
    void check() const
    {
        const auto result = gostsoft::run(std::string(bcVerifier()) + m_args);
        EXPECT_EQ(result.status, 0) << result.output;
    }

  private:
    const GostSigner& m_signer;
    int m_count = 0;
    std::string m_args;
};

struct InteropCase {
    const char* name;
    Curve curve;
    CertificateMaker maker;
    bool bouncyCastle; // BC reads TC26-256-A keys only with a digest parameter
};

class CmsInterop : public ::testing::TestWithParam<InteropCase>
{
};

TEST_P(CmsInterop, IndependentVerifiersAcceptOursAndRejectFaults)
{
    const GostSigner signer(GetParam().curve, "/CN=Test signer/O=Lab/C=RU", GetParam().maker);
    Bytes tampered = CONTENT;
    tampered[5] ^= 0x20;
    const bool withBc = bcVerifier() != nullptr && GetParam().bouncyCastle;
    BcBatch bc(signer);

    for (bool attached : {false, true}) {
        SCOPED_TRACE(attached ? "attached" : "detached");
        const Message good = makeCms(signer, CONTENT, attached);
        EXPECT_EQ(opensslVerify(signer, good, CONTENT), 0);
        bc.add(good, CONTENT, true);

        // Tampered content: for attached messages the content inside changes.
        Message changed = good;
        if (attached) {
            Pkcs7 cms(good.der, pkcs7::Format::SerialWithIssuer);
            cms.setContent(tampered);
            changed.der = cms.derEncoding(true);
        }
        EXPECT_NE(opensslVerify(signer, changed, tampered), 0);
        bc.add(changed, tampered, false);

        const Message halves = makeCms(signer, CONTENT, attached, Fault::SignatureHalvesNotSwapped);
        EXPECT_NE(opensslVerify(signer, halves, CONTENT), 0);
        bc.add(halves, CONTENT, false);

        const Message wrongHash = makeCms(signer, CONTENT, attached, Fault::WrongCertificateHash);
        EXPECT_NE(opensslVerify(signer, wrongHash, CONTENT), 0);
    }
    if (withBc)
        bc.check();
}

INSTANTIATE_TEST_SUITE_P(
    Keys, CmsInterop,
    ::testing::Values(
        InteropCase{"CryptoProA256", Curve::CryptoProA256, CertificateMaker::Openssl, true},
        InteropCase{"Tc26A256", Curve::Tc26A256, CertificateMaker::Openssl, false},
        InteropCase{"Tc26A512", Curve::Tc26A512, CertificateMaker::Openssl, true},
        // Our certificates carry the digest parameter, so BC reads TC26-256-A keys.
        InteropCase{"Tc26A256OurCertificate", Curve::Tc26A256, CertificateMaker::OurBuilder, true},
        InteropCase{"Tc26A512OurCertificate", Curve::Tc26A512, CertificateMaker::OurBuilder, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- messages made by openssl, read by our parser ----

Bytes opensslSign(const GostSigner& signer, const std::string& options, const Bytes& content,
                  const std::string& extraSigner = "")
{
    gostsoft::writeFile(signer.dir.file("in.txt"), content);
    const auto result = gostsoft::openssl(
        "cms -sign -binary -outform DER " + options + " -in " + signer.dir.file("in.txt") + " -signer " +
        signer.certPem + " -inkey " + signer.keyPem + extraSigner + " -out " + signer.dir.file("theirs.p7s"));
    if (result.status != 0)
        throw std::runtime_error("openssl cms -sign failed: " + result.output);
    return gostsoft::readFile(signer.dir.file("theirs.p7s"));
}

struct TheirCase {
    const char* name;
    Curve curve;
    const AlgorithmId* digest;
    const AlgorithmId* keyAlgorithm;
};

class TheirCms : public ::testing::TestWithParam<TheirCase>
{
};

TEST_P(TheirCms, ParsesSignerCertificateAttributesAndSignatureHalves)
{
    const GostSigner signer(GetParam().curve);
    for (const std::string options : {"-cades", "-nodetach -cades"}) {
        SCOPED_TRACE(options);
        const Bytes der = opensslSign(signer, options, CONTENT);
        const Pkcs7 wire(der, pkcs7::Format::SerialOnly);
        const Pkcs7 stored(der, pkcs7::Format::SerialWithIssuer);
        ASSERT_EQ(stored.signerInfos().size(), 1u);
        const SignerInfo& si = stored.signerInfos().front();

        EXPECT_EQ(stored.content(), options.find("nodetach") != std::string::npos ? CONTENT : Bytes{});
        EXPECT_EQ(stored.contentType(), der::encode(pkcs9::oid::DATA));
        EXPECT_EQ(si.serial(), (Bytes{0x2A, 0x05}));
        EXPECT_EQ(si.x509(), signer.cert);
        EXPECT_EQ(stored.certificates(), std::set<Bytes>{signer.cert.data()});
        EXPECT_EQ(si.digestAlgorithmId(), *GetParam().digest);
        EXPECT_EQ(si.signAlgorithmId(), *GetParam().keyAlgorithm);
        EXPECT_EQ(si.digest(), signer.key.digest(CONTENT));

        const pkcs9::Attributes& attributes = si.attributes();
        EXPECT_EQ(attributes.getSingleValue(pkcs9::oid::CONTENT_TYPE), der::encode(pkcs9::oid::DATA));
        EXPECT_TRUE(attributes.contains(pkcs9::oid::SIGNING_TIME));
        const pkcs9::EssCertIdV2 ess(attributes.getSingleValue(pkcs9::oid::SIGNING_CERTIFICATE_V2));
        EXPECT_EQ(ess.hashAlgorithm, *GetParam().digest);
        EXPECT_EQ(ess.certHash, signer.key.digest(signer.cert.data()));
        ASSERT_EQ(ess.issuerSerial.size(), 2u);
        EXPECT_EQ(der::getBinaryInt(ess.issuerSerial[1]), signer.cert.serial());

        // Format 0 keeps the wire order s||r, format 1 gives back r||s.
        const Bytes signedDigest = signer.key.digest(attributes.derEncoding());
        const Bytes onWire = wire.signerInfos().front().signature(pkcs7::Format::SerialOnly);
        EXPECT_TRUE(signer.key.verifyDigest(signedDigest, onWire));
        EXPECT_EQ(si.signature(pkcs7::Format::SerialOnly), swapHalves(onWire));
        EXPECT_EQ(si.signature(pkcs7::Format::SerialWithIssuer), onWire);

        // Re-encoding what we parsed gives the same signed message back.
        EXPECT_EQ(stored.derEncoding(true), der);
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, TheirCms,
                         ::testing::Values(TheirCase{"Gost256", Curve::CryptoProA256, &GOST_R_3411_2012_256,
                                                     &GOST_R_3410_2012_256},
                                           TheirCase{"Gost512", Curve::Tc26A512, &GOST_R_3411_2012_512,
                                                     &GOST_R_3410_2012_512}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TheirCmsShapes, NoAttributesTwoSignersAndRsa)
{
    const GostSigner first(Curve::CryptoProA256, "/CN=First/C=RU");
    const GostSigner second(Curve::Tc26A512, "/CN=Second/C=RU");

    {
        SCOPED_TRACE("-noattr: the signature covers the content digest");
        const Pkcs7 cms(opensslSign(first, "-noattr", CONTENT), pkcs7::Format::SerialWithIssuer);
        const SignerInfo& si = cms.signerInfos().at(0);
        EXPECT_TRUE(si.attributes().empty());
        EXPECT_TRUE(si.digest().empty());
        EXPECT_TRUE(
            first.key.verifyDigest(first.key.digest(CONTENT), si.signature(pkcs7::Format::SerialWithIssuer)));
    }
    {
        SCOPED_TRACE("two signers, each matched to its certificate by serial");
        // Distinct serials let the check below tell the signers apart by serial.
        const auto reissued =
            gostsoft::openssl("req -new -x509 -days 30 -key " + second.keyPem + " -subj /CN=Second/C=RU" +
                              " -set_serial 0x0B0B -out " + second.certPem);
        ASSERT_EQ(reissued.status, 0) << reissued.output;
        const Bytes der = opensslSign(first, "-nodetach", CONTENT,
                                      " -signer " + second.certPem + " -inkey " + second.keyPem);
        const Pkcs7 cms(der, pkcs7::Format::SerialWithIssuer);
        ASSERT_EQ(cms.signerInfos().size(), 2u);
        EXPECT_EQ(cms.certificates().size(), 2u);
        EXPECT_EQ(cms.content(), CONTENT);
        int matched = 0;
        for (const SignerInfo& si : cms.signerInfos()) {
            const GostSigner& who = si.serial() == Bytes{0x2A, 0x05} ? first : second;
            ASSERT_FALSE(si.x509().empty());
            EXPECT_EQ(si.x509().serial(), si.serial());
            EXPECT_TRUE(who.key.verifyDigest(who.key.digest(si.attributes().derEncoding()),
                                             si.signature(pkcs7::Format::SerialWithIssuer)));
            ++matched;
        }
        EXPECT_EQ(matched, 2);
    }
    {
        SCOPED_TRACE("RSA: signature never reordered");
        gostsoft::TempDir dir;
        const std::string key = dir.file("rsa.pem"), cert = dir.file("rsa.crt");
        ASSERT_EQ(
            gostsoft::run("openssl req -new -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=Rsa -keyout " +
                          key + " -out " + cert + " -set_serial 77")
                .status,
            0);
        gostsoft::writeFile(dir.file("in.txt"), CONTENT);
        const auto signedMessage =
            gostsoft::run("openssl cms -sign -binary -md sha256 -outform DER -in " + dir.file("in.txt") +
                          " -signer " + cert + " -inkey " + key + " -out " + dir.file("rsa.p7s"));
        ASSERT_EQ(signedMessage.status, 0) << signedMessage.output;
        const Bytes der = gostsoft::readFile(dir.file("rsa.p7s"));
        const Pkcs7 f0(der, pkcs7::Format::SerialOnly);
        const Pkcs7 f1(der, pkcs7::Format::SerialWithIssuer);
        const SignerInfo& si = f1.signerInfos().at(0);
        EXPECT_EQ(si.serial(), Bytes{77});
        EXPECT_EQ(si.digestAlgorithmId(), SHA_256);
        EXPECT_TRUE(si.signAlgorithmId().isRsa());
        EXPECT_EQ(si.digest(), gostsoft::sha256(CONTENT));
        EXPECT_EQ(si.signature(pkcs7::Format::SerialWithIssuer),
                  f0.signerInfos().at(0).signature(pkcs7::Format::SerialOnly));
        EXPECT_EQ(f1.derEncoding(true), der);
    }
}

} // namespace
