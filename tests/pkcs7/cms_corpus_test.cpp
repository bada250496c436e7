// Messages made by openssl in every signing shape, read by our parser: the
// signers, their certificates and attributes, and what comes back out.
#include <gtest/gtest.h>

#include <algorithm>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "corpus.h"
#include "pkcs7/attributes.h"
#include "pkcs7/pkcs7.h"

namespace
{

// One signer as the parser should see it: the corpus certificate it is
// matched to ("" none), the algorithm outside the catalogue ("" none), and
// whether it is identified by key identifier.
struct Signer {
    std::string certificate;
    std::string foreign;
    bool byKeyId = false;
    bool operator<(const Signer& o) const
    {
        return std::tie(certificate, foreign, byKeyId) < std::tie(o.certificate, o.foreign, o.byKeyId);
    }
    bool operator==(const Signer& o) const
    {
        return std::tie(certificate, foreign, byKeyId) == std::tie(o.certificate, o.foreign, o.byKeyId);
    }
};

std::ostream& operator<<(std::ostream& out, const Signer& s)
{
    return out << "{" << s.certificate << "," << s.foreign << "," << s.byKeyId << "}";
}

struct CorpusCase {
    const char* file;
    std::vector<Signer> signers;
    std::size_t certificates;
    bool der; // false: BER as openssl streams it
};

const char* const ECDSA_SHA256 = "1.2.840.10045.4.3.2";
const char* const RSA_PSS = "1.2.840.113549.1.1.10";

const std::vector<CorpusCase> CASES{
    {"rsa-sha256-cades.p7s", {{"rsa", "", false}}, 1, true},
    {"rsa-sha1-cades.p7s", {{"rsa", "", false}}, 1, true},
    {"rsa-sha512-cades.p7s", {{"rsa", "", false}}, 1, true},
    {"rsa-stream.p7s", {{"rsa", "", false}}, 1, false},
    {"rsa-keyid.p7s", {{"rsa", "", true}}, 1, true},
    {"rsa-nocerts.p7s", {{"", "", false}}, 0, true},
    {"rsa-noattr.p7s", {{"rsa", "", false}}, 1, true},
    {"gost256-cades.p7s", {{"gost256", "", false}}, 1, true},
    {"gost512-cades.p7s", {{"gost512", "", false}}, 1, true},
    {"rsa-pss+gost256.p7s", {{"rsa", RSA_PSS, false}, {"gost256", "", false}}, 2, true},
    {"ecdsa+gost256.p7s", {{"ec", ECDSA_SHA256, false}, {"gost256", "", false}}, 2, true},
    {"three-signers.p7s", {{"rsa", "", false}, {"gost256", "", false}, {"gost512", "", false}}, 3, true},
    // Two certificates of serial 01 from different issuers: rsa2 signed.
    {"same-serial.p7s", {{"rsa2", "", false}}, 2, true},
    {"crl+unsigned.p7s", {{"rsa", "", false}}, 1, true},
    {"bad-signature.p7s", {{"rsa", "", false}}, 1, true},
};

class CmsCorpus : public ::testing::TestWithParam<CorpusCase>
{
};

TEST_P(CmsCorpus, SignersCertificatesAndAttributesRead)
{
    const CorpusCase& c = GetParam();
    const bytes message = corpus::read(c.file);
    const Pkcs7 cms(message, pkcs7::Format::SerialWithIssuer);

    std::vector<Signer> seen;
    for (const SignerInfo& signer : cms.signerInfos()) {
        seen.push_back({corpus::certificateName(signer.x509()), signer.foreignAlgorithm().text(),
                        !signer.subjectKeyId().empty()});
        EXPECT_EQ(signer.verifiable(), signer.foreignAlgorithm().empty());
        if (!signer.verifiable()) {
            EXPECT_TRUE(signer.signAlgorithmId().empty());
            continue;
        }
        if (!signer.x509().empty()) {
            EXPECT_EQ(signer.serial(), signer.x509().serial());
        }
        if (signer.attributes().contains(pkcs9::oid::SIGNING_CERTIFICATE_V2)) {
            // openssl leaves the SHA-256 default out of ESSCertIDv2.
            const pkcs9::EssCertIdV2 ess(
                signer.attributes().getSingleValue(pkcs9::oid::SIGNING_CERTIFICATE_V2));
            if (ess.hashAlgorithm == SHA_256) {
                EXPECT_EQ(ess.certHash, gostsoft::sha256(signer.x509().data()));
            } else {
                EXPECT_EQ(ess.hashAlgorithm, signer.digestAlgorithmId());
            }
        }
    }
    std::vector<Signer> expected = c.signers;
    std::sort(seen.begin(), seen.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(cms.certificates().size(), c.certificates);
    EXPECT_EQ(cms.content(), corpus::content());

    // Written back: the same octets for DER input; for BER, the DER form
    // openssl itself gives of the message.
    bytes der = message;
    if (!c.der) {
        gostsoft::TempDir dir;
        ASSERT_EQ(gostsoft::openssl("cms -cmsout -inform DER -outform DER -in " + corpus::path(c.file) +
                                    " -out " + dir.file("der.p7s"))
                      .status,
                  0);
        der = gostsoft::readFile(dir.file("der.p7s"));
        ASSERT_NE(der, message);
    }
    EXPECT_EQ(cms.derEncoding(false), der);
    EXPECT_EQ(cms.derEncoding(true), der);
}

INSTANTIATE_TEST_SUITE_P(Openssl, CmsCorpus, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return corpus::testName(info.param.file); });

TEST(CmsCorpusSigners, LookupByIssuerAndSerialExceptInFormatZero)
{
    // Format 0 names no issuer: the serial alone picks the first certificate
    // of serial 01, whichever issuer it has.
    const Pkcs7 legacy(corpus::read("same-serial.p7s"), pkcs7::Format::SerialOnly);
    const X509& picked = legacy.signerInfos().at(0).x509();
    EXPECT_EQ(picked.serial(), bytes{0x01});

    // A key identifier that no certificate carries leaves the signer without one.
    std::vector<bytes> info = der::getSequense(corpus::read("rsa-keyid.p7s"));
    std::vector<bytes> signedData = der::getSequense(Tlv(info[1]).value());
    std::vector<bytes> signer = der::getSequense(*der::getSet(signedData.back()).begin());
    bytes keyId = Tlv(signer[1]).value();
    keyId[0] ^= 0xFF;
    signer[1] = Tlv(0x80, keyId).data();
    signedData.back() = der::encode(std::set<bytes>{der::encode(signer)});
    info[1] = Tlv(0xA0, der::encode(signedData)).data();
    const Pkcs7 other(der::encode(info), pkcs7::Format::SerialWithIssuer);
    EXPECT_TRUE(other.signerInfos().at(0).x509().empty());
    EXPECT_EQ(other.signerInfos().at(0).subjectKeyId(), keyId);
}

TEST(CmsCorpusBer, TruncatedOrTrailingInputRefused)
{
    const bytes stream = corpus::read("rsa-stream.p7s");
    EXPECT_THROW(Pkcs7(bytes(stream.begin(), stream.end() - 2), pkcs7::Format::SerialWithIssuer),
                 Asn1DecodingError);
    bytes trailing = stream;
    trailing.push_back(0x00);
    EXPECT_THROW(Pkcs7(trailing, pkcs7::Format::SerialWithIssuer), Asn1DecodingError);
}

} // namespace
