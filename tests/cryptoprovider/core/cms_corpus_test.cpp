// Messages made by openssl verified signer by signer, and a signer added to
// each: what openssl says of them is what we say, and co-signing leaves the
// earlier signers, certificates and revocation information as they came.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>

#include "asn1/der.h"
#include "cryptoprovider/core/cms_assembly.h"
#include "pkcs7/corpus.h"
#include "pkcs7/errors.h"
#include "pkcs7/gost_fixture.h"
#include "soft_store.h"

using namespace softstore;
using Verdict = VerifySignEngine::Verdict;

namespace
{

struct VerifyCase {
    const char* file;
    // Corpus certificate of each signer -> what the CAdES-BES checks say.
    std::map<std::string, Verdict> verdicts;
    // What plain CMS verification (verifySign of a message with
    // certificates) says, where it differs.
    std::map<std::string, Verdict> plain = {};
};

const std::vector<VerifyCase> CASES{
    {"rsa-sha256-cades.p7s", {{"rsa", Verdict::Valid}}},
    // signingCertificate (ESSCertID, SHA-1) instead of its V2 form.
    {"rsa-sha1-cades.p7s", {{"rsa", Verdict::Valid}}},
    {"rsa-sha512-cades.p7s", {{"rsa", Verdict::Valid}}},
    {"rsa-stream.p7s", {{"rsa", Verdict::Valid}}},
    {"rsa-keyid.p7s", {{"rsa", Verdict::Valid}}},
    // No signed attributes: no CAdES-BES signature, but a valid CMS one.
    {"rsa-noattr.p7s", {{"rsa", Verdict::Invalid}}, {{"rsa", Verdict::Valid}}},
    {"gost256-cades.p7s", {{"gost256", Verdict::Valid}}},
    {"gost512-cades.p7s", {{"gost512", Verdict::Valid}}},
    {"rsa-pss+gost256.p7s", {{"rsa", Verdict::NotVerifiable}, {"gost256", Verdict::Valid}}},
    {"ecdsa+gost256.p7s", {{"ec", Verdict::NotVerifiable}, {"gost256", Verdict::Valid}}},
    {"three-signers.p7s",
     {{"rsa", Verdict::Valid}, {"gost256", Verdict::Valid}, {"gost512", Verdict::Valid}}},
    {"same-serial.p7s", {{"rsa2", Verdict::Valid}}},
    {"crl+unsigned.p7s", {{"rsa", Verdict::Valid}}},
    {"bad-signature.p7s", {{"rsa", Verdict::Invalid}}},
};

using Named = std::map<std::string, Verdict>;

Named byCertificate(const Pkcs7& cms, const std::vector<Verdict>& list)
{
    Named named;
    for (std::size_t i = 0; i < list.size(); ++i)
        named[corpus::certificateName(cms.signerInfos()[i].x509())] = list[i];
    return named;
}

bool allValid(const std::vector<Verdict>& list)
{
    return std::all_of(list.begin(), list.end(), [](Verdict v) { return v == Verdict::Valid; });
}

// The CAdES-BES verdicts and the plain CMS ones, each checked against the
// yes-or-no answer of its message-wide call.
std::pair<Named, Named> verdicts(const Pkcs7& cms, const bytes& content)
{
    SoftRsaVerifyEngine engine;
    const std::vector<Verdict> cades = engine.verifyCadesSigners(content, cms.signerInfos());
    EXPECT_EQ(engine.verifyCades(content, cms.signerInfos()), allValid(cades));
    const std::vector<Verdict> plain = engine.verifyCmsSigners(content, cms.signerInfos());
    EXPECT_EQ(engine.verifyWithCertificates(content, cms.signerInfos()), allValid(plain));
    return {byCertificate(cms, cades), byCertificate(cms, plain)};
}

// SignedData children of a ContentInfo.
std::vector<bytes> signedData(const bytes& message)
{
    return der::getSequense(Tlv(der::getSequense(message).at(1)).value());
}

class CmsCorpusVerify : public ::testing::TestWithParam<VerifyCase>
{
};

TEST_P(CmsCorpusVerify, VerdictsAgreeWithOpenssl)
{
    const VerifyCase& c = GetParam();
    const Pkcs7 cms(corpus::read(c.file), pkcs7::Format::SerialWithIssuer);
    const Named plain = c.plain.empty() ? c.verdicts : c.plain;
    EXPECT_EQ(verdicts(cms, corpus::content()), std::make_pair(c.verdicts, plain));
    // openssl verifies plain CMS and skips no signer: it fails exactly where
    // we find a signer invalid.
    const bool anyInvalid =
        std::any_of(plain.begin(), plain.end(), [](const auto& v) { return v.second == Verdict::Invalid; });
    EXPECT_EQ(corpus::opensslVerifies(corpus::path(c.file)), !anyInvalid);
}

// The SHA-1 hash of signingCertificate is compared: the same signer held
// with another certificate of serial 01 fails the certificate check.
TEST(CmsCorpusVerifyEss, SigningCertificateHashIsCompared)
{
    const Pkcs7 cms(corpus::read("rsa-sha1-cades.p7s"), pkcs7::Format::SerialWithIssuer);
    const SignerInfo& signer = cms.signerInfos().at(0);
    ASSERT_TRUE(signer.attributes().contains(pkcs9::oid::SIGNING_CERTIFICATE));
    ASSERT_FALSE(signer.attributes().contains(pkcs9::oid::SIGNING_CERTIFICATE_V2));
    SoftRsaVerifyEngine engine;
    EXPECT_TRUE(engine.verifyCertDigest(signer));
    const SignerInfo other(signer.serial(), signer.signature(pkcs7::Format::SerialOnly), signer.attributes(),
                           signer.signAlgorithmId(), signer.digestAlgorithmId(),
                           X509(corpus::read("rsa2.der")), pkcs7::Format::SerialOnly);
    EXPECT_FALSE(engine.verifyCertDigest(other));
    EXPECT_FALSE(engine.verifyCades(corpus::content(), {other}));
    EXPECT_EQ(engine.verifyCmsSigners(corpus::content(), {other}), std::vector<Verdict>{Verdict::Invalid});
}

// A signer is checked with the key the caller gives (what verifySign does
// for a message without certificates): over its signed attributes, or,
// without them, over the content itself.
TEST(CmsCorpusVerifyEss, CallersKey)
{
    const auto key = [](const char* certificate) {
        return X509(corpus::read(certificate)).publicKey(Endian::Big);
    };
    bytes changed = corpus::content();
    changed.back() ^= 0x01;
    for (const char* file : {"rsa-nocerts.p7s", "rsa-noattr.p7s"}) {
        SCOPED_TRACE(file);
        const Pkcs7 cms(corpus::read(file), pkcs7::Format::SerialWithIssuer);
        SoftRsaVerifyEngine engine;
        EXPECT_TRUE(engine.verifyCmsSign(corpus::content(), cms.signerInfos(), false, key("rsa.der"), ""));
        EXPECT_FALSE(engine.verifyCmsSign(changed, cms.signerInfos(), false, key("rsa.der"), ""));
        EXPECT_FALSE(engine.verifyCmsSign(corpus::content(), cms.signerInfos(), false, key("rsa2.der"), ""));
        EXPECT_THROW(engine.verifyCmsSign({}, cms.signerInfos(), false, key("rsa.der"), ""),
                     std::runtime_error);
    }
}

// Signed attributes without a signing-certificate attribute (openssl without
// -cades): CMS verification with the certificate passes, and only it;
// CAdES-BES reports the missing attribute.
TEST(CmsCorpusVerifyEss, SigningCertificateOptionalForCms)
{
    const Pkcs7 cms(corpus::read("rsa-nocerts.p7s"), pkcs7::Format::SerialWithIssuer);
    const SignerInfo& read = cms.signerInfos().at(0);
    const auto with = [&](const char* certificate) {
        return SignerInfo(read.serial(), read.signature(pkcs7::Format::SerialOnly), read.attributes(),
                          read.signAlgorithmId(), read.digestAlgorithmId(), X509(corpus::read(certificate)),
                          pkcs7::Format::SerialOnly);
    };
    SoftRsaVerifyEngine engine;
    EXPECT_TRUE(engine.verifyWithCertificates(corpus::content(), {with("rsa.der")}));
    EXPECT_FALSE(engine.verifyWithCertificates(corpus::content(), {with("rsa2.der")}));
    EXPECT_THROW(engine.verifyCades(corpus::content(), {with("rsa.der")}), pkcs9::NoAttribute);
}

TEST_P(CmsCorpusVerify, CoSigningKeepsWhatWasThere)
{
    const VerifyCase& c = GetParam();
    const bytes original = corpus::read(c.file);
    const cmstest::GostSigner signer(gostsoft::Curve::Tc26A512, "/CN=Co-signer/C=RU");
    const auto store = std::make_shared<SoftKeyStore>();
    const auto record = store->addDeviceKey(
        "k", std::shared_ptr<const gostsoft::Key>(std::shared_ptr<void>(), &signer.key), signer.cert);

    for (const bool kalvaMode : {false, true}) {
        SCOPED_TRACE(kalvaMode ? "format 0" : "format 1");
        DataForSign item;
        item.data = corpus::content();
        item.attached = true;
        item.existingCms = original;
        item.addSigningTime = true;
        item.addSigningCertificate = true;
        item.withCertificates = !kalvaMode;
        AttachedContents attached;
        const auto attributes = generateSignedAttributes(store, {item}, record->x509(),
                                                         record->digestAlgorithm(), {}, kalvaMode, attached);
        const bytes grown =
            formCms(store->cmsSign(record, attributes, kalvaMode), {item}, kalvaMode, attached).at(0);

        // Every earlier signer, certificate and CRL is there octet for octet.
        const Pkcs7 earlier(original, pkcs7::Format::SerialWithIssuer);
        const std::vector<bytes> was = signedData(earlier.derEncoding(false));
        const std::vector<bytes> now = signedData(grown);
        const std::set<bytes> signersNow = der::getSet(now.back());
        for (const bytes& old : der::getSet(was.back()))
            EXPECT_EQ(signersNow.count(old), 1u);
        EXPECT_EQ(signersNow.size(), der::getSet(was.back()).size() + 1);
        for (const bytes& field : was) {
            if (field.front() == 0xA1) { // revocation information
                EXPECT_NE(std::find(now.begin(), now.end(), field), now.end());
            }
        }
        const Pkcs7 reread(grown, pkcs7::Format::SerialWithIssuer);
        for (const bytes& certificate : earlier.certificates())
            EXPECT_EQ(reread.certificates().count(certificate), 1u);
        EXPECT_EQ(reread.content(), corpus::content());
        if (kalvaMode)
            continue; // format 0 signers are for peers of this library only

        // openssl says of the earlier signers what it said before, and the
        // new one verifies; so do we.
        gostsoft::TempDir dir;
        gostsoft::writeFile(dir.file("grown.p7s"), grown);
        EXPECT_EQ(corpus::opensslVerifies(dir.file("grown.p7s")),
                  corpus::opensslVerifies(corpus::path(c.file)));
        Named expected = c.verdicts;
        expected[""] = Verdict::Valid; // the co-signer's certificate is not in the corpus
        Named seen;
        for (const auto& [name, verdict] : verdicts(reread, corpus::content()).first)
            seen[name == "?" ? "" : name] = verdict;
        EXPECT_EQ(seen, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Openssl, CmsCorpusVerify, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return corpus::testName(info.param.file); });

} // namespace
