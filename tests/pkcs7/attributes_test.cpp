#include <gtest/gtest.h>

#include "asn1/asn1_time.h"
#include "asn1/der.h"
#include "asn1/errors.h"
#include "gost_fixture.h"
#include "pkcs7/attributes.h"
#include "pkcs7/errors.h"
#include "pkcs7/pkcs7.h"

using namespace cmstest;

namespace
{

bytes attribute(const ObjectIdentifier& oid, std::set<bytes> values)
{
    return der::encode(std::vector<bytes>{der::encode(oid), der::encode(values)});
}

bytes concat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const ObjectIdentifier CUSTOM("1.2.643.100.4");

TEST(Pkcs9Attributes, ParsesBlocksAndRejectsMalformedOnes)
{
    EXPECT_TRUE(pkcs9::Attributes(bytes{}).empty());
    EXPECT_EQ(pkcs9::Attributes().derEncoding(), (bytes{0x31, 0x00}));

    // A repeated type keeps its first occurrence.
    const bytes first = attribute(CUSTOM, {der::encode(std::uint64_t{1})});
    const bytes second = attribute(CUSTOM, {der::encode(std::uint64_t{2})});
    const pkcs9::Attributes parsed(concat({first, second}));
    EXPECT_EQ(parsed.getValues(CUSTOM), std::set<bytes>{der::encode(std::uint64_t{1})});

    const bytes threeChildren = der::encode(std::vector<bytes>{
        der::encode(CUSTOM), der::encode(std::set<bytes>{der::encode()}), der::encode(std::uint64_t{3})});
    EXPECT_THROW(pkcs9::Attributes{threeChildren}, IncorrectPKCS9Attribute);
    const bytes emptyValues = der::encode(std::vector<bytes>{der::encode(CUSTOM), bytes{0x31, 0x00}});
    EXPECT_THROW(pkcs9::Attributes{emptyValues}, Asn1DecodingError);
    EXPECT_THROW(pkcs9::Attributes(bytes{0x30, 0x05, 0x06}), Asn1DecodingError);
    EXPECT_THROW(pkcs9::Attributes(der::encode(std::uint64_t{1})), Asn1DecodingError);
}

TEST(Pkcs9Attributes, EncodingIsDerOrderedWhateverTheInsertionOrder)
{
    pkcs9::Attributes a;
    a.insert(pkcs9::oid::MESSAGE_DIGEST, der::encode(bytes{1, 2, 3}));
    a.insert(CUSTOM, der::encode(std::uint64_t{7}));
    a.insert(CUSTOM, der::encode(std::uint64_t{300}));
    a.insert(pkcs9::oid::CONTENT_TYPE, der::encode(pkcs9::oid::DATA));
    pkcs9::Attributes b;
    b.insert(pkcs9::oid::CONTENT_TYPE, der::encode(pkcs9::oid::DATA));
    b.insert(CUSTOM, std::set<bytes>{der::encode(std::uint64_t{300}), der::encode(std::uint64_t{7})});
    b.insert(pkcs9::oid::MESSAGE_DIGEST, der::encode(bytes{1, 2, 3}));
    ASSERT_EQ(a.derEncoding(), b.derEncoding());

    // The SET OF Attribute is sorted by encoding, and parses back to the same map.
    const std::vector<bytes> elements = der::readVector(Tlv(a.derEncoding()).value());
    ASSERT_EQ(elements.size(), 3u);
    EXPECT_TRUE(std::is_sorted(elements.begin(), elements.end()));
    EXPECT_EQ(pkcs9::Attributes(Tlv(a.derEncoding()).value()).get(), a.get());

    // Replacing with no values drops the type rather than writing an empty SET.
    b.insert(CUSTOM, std::set<bytes>{});
    EXPECT_FALSE(b.contains(CUSTOM));
    EXPECT_NO_THROW(pkcs9::Attributes(Tlv(b.derEncoding()).value()));
}

TEST(Pkcs9Attributes, SingleValueErrorsNameTheAttribute)
{
    pkcs9::Attributes a;
    a.insert(CUSTOM, der::encode(std::uint64_t{1}));
    EXPECT_EQ(a.getSingleValue(CUSTOM), der::encode(std::uint64_t{1}));
    a.insert(CUSTOM, der::encode(std::uint64_t{2}));
    try {
        a.getSingleValue(CUSTOM);
        FAIL() << "two values accepted";
    } catch (const pkcs9::SingleValuedException& e) {
        EXPECT_EQ(e.oid(), CUSTOM.text());
        EXPECT_NE(std::string(e.what()).find("1.2.643.100.4"), std::string::npos);
    }
    try {
        a.getSingleValue(pkcs9::oid::SIGNING_TIME);
        FAIL() << "absent attribute returned";
    } catch (const pkcs9::NoAttribute& e) {
        EXPECT_NE(std::string(e.what()).find("1.2.840.113549.1.9.5"), std::string::npos);
    }
}

TEST(Pkcs9Attributes, GeneratedSignedAttributes)
{
    const bytes digest(32, 0xAB);
    const bytes givenTime = Asn1Time(std::string_view("240315101112Z")).derEncoding();

    // Only contentType and messageDigest besides the caller's own.
    pkcs9::Attributes extra;
    extra.insert(CUSTOM, der::encode(std::uint64_t{9}));
    pkcs9::Attributes minimal = pkcs9::generateSignedAttributes(digest, extra, false, {}, {}, {});
    EXPECT_EQ(minimal.get().size(), 3u);
    EXPECT_EQ(minimal.getSingleValue(pkcs9::oid::CONTENT_TYPE),
              (bytes{0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01}));
    EXPECT_EQ(minimal.getSingleValue(pkcs9::oid::MESSAGE_DIGEST), der::encode(digest));

    // A caller's signingTime wins; a caller's messageDigest is kept beside ours.
    pkcs9::Attributes callerTime;
    callerTime.insert(pkcs9::oid::SIGNING_TIME, givenTime);
    callerTime.insert(pkcs9::oid::MESSAGE_DIGEST, der::encode(bytes{1}));
    const pkcs9::Attributes withCaller =
        pkcs9::generateSignedAttributes(digest, callerTime, true, {}, {}, {});
    EXPECT_EQ(withCaller.getSingleValue(pkcs9::oid::SIGNING_TIME), givenTime);
    EXPECT_THROW(withCaller.getSingleValue(pkcs9::oid::MESSAGE_DIGEST), pkcs9::SingleValuedException);

    // Everything asked for.
    const pkcs9::EssCertIdV2 ess(GOST_R_3411_2012_256, bytes(32, 0x11), {});
    const std::set<bytes> references{der::encode(std::vector<bytes>{der::encode(std::uint64_t{5})})};
    const pkcs9::Attributes full =
        pkcs9::generateSignedAttributes(digest, {}, true, ess, bytes{0xC0, 0x1D}, references);
    const Tlv time(full.getSingleValue(pkcs9::oid::SIGNING_TIME));
    EXPECT_EQ(time.tag(), 0x17);
    EXPECT_EQ(time.value().size(), 13u);
    EXPECT_EQ(full.getSingleValue(pkcs9::oid::SIGNING_CERTIFICATE_V2), ess.derEncoding());
    EXPECT_EQ(full.getSingleValue(pkcs9::oid::CONTENT_IDENTIFIER), der::encode(bytes{0xC0, 0x1D}));
    EXPECT_EQ(full.getValues(pkcs9::oid::CONTENT_REFERENCE), references);
}

TEST(Pkcs9EssCertIdV2, EncodesAndParsesSigningCertificateV2)
{
    const std::vector<bytes> issuerSerial{
        der::encode(std::vector<bytes>{Tlv(0xA4, bytes{0x30, 0x00}).data()}),
        der::encode(std::uint64_t{0x2A05})};
    const pkcs9::EssCertIdV2 ess(SHA_256, bytes(32, 0x5A), issuerSerial);
    const bytes encoded = ess.derEncoding();
    // certs SEQUENCE { ESSCertIDv2 { SEQUENCE { OID } (no NULL, even for SHA-256), hash, issuerSerial } }
    const bytes expectedCertId =
        der::encode(std::vector<bytes>{der::encode(std::vector<bytes>{der::encode(SHA_256.oid())}),
                                       der::encode(bytes(32, 0x5A)), der::encode(issuerSerial)});
    EXPECT_EQ(encoded, der::encode(std::vector<bytes>{der::encode(std::vector<bytes>{expectedCertId})}));

    const pkcs9::EssCertIdV2 parsed(encoded);
    EXPECT_EQ(parsed.hashAlgorithm, SHA_256);
    EXPECT_EQ(parsed.certHash, ess.certHash);
    EXPECT_EQ(parsed.issuerSerial, issuerSerial);

    // A GOST hash algorithm with NULL parameters is read as well.
    const bytes withNull = der::encode(std::vector<bytes>{der::encode(std::vector<bytes>{der::encode(
        std::vector<bytes>{GOST_R_3411_2012_512.derEncoding(true), der::encode(bytes(64, 1))})})});
    EXPECT_EQ(pkcs9::EssCertIdV2(withNull).hashAlgorithm, GOST_R_3411_2012_512);
    EXPECT_TRUE(pkcs9::EssCertIdV2(withNull).issuerSerial.empty());
}

TEST(Pkcs9EssCertIdV2, AbsentHashAlgorithmIsItsSha256Default)
{
    const bytes issuerSerial =
        der::encode(std::vector<bytes>{der::encode(std::vector<bytes>{}), der::encodeBinaryInt(bytes{0x05})});
    for (const bool withIssuerSerial : {false, true}) {
        std::vector<bytes> certId{der::encode(bytes(32, 7))};
        if (withIssuerSerial)
            certId.push_back(issuerSerial);
        const pkcs9::EssCertIdV2 ess(
            der::encode(std::vector<bytes>{der::encode(std::vector<bytes>{der::encode(certId)})}));
        EXPECT_EQ(ess.hashAlgorithm, SHA_256);
        EXPECT_EQ(ess.certHash, bytes(32, 7));
        EXPECT_EQ(ess.issuerSerial.size(), withIssuerSerial ? 2u : 0u);
    }
}

TEST(Pkcs9EssCertIdV2, RejectsMalformedValues)
{
    auto wrap = [](std::vector<bytes> certId) {
        return der::encode(std::vector<bytes>{der::encode(std::vector<bytes>{der::encode(certId)})});
    };
    EXPECT_THROW(pkcs9::EssCertIdV2(wrap({SHA_256.derEncoding(false)})), IncorrectPKCS9Attribute);
    EXPECT_THROW(pkcs9::EssCertIdV2(wrap({der::encode(bytes(32, 1)), der::encode(std::vector<bytes>{}),
                                          der::encode(bytes{1})})),
                 IncorrectPKCS9Attribute);
    EXPECT_THROW(pkcs9::EssCertIdV2(wrap({der::encode(bytes(32, 1)), der::encode(std::vector<bytes>{})})),
                 Asn1DecodingError);
    EXPECT_THROW(
        pkcs9::EssCertIdV2(wrap({der::encode(std::vector<bytes>{der::encode(ObjectIdentifier("1.2.3"))}),
                                 der::encode(bytes(32, 1))})),
        std::exception);
    EXPECT_THROW(pkcs9::EssCertIdV2(bytes{0x30, 0x00}), Asn1DecodingError);
}

TEST(Pkcs9SigningCertificate, TakesIssuerSerialAndPairedDigestFromTheCertificate)
{
    const GostSigner signer(gostsoft::Curve::Tc26A512);
    const bytes hash = signer.key.digest(signer.cert.data());
    const pkcs9::EssCertIdV2 ess = pkcs9::signingCertificateV2(signer.cert, hash);
    EXPECT_EQ(ess.hashAlgorithm, GOST_R_3411_2012_512);
    EXPECT_EQ(ess.certHash, hash);
    ASSERT_EQ(ess.issuerSerial.size(), 2u);
    EXPECT_EQ(der::getSequense(ess.issuerSerial[0]),
              std::vector<bytes>{Tlv(0xA4, signer.cert.issuer()).data()});
    EXPECT_EQ(ess.issuerSerial[1], (bytes{0x02, 0x02, 0x2A, 0x05}));
}

TEST(Pkcs9ContentIdentifier, PrefixTimeAndRandomTail)
{
    const bytes prefix{1, 2, 3, 4, 5};
    const bytes a = pkcs9::contentIdentifier(prefix);
    const bytes b = pkcs9::contentIdentifier(prefix);
    ASSERT_EQ(a.size(), 38u);
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), a.begin()));
    EXPECT_EQ(a[5], 0x18);
    EXPECT_EQ(a[6], 15);
    EXPECT_EQ(a[21], 'Z');
    EXPECT_NE(bytes(a.begin() + 22, a.end()), bytes(b.begin() + 22, b.end()));
}

TEST(Pkcs9ContentReference, OneValuePerSignerInTheReadingFormat)
{
    const bytes signature{0xA1, 0xA2, 0xB1, 0xB2};
    pkcs9::Attributes attributes =
        pkcs9::generateSignedAttributes(bytes(32, 1), {}, false, {}, bytes{7, 7}, {});
    const SignerInfo signer(bytes{0x05}, signature, attributes, GOST_R_3410_2012_256, GOST_R_3411_2012_256,
                            X509(), pkcs7::Format::SerialWithIssuer);
    const Pkcs7 cms(std::vector<SignerInfo>{signer}, pkcs7::Format::SerialWithIssuer);
    const bytes container = cms.derEncoding(true);

    auto expected = [&](const bytes& sig) {
        return std::set<bytes>{der::encode(
            std::vector<bytes>{der::encode(pkcs9::oid::DATA), der::encode(bytes{7, 7}), der::encode(sig)})};
    };
    // Written with format 1, the wire holds B||A; the reference carries the
    // signature value as on the wire whichever format reads the container.
    EXPECT_EQ(pkcs9::contentReference({container}, false), expected(bytes{0xB1, 0xB2, 0xA1, 0xA2}));
    EXPECT_EQ(pkcs9::contentReference({container}, true), expected(bytes{0xB1, 0xB2, 0xA1, 0xA2}));

    const SignerInfo anonymous(
        bytes{0x06}, signature, pkcs9::generateSignedAttributes(bytes(32, 1), {}, false, {}, {}, {}),
        GOST_R_3410_2012_256, GOST_R_3411_2012_256, X509(), pkcs7::Format::SerialWithIssuer);
    const bytes withoutId =
        Pkcs7(std::vector<SignerInfo>{anonymous}, pkcs7::Format::SerialWithIssuer).derEncoding(true);
    EXPECT_THROW(pkcs9::contentReference({container, withoutId}, false), pkcs9::NoAttribute);
}

} // namespace
