#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "asn1/openssl_tool.h"
#include "base/conv.h"
#include "fixture.h"
#include "x509/errors.h"
#include "x509/x509.h"

namespace
{

std::string hexOf(const bytes& data)
{
    return conv::bytes_to_hex(data);
}

std::string oidDerHex(const ObjectIdentifier& oid)
{
    return hexOf(der::encode(oid));
}

class OpensslCertificate : public ::testing::TestWithParam<const char*>
{
};

// Every accessor agrees with what `openssl x509` printed for the same file.
TEST_P(OpensslCertificate, AccessorsAgreeWithOpenssl)
{
    const std::string name = GetParam();
    const auto expected = fixture::answers(name);
    ASSERT_FALSE(expected.empty()) << "missing " << name << ".txt";
    const X509 cert(fixture::read(name + ".der"));
    ASSERT_FALSE(cert.empty());

    EXPECT_EQ(cert.versionNumber(), std::stoi(expected.at("version"), nullptr, 16));
    EXPECT_EQ(cert.tbsVersion(), cert.versionNumber());
    // OpenSSL prints the serial's value; DER keeps a 00 sign octet before a
    // first octet with the high bit set.
    std::string serial = expected.at("serial");
    if (serial[0] >= '8') {
        serial = "00" + serial;
    }
    EXPECT_EQ(hexOf(cert.serial()), serial);
    EXPECT_EQ(cert.issuerName(), expected.at("issuer_cn"));
    EXPECT_EQ(cert.subjectName(), expected.at("subject_cn"));

    const ValidityPeriod validity = cert.validityPeriod();
    EXPECT_EQ(validity.notBefore.generalized(), expected.at("not_before"));
    EXPECT_EQ(validity.notAfter.generalized(), expected.at("not_after"));
    EXPECT_LT(validity.notBefore, validity.notAfter);

    EXPECT_EQ(oidDerHex(cert.algorithm().oid()), expected.at("signature_algorithm"));
    EXPECT_EQ(oidDerHex(cert.signAlgorithm().oid()), expected.at("public_key_algorithm"));

    const std::vector<bytes> spki = cert.keyInfo();
    if (expected.count("param_set")) {
        EXPECT_EQ(oidDerHex(ObjectIdentifier(cert.gost3410ParamsOid())), expected.at("param_set"));
        EXPECT_NO_THROW(checkGost3410Params(cert.signAlgorithm(), cert.gost3410ParamsOid()));
        // OpenSSL prints the coordinates as big-endian integers: our "as
        // produced" order; the certificate stores each one reversed.
        const bytes little = cert.gostPublicKey(Endian::Little);
        EXPECT_EQ(hexOf(little), expected.at("public_key_xy"));
        const bytes big = cert.gostPublicKey(Endian::Big);
        EXPECT_EQ(big, reverseHalves(little));
        EXPECT_EQ(cert.publicKey(Endian::Big).gostKey(), big);
        EXPECT_EQ(getKeyParamBits(cert.gost3410ParamsOid()), big.size() * 4);
        EXPECT_EQ(PublicKey(big).derEncoding(), spki[1]);
    } else {
        const RsaPublicKey rsa = cert.rsaPublicKey();
        EXPECT_EQ(hexOf(rsa.modulus), expected.at("rsa_modulus"));
        EXPECT_EQ(rsa.exponent, std::stoull(expected.at("rsa_exponent")));
        EXPECT_EQ(cert.publicKey(Endian::Big).rsaKey(), rsa);
        EXPECT_EQ(PublicKey(rsa).derEncoding(), spki[1]);
        EXPECT_EQ(cert.gost3410ParamsOid(), ""); // NULL parameters
    }

    const std::vector<bytes> parts = cert.certInfo();
    EXPECT_EQ(der::encode(cert.signature(), 0), parts[2]);
    EXPECT_EQ(cert.tbsCertificate(), parts[0]);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, OpensslCertificate,
                         ::testing::Values("gost2012-256-cpa", "gost2012-256-tca", "gost2012-512", "gost2001",
                                           "rsa2048", "v1", "cp1251", "no-cn"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n) {
                                 if (c == '-') {
                                     c = '_';
                                 }
                             }
                             return n;
                         });

TEST(X509, DefaultAndUnparsableCertificates)
{
    const X509 none;
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.id(), bytes{0x00});
    EXPECT_EQ(hexOf(none.version()), "02");

    for (const char* junk : {"", "00", "3003020101", "30820100", "3006300402010502"}) {
        const bytes data = conv::hex_to_bytes(junk);
        X509 cert(getCertIdByKeyId(7), data); // never throws
        EXPECT_EQ(cert.versionNumber(), 2) << junk;
        EXPECT_EQ(cert.id(), conv::hex_to_bytes("0007"));
        EXPECT_TRUE(cert.serial().empty()) << junk;
        EXPECT_EQ(cert.subjectName(), "") << junk;
        EXPECT_EQ(cert.issuerName(), "") << junk;
        EXPECT_ANY_THROW(cert.tbsCertInfo()) << junk;
        EXPECT_ANY_THROW(cert.publicKey(Endian::Big)) << junk;
        EXPECT_ANY_THROW(cert.validityPeriod()) << junk;
    }
    EXPECT_THROW(X509(conv::hex_to_bytes("3003020101")).certInfo(), X509ParseError);
    EXPECT_THROW(X509(conv::hex_to_bytes("0403020101")).certInfo(), X509ParseError);
}

TEST(X509, AssemblesFromTbsAndSignature)
{
    const X509 source(fixture::read("gost2012-256-tca.der"));
    const bytes signatureElement = source.certInfo()[2];
    const X509 built(bytes{0x00, 0x09}, source.tbsCertificate(), source.algorithm().oid(), signatureElement);
    EXPECT_EQ(built.id(), conv::hex_to_bytes("0009"));
    EXPECT_EQ(built.tbsCertificate(), source.tbsCertificate());
    EXPECT_EQ(hexOf(built.certInfo()[1]), "300A06082A85030701010302"); // no parameters
    EXPECT_EQ(built.signature(), source.signature());
    EXPECT_EQ(built.versionNumber(), 2);
    EXPECT_EQ(built.subjectName(), source.subjectName());
    EXPECT_NE(built, source); // the NULL parameters are gone

    if (testtool::haveOpenssl()) {
        testtool::TempFile file(built.data());
        int status = 0;
        const std::string out =
            testtool::run("openssl x509 -inform DER -noout -serial -in " + file.path.string(), &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(out, "serial=0102030405\n");
    }

    struct Tbs {
        bytes der;
        AlgorithmId alg;
        bytes derEncoding() const { return der; }
        AlgorithmId algorithm() const { return alg; }
    };
    const X509 fromObject(bytes{0x01},
                          Tbs{source.tbsCertificate(), GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN},
                          signatureElement);
    EXPECT_EQ(fromObject.data(), built.data());
}

// v1 has six fields; v2 and v3 start with the explicit version and may add
// unique identifiers and extensions, seven to ten fields in all.
TEST(X509, VersionOfSixToTenFields)
{
    const X509 source(fixture::read("gost2012-256-tca.der"));
    std::vector<bytes> fields = source.tbsCertInfo();
    ASSERT_EQ(fields.size(), 8u);
    const auto withFields = [&](const std::vector<bytes>& tbs) {
        return X509(X509::DEFAULT_CERT_ID, der::encode(tbs), source.algorithm().oid(), source.certInfo()[2]);
    };
    const bytes extensions = fields.back();
    fields.pop_back(); // a v3 certificate without extensions
    const X509 seven = withFields(fields);
    EXPECT_EQ(seven.tbsVersion(), 2);
    EXPECT_EQ(seven.subjectName(), source.subjectName());

    // issuerUniqueID [1] and subjectUniqueID [2] before the extensions
    std::vector<bytes> unique = fields;
    unique.push_back(Tlv(0x81, bytes{0x00, 0x01}).data());
    unique.push_back(Tlv(0x82, bytes{0x00, 0x02}).data());
    unique.push_back(extensions);
    EXPECT_EQ(withFields(unique).tbsVersion(), 2);
    EXPECT_EQ(withFields(unique).subjectName(), source.subjectName());

    unique.push_back(extensions); // eleven fields
    EXPECT_THROW(withFields(unique).tbsVersion(), X509ParseError);
    std::vector<bytes> noVersion(fields.begin() + 1, fields.end());
    noVersion.push_back(extensions); // seven fields, none of them the version
    EXPECT_THROW(withFields(noVersion).tbsVersion(), X509ParseError);

    fields.resize(4); // too short: accessors beyond it fail, the safe ones give empty
    const X509 four(X509::DEFAULT_CERT_ID, der::encode(fields), source.algorithm().oid(),
                    source.certInfo()[2]);
    EXPECT_THROW(four.subject(), std::out_of_range);
    EXPECT_EQ(four.subjectName(), "");
    EXPECT_EQ(hexOf(four.serial()), "0102030405");
    EXPECT_EQ(four.issuerName(), "Lab CA");
}

// Validity times in the forms certificates carry (UTCTime without seconds,
// fractions of a second, offsets), read as UTC; what another form would read
// as another date is refused. openssl reads the same time from each.
TEST(X509, TimeFormsAndVersionRange)
{
    const X509 source(fixture::read("gost2012-256-tca.der"));
    const auto withFields = [&](const std::vector<bytes>& tbs) {
        return X509(X509::DEFAULT_CERT_ID, der::encode(tbs), source.algorithm().oid(), source.certInfo()[2]);
    };
    const auto time = [](std::uint8_t tag, std::string_view text) {
        return Tlv(tag, bytes(text.begin(), text.end())).data();
    };
    struct Case {
        bytes notBefore;
        const char* utc; // "" when refused
    };
    const Case cases[] = {
        {time(0x17, "250101000000Z"), "250101000000Z"},
        {time(0x18, "20250101000000Z"), "20250101000000Z"},
        {time(0x17, "2501010000Z"), "250101000000Z"},
        {time(0x17, "2502281230Z"), "250228123000Z"},
        {time(0x18, "20250101000000.123Z"), "20250101000000Z"},
        {time(0x18, "20250101235959.9Z"), "20250101235959Z"},
        {time(0x18, "202501011230Z"), "20250101123000Z"},
        {time(0x17, "250101030000+0300"), "250101000000Z"},
        {time(0x17, "2412312100-0300"), "250101000000Z"},
        {time(0x18, "20250101000000.5+0100"), "20241231230000Z"},
        {time(0x17, "491231230000-0100"), "20500101000000Z"}, // past 2049: GeneralizedTime
        {time(0x17, "20250101000000Z"), ""},
        {time(0x18, "250101000000Z"), ""},
        {time(0x17, "25010100000AZ"), ""},
        {time(0x17, "2501010000000"), ""},
        {time(0x18, "20250101000000"), ""}, // local time
        {time(0x17, "250101000000.5Z"), ""},
        {time(0x17, "250230000000Z0"), ""},
        {time(0x17, "2502300000Z"), ""}, // 30 February
        {time(0x17, "2302290000Z"), ""}, // 29 February of 2023
        {time(0x17, "2501012400Z"), ""},
        {time(0x17, "250101000000+2400"), ""},
        {time(0x18, "2025010100Z"), ""}, // hours only
        {time(0x17, "25010100Z"), ""},
        {time(0x04, "250101000000Z"), ""},
    };
    for (const Case& c : cases) {
        std::vector<bytes> fields = source.tbsCertInfo();
        fields[4] = der::encode(std::vector<bytes>{c.notBefore, der::getSequense(fields[4]).back()});
        const X509 cert = withFields(fields);
        SCOPED_TRACE(std::string(c.notBefore.begin() + 2, c.notBefore.end()));
        if (*c.utc == '\0') {
            EXPECT_THROW(cert.validityPeriod(), X509ParseError);
            continue;
        }
        const Asn1Time notBefore = cert.validityPeriod().notBefore;
        EXPECT_EQ(notBefore.time(), c.utc);
        if (testtool::haveOpenssl()) {
            testtool::TempFile file(cert.data());
            int status = 0;
            // openssl shows the fraction of a second, which the library drops.
            const std::string out = std::regex_replace(
                testtool::run("openssl x509 -inform DER -noout -startdate -dateopt iso_8601 -in " +
                                  file.path.string(),
                              &status),
                std::regex(R"(\.\d+Z)"), "Z");
            const std::string g = notBefore.generalized();
            EXPECT_EQ(out, "notBefore=" + g.substr(0, 4) + "-" + g.substr(4, 2) + "-" + g.substr(6, 2) + " " +
                               g.substr(8, 2) + ":" + g.substr(10, 2) + ":" + g.substr(12, 2) + "Z\n");
        }
    }

    for (const std::uint8_t version : {0, 1, 2, 3, 7}) {
        std::vector<bytes> fields = source.tbsCertInfo();
        fields[0] = Tlv(0xA0, der::encode(std::uint64_t{version})).data();
        const X509 cert = withFields(fields);
        if (version <= 2) {
            EXPECT_EQ(cert.tbsVersion(), version);
        } else {
            EXPECT_THROW(cert.tbsVersion(), X509ParseError) << int(version);
            EXPECT_EQ(cert.versionNumber(), 2);
        }
    }
}

TEST(X509, V1PositionsShiftByOne)
{
    const X509 v1(fixture::read("v1.der"));
    ASSERT_EQ(v1.versionNumber(), 0);
    EXPECT_EQ(v1.tbsPos(tbs::VERSION), 0u);
    EXPECT_EQ(v1.tbsPos(tbs::SERIAL_NUMBER), 0u);
    EXPECT_EQ(v1.tbsPos(tbs::SUBJECT), 4u);
    const X509 v3(fixture::read("rsa2048.der"));
    EXPECT_EQ(v3.tbsPos(tbs::SUBJECT), 5u);
    EXPECT_EQ(v3.tbsPos(tbs::EXTENSIONS), 7u);
}

// The CryptoPro-A key carries SEQUENCE {set, digest}, the TC26-A key the set
// alone; the names come from the 2012-256 family.
TEST(X509, ParameterSetNames)
{
    EXPECT_EQ(X509(fixture::read("gost2012-256-cpa.der")).gost3410ParamsName(),
              "id-GostR3410-2012-256-CryptoPro-A-ParamSet");
    EXPECT_EQ(X509(fixture::read("gost2012-256-tca.der")).gost3410ParamsName(),
              "id-tc26-gost-3410-12-256-paramSetA");
    EXPECT_EQ(X509(fixture::read("gost2001.der")).gost3410ParamsName(),
              "id-GostR3410-2001-CryptoPro-A-ParamSet");
    EXPECT_EQ(X509(fixture::read("gost2012-512.der")).gost3410ParamsName(),
              "id-tc26-gost-3410-12-512-paramSetA");
    EXPECT_EQ(X509(fixture::read("rsa2048.der")).gost3410ParamsName(), "");
}

TEST(X509, CertificateIdentifiers)
{
    EXPECT_EQ(getCertIdByKeyId(5), conv::hex_to_bytes("0005"));
    struct Case {
        const char* id;
        std::uint8_t key;
    };
    const Case cases[] = {
        {"", 0}, {"07", 7}, {"0005", 5}, {"1234", 0x34}, {"0102030405060708", 8}, {"010203040506070809", 8}};
    for (const auto& c : cases) {
        EXPECT_EQ(getKeyIdByCertId(conv::hex_to_bytes(c.id)), c.key) << c.id;
    }
}

} // namespace
