#include <gtest/gtest.h>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "gost_fixture.h"
#include "pkcs7/errors.h"
#include "pkcs7/pkcs7.h"

using namespace cmstest;

namespace
{

bytes halves(std::size_t n, std::uint8_t a, std::uint8_t b)
{
    bytes out(n, a);
    out.insert(out.end(), n, b);
    return out;
}

pkcs9::Attributes digestAttributes()
{
    return pkcs9::generateSignedAttributes(bytes(32, 0xDD), {}, false, {}, {}, {});
}

SignerInfo gostSigner(const bytes& serial, const bytes& signature, const X509& cert = X509())
{
    return SignerInfo(serial, signature, digestAttributes(), GOST_R_3410_2012_256, GOST_R_3411_2012_256, cert,
                      pkcs7::Format::SerialWithIssuer);
}

// Children of the first SignerInfo of an encoded container.
std::vector<bytes> firstSignerFields(const bytes& container)
{
    const std::vector<bytes> contentInfo = der::getSequense(container);
    const std::vector<bytes> signedData = der::getSequense(Tlv(contentInfo[1]).value());
    return der::getSequense(*der::getSet(signedData.back()).begin());
}

void expectCmsError(const bytes& container, const char* reasonCode)
{
    try {
        Pkcs7 parsed(container, pkcs7::Format::SerialWithIssuer);
        ADD_FAILURE() << "parsed without error";
    } catch (const ParseCmsContainerError& e) {
        EXPECT_STREQ(e.what(), ParseCmsContainerError(pkcs::localization.get(reasonCode)).what());
    }
}

// ContentInfo around SignedData children.
bytes container(const std::vector<bytes>& signedData)
{
    return der::encode(
        std::vector<bytes>{der::encode(SIGNED_DATA_OID), Tlv(0xA0, der::encode(signedData)).data()});
}

TEST(Pkcs7Signature, GostHalvesSwappedOnTheWireExceptInFormatZero)
{
    const bytes stored = halves(32, 0xA0, 0xB0);
    const SignerInfo signer = gostSigner(bytes{0x01}, stored);
    struct Case {
        pkcs7::Format format;
        bytes wire;
    };
    for (const Case& c : {Case{pkcs7::Format::SerialOnly, stored},
                          Case{pkcs7::Format::SerialWithIssuer, halves(32, 0xB0, 0xA0)},
                          Case{pkcs7::Format::FromCertificate, halves(32, 0xB0, 0xA0)}}) {
        SCOPED_TRACE(static_cast<int>(c.format));
        const Pkcs7 cms(std::vector<SignerInfo>{signer}, c.format);
        const bytes encoded = cms.derEncoding(true);
        EXPECT_EQ(der::getOctetString(firstSignerFields(encoded).back()), c.wire);
        EXPECT_EQ(Pkcs7(encoded, c.format).signerInfos().at(0).signature(pkcs7::Format::SerialOnly), stored);
    }

    const bytes rsaSignature{1, 2, 3, 4, 5, 6, 7, 8};
    const SignerInfo rsa(bytes{0x02}, rsaSignature, digestAttributes(), RSA_ENCRYPTION, SHA_256, X509(),
                         pkcs7::Format::SerialWithIssuer);
    for (auto format :
         {pkcs7::Format::SerialOnly, pkcs7::Format::SerialWithIssuer, pkcs7::Format::FromCertificate}) {
        const bytes encoded = Pkcs7(std::vector<SignerInfo>{rsa}, format).derEncoding(true);
        EXPECT_EQ(der::getOctetString(firstSignerFields(encoded).back()), rsaSignature);
        EXPECT_EQ(Pkcs7(encoded, format).signerInfos().at(0).signature(format), rsaSignature);
    }

    EXPECT_THROW(signer.derEncoding(static_cast<pkcs7::Format>(3)), std::invalid_argument);
}

TEST(Pkcs7SignerIdentifier, IssuerAndSerialFollowTheFormat)
{
    const GostSigner key(gostsoft::Curve::CryptoProA256, "/CN=Issuer check/C=RU");
    const bytes ownSerial{0x33};
    const SignerInfo signer = gostSigner(ownSerial, halves(32, 1, 2), key.cert);
    const bytes empty{0x30, 0x00};
    struct Case {
        pkcs7::Format format;
        bytes issuer;
        bytes serial;
    };
    for (const Case& c : {Case{pkcs7::Format::SerialOnly, empty, ownSerial},
                          Case{pkcs7::Format::SerialWithIssuer, key.cert.issuer(), ownSerial},
                          Case{pkcs7::Format::FromCertificate, key.cert.issuer(), key.cert.serial()}}) {
        SCOPED_TRACE(static_cast<int>(c.format));
        const std::vector<bytes> fields = der::getSequense(signer.derEncoding(c.format));
        EXPECT_EQ(fields[0], der::encode(std::uint64_t{1}));
        EXPECT_EQ(fields[1], der::encode(std::vector<bytes>{c.issuer, der::encodeBinaryInt(c.serial)}));
        EXPECT_EQ(fields[2], GOST_R_3411_2012_256.derEncoding(false));
        EXPECT_EQ(fields[3].front(), 0xA0);
        EXPECT_EQ(fields[4], GOST_R_3410_2012_256.derEncoding(false));
    }
    // Without a certificate every format names the signer by its own serial.
    const SignerInfo bare = gostSigner(ownSerial, halves(32, 1, 2));
    EXPECT_EQ(der::getSequense(bare.derEncoding(pkcs7::Format::FromCertificate))[1],
              der::encode(std::vector<bytes>{empty, der::encodeBinaryInt(ownSerial)}));
}

TEST(Pkcs7SignerInfo, ConstructorsChooseSerialAndAlgorithms)
{
    const GostSigner key(gostsoft::Curve::Tc26A512);
    // A zero serial is replaced by the certificate's.
    EXPECT_EQ(gostSigner(bytes{0x00}, halves(64, 1, 2), key.cert).serial(), key.cert.serial());

    const SignerInfo byNumber(0x1234, GOST_R_3410_2012_256, X509(), halves(32, 1, 2), {},
                              pkcs7::Format::SerialOnly, SHA_1);
    EXPECT_EQ(byNumber.serial(), (bytes{0x12, 0x34}));
    EXPECT_EQ(byNumber.digestAlgorithmId(), GOST_R_3411_2012_256);
    const SignerInfo rsaByNumber(7, SHA256_WITH_RSA_ENCRYPTION, X509(), bytes{1}, {},
                                 pkcs7::Format::SerialOnly, SHA_512);
    EXPECT_EQ(rsaByNumber.digestAlgorithmId(), SHA_512);
    const SignerInfo withCert(99, GOST_R_3410_2012_512, key.cert, halves(64, 1, 2), {},
                              pkcs7::Format::SerialOnly, {});
    EXPECT_EQ(withCert.serial(), key.cert.serial());

    const SignerInfo fromCert(key.cert, halves(64, 1, 2), digestAttributes(),
                              pkcs7::Format::SerialWithIssuer);
    EXPECT_EQ(fromCert.signAlgorithmId(), GOST_R_3410_2012_512);
    EXPECT_EQ(fromCert.digestAlgorithmId(), GOST_R_3411_2012_512);
    EXPECT_EQ(fromCert.digest(), bytes(32, 0xDD));
    EXPECT_TRUE(byNumber.digest().empty());

    const Pkcs7 kalva(5, GOST_R_3410_2012_256, X509(), halves(32, 1, 2), {}, true, {});
    EXPECT_EQ(kalva.format(), pkcs7::Format::SerialOnly);
    EXPECT_EQ(Pkcs7(5, GOST_R_3410_2012_256, X509(), halves(32, 1, 2), {}, false, {}).format(),
              pkcs7::Format::SerialWithIssuer);
}

TEST(Pkcs7Container, CertificatesDigestAlgorithmsAndSignerOrder)
{
    const GostSigner key(gostsoft::Curve::CryptoProA256);
    const SignerInfo withCert = gostSigner(bytes{0x01}, halves(32, 1, 2), key.cert);
    const SignerInfo other = gostSigner(bytes{0x7F}, halves(32, 3, 4));

    const Pkcs7 cms(std::vector<SignerInfo>{other, withCert}, pkcs7::Format::SerialWithIssuer);
    const std::vector<bytes> withCerts =
        der::getSequense(Tlv(der::getSequense(cms.derEncoding(true))[1]).value());
    ASSERT_EQ(withCerts.size(), 5u);
    EXPECT_EQ(withCerts[0], der::encode(std::uint64_t{1}));
    // One digest algorithm for both signers.
    EXPECT_EQ(withCerts[1], der::encode(std::set<bytes>{GOST_R_3411_2012_256.derEncoding(false)}));
    EXPECT_EQ(withCerts[2], der::encode(std::vector<bytes>{der::encode(pkcs9::oid::DATA)}));
    EXPECT_EQ(withCerts[3], Tlv(0xA0, key.cert.data()).data());
    // Signers in DER order, not insertion order.
    const std::vector<bytes> signers = der::readVector(Tlv(withCerts[4]).value());
    ASSERT_EQ(signers.size(), 2u);
    EXPECT_LT(signers[0], signers[1]);

    const std::vector<bytes> noCerts =
        der::getSequense(Tlv(der::getSequense(cms.derEncoding(false))[1]).value());
    EXPECT_EQ(noCerts.size(), 4u);
    EXPECT_EQ(
        Tlv(der::getSequense(
                Pkcs7(std::vector<SignerInfo>{other}, pkcs7::Format::SerialWithIssuer).derEncoding(true))[1])
            .value(),
        der::encode(std::vector<bytes>{
            withCerts[0], withCerts[1], withCerts[2],
            der::encode(std::set<bytes>{other.derEncoding(pkcs7::Format::SerialWithIssuer)})}));

    // A certificate-less signer added later adds no certificate field (an
    // empty [0], A0 00, is what other software never writes); next to a
    // certificate it changes nothing.
    Pkcs7 grown(std::vector<SignerInfo>{other}, pkcs7::Format::SerialWithIssuer);
    grown.addSignerInfo(gostSigner(bytes{0x02}, halves(32, 5, 6)));
    const std::vector<bytes> grownData =
        der::getSequense(Tlv(der::getSequense(grown.derEncoding(true))[1]).value());
    ASSERT_EQ(grownData.size(), 4u);
    EXPECT_EQ(grownData[3].front(), 0x31);
    EXPECT_TRUE(grown.certificates().empty());
    EXPECT_EQ(grown.signerInfos().size(), 2u);
    // The parsed container keeps both signers.
    EXPECT_EQ(Pkcs7(grown.derEncoding(true), pkcs7::Format::SerialWithIssuer).signerInfos().size(), 2u);
    Pkcs7 grownWithCert(std::vector<SignerInfo>{other, withCert}, pkcs7::Format::SerialWithIssuer);
    grownWithCert.addSignerInfo(gostSigner(bytes{0x02}, halves(32, 5, 6)));
    EXPECT_EQ(der::getSequense(Tlv(der::getSequense(grownWithCert.derEncoding(true))[1]).value())[3],
              withCerts[3]);
}

TEST(Pkcs7Container, AttachedContent)
{
    Pkcs7 cms(std::vector<SignerInfo>{gostSigner(bytes{0x01}, halves(32, 1, 2))},
              pkcs7::Format::SerialWithIssuer);
    EXPECT_TRUE(cms.content().empty());
    const bytes content = toBytes("attached");
    cms.setContent(content);
    EXPECT_EQ(cms.content(), content);
    const Pkcs7 parsed(cms.derEncoding(true), pkcs7::Format::SerialWithIssuer);
    EXPECT_EQ(parsed.content(), content);
    const std::vector<bytes> signedData =
        der::getSequense(Tlv(der::getSequense(cms.derEncoding(true))[1]).value());
    EXPECT_EQ(signedData[2], der::encode(std::vector<bytes>{der::encode(pkcs9::oid::DATA),
                                                            Tlv(0xA0, der::encode(content)).data()}));
}

TEST(Pkcs7Parsing, MalformedContainersNameTheirReason)
{
    const SignerInfo signer = gostSigner(bytes{0x01}, halves(32, 1, 2));
    const bytes goodSigner = signer.derEncoding(pkcs7::Format::SerialWithIssuer);
    const bytes version = der::encode(std::uint64_t{1});
    const bytes digests = der::encode(std::set<bytes>{GOST_R_3411_2012_256.derEncoding(false)});
    const bytes encap = der::encode(std::vector<bytes>{der::encode(pkcs9::oid::DATA)});
    auto withSigner = [&](const bytes& signerInfo) {
        return container({version, digests, encap, der::encode(std::set<bytes>{signerInfo})});
    };
    std::vector<bytes> fields = der::getSequense(goodSigner);

    expectCmsError(
        der::encode(std::vector<bytes>{der::encode(pkcs9::oid::DATA), Tlv(0xA0, bytes{0x30, 0x00}).data()}),
        "PKCS-001001");
    expectCmsError(der::encode(std::vector<bytes>{der::encode(SIGNED_DATA_OID)}), "PKCS-001001");
    expectCmsError(container({version, digests, encap}), "PKCS-001001");
    expectCmsError(container({version, digests, encap, Tlv(0xA0, bytes{}).data()}), "PKCS-001001");
    expectCmsError(container({version, digests, encap, bytes{0x31, 0x00}}), "PKCS-001002");

    // An empty key identifier, a serial without issuer, an identifier of
    // another kind.
    for (const bytes& sid :
         {Tlv(0x80, bytes{}).data(), der::encode(std::vector<bytes>{der::encode(std::uint64_t{1})}),
          Tlv(0x81, bytes{1, 2, 3}).data()}) {
        std::vector<bytes> badSid = fields;
        badSid[1] = sid;
        expectCmsError(withSigner(der::encode(badSid)), "PKCS-002001");
    }

    std::vector<bytes> noDigest = fields;
    pkcs9::Attributes onlyType;
    onlyType.insert(pkcs9::oid::CONTENT_TYPE, der::encode(pkcs9::oid::DATA));
    noDigest[3] = der::encodeExplicit(onlyType.derEncoding());
    expectCmsError(withSigner(der::encode(noDigest)), "PKCS-002002");

    std::vector<bytes> emptySignature = fields;
    emptySignature.back() = der::encode(bytes{});
    expectCmsError(withSigner(der::encode(emptySignature)), "PKCS-002003");

    std::vector<bytes> tooShort(fields.begin(), fields.begin() + 4);
    expectCmsError(withSigner(der::encode(tooShort)), "PKCS-001001");

    // Five children: no signed attributes, parsed.
    std::vector<bytes> noAttributes = fields;
    noAttributes.erase(noAttributes.begin() + 3);
    const Pkcs7 parsed(withSigner(der::encode(noAttributes)), pkcs7::Format::SerialWithIssuer);
    EXPECT_TRUE(parsed.signerInfos().at(0).attributes().empty());
    EXPECT_EQ(parsed.signerInfos().at(0).signature(pkcs7::Format::SerialOnly), halves(32, 1, 2));

    // Unsigned attributes and revocation information are read past.
    std::vector<bytes> unsignedAttrs = fields;
    unsignedAttrs.push_back(
        Tlv(0xA1, der::encode(std::vector<bytes>{der::encode(ObjectIdentifier("1.2.3")),
                                                 der::encode(std::set<bytes>{der::encode()})}))
            .data());
    const bytes withCrls = container({version, digests, encap, Tlv(0xA1, bytes{0x30, 0x00}).data(),
                                      der::encode(std::set<bytes>{der::encode(unsignedAttrs)})});
    EXPECT_EQ(Pkcs7(withCrls, pkcs7::Format::SerialWithIssuer)
                  .signerInfos()
                  .at(0)
                  .signature(pkcs7::Format::SerialOnly),
              halves(32, 1, 2));

    // Broken inner elements end in the decoder's error.
    std::vector<bytes> badAlgorithm = fields;
    badAlgorithm[2] = der::encode(std::uint64_t{5});
    EXPECT_THROW(Pkcs7(withSigner(der::encode(badAlgorithm)), pkcs7::Format::SerialWithIssuer),
                 Asn1DecodingError);
    EXPECT_THROW(Pkcs7(bytes{0x30, 0x03, 0x06, 0x01}, pkcs7::Format::SerialWithIssuer), Asn1DecodingError);
}

} // namespace
