// String types of the names the library builds: countryName and
// serialNumber as PrintableString, as openssl and other peers expect.
#include <gtest/gtest.h>

#include <string>

#include "asn1/der.h"
#include "asn1/openssl_tool.h"
#include "base/conv.h"
#include "x509/cert_builder.h"
#include "x509/pkcs10.h"
#include "x509/subject_dn.h"

namespace
{

const ValidityPeriod VALIDITY{Asn1Time(std::string_view("250101000000Z")),
                              Asn1Time(std::string_view("20510101000000Z"))};

SubjectPublicKeyInfo rsaKeyInfo()
{
    return SubjectPublicKeyInfo{RSA_ENCRYPTION, {}, {}, PublicKey(RsaPublicKey{conv::hex_to_bytes("C0010203"), 65537})};
}

bytes attributeOf(const ObjectIdentifier& oid, Asn1Tag tag, std::string_view value)
{
    return der::encode(std::set<bytes>{
        der::encode(std::vector<bytes>{der::encode(oid), der::encodeString(tag, value)})});
}

TEST(NameStrings, PrintableStringUnlessTheTextLeavesItsAlphabet)
{
    struct Case {
        Asn1Tag tag;
        const char* value;
        std::uint8_t written;
    };
    for (const Case& c : {Case{Asn1Tag::PRINTABLE_STRING, "RU", 0x13},
                          Case{Asn1Tag::PRINTABLE_STRING, "A-Z a-z 0-9 '()+,./:=?", 0x13},
                          Case{Asn1Tag::PRINTABLE_STRING, "РФ", 0x0C},
                          Case{Asn1Tag::PRINTABLE_STRING, "a@b", 0x0C},
                          Case{Asn1Tag::PRINTABLE_STRING, "", 0x13},
                          Case{Asn1Tag::UTF8_STRING, "RU", 0x0C},
                          Case{Asn1Tag::NUMERIC_STRING, "7701", 0x12}}) {
        SCOPED_TRACE(c.value);
        const std::string value(c.value);
        EXPECT_EQ(encodeNameValue(c.tag, value), Tlv(c.written, bytes(value.begin(), value.end())).data());
    }
}

// Reading keeps accepting both: names written by older versions of the
// library (UTF8String) and by peers (PrintableString).
TEST(NameStrings, CountryReadsFromEitherStringType)
{
    for (const Asn1Tag tag : {Asn1Tag::PRINTABLE_STRING, Asn1Tag::UTF8_STRING}) {
        const bytes name = der::encode(std::vector<bytes>{attributeOf(cert::COUNTRY_NAME_OID, tag, "RU"),
                                                          attributeOf(cert::SERIAL_NUMBER_OID, tag, "42"),
                                                          attributeOf(cert::COMMON_NAME_OID, tag, "Petrov")});
        const SubjectDN read = SubjectDNParser().parse(name);
        EXPECT_EQ(read.countryName, "RU");
        EXPECT_EQ(read.serialNumber, "42");
        EXPECT_EQ(read.commonName, "Petrov");
    }
}

// openssl, told to show the string types, sees PrintableString for C in a
// built request and in both names of a built certificate, also when the
// request it came from spelt C as UTF8String.
TEST(NameStrings, OpensslSeesPrintableCountryInBuiltRequestAndCertificate)
{
    if (!testtool::haveOpenssl()) {
        GTEST_SKIP() << "openssl is missing";
    }
    SubjectDN subject;
    subject.countryName = "RU";
    subject.serialNumber = "12345";
    subject.commonName = "Petrov";
    const Pkcs10::Info info{0, subject, rsaKeyInfo(), {}};
    const bytes request = Pkcs10(SHA256_WITH_RSA_ENCRYPTION, info.derEncoding(), bytes{0x01, 0x02}).derEncoding();
    const std::string options = " -inform DER -noout -nameopt multiline,show_type -in ";
    {
        const testtool::TempFile file(request);
        const std::string shown = testtool::run("openssl req -subject" + options + file.path.string());
        EXPECT_NE(shown.find("countryName               = PRINTABLESTRING:RU"), std::string::npos) << shown;
        EXPECT_NE(shown.find("serialNumber              = PRINTABLESTRING:12345"), std::string::npos) << shown;
        EXPECT_NE(shown.find("commonName                = UTF8STRING:Petrov"), std::string::npos) << shown;
    }

    // A request of an older version: C as UTF8String.
    const bytes legacyName = der::encode(std::vector<bytes>{
        attributeOf(cert::COUNTRY_NAME_OID, Asn1Tag::UTF8_STRING, "RU"),
        attributeOf(cert::COMMON_NAME_OID, Asn1Tag::UTF8_STRING, "Petrov")});
    const bytes legacyInfo = der::encode(std::vector<bytes>{der::encode(std::uint64_t{0}), legacyName,
                                                            rsaKeyInfo().derEncoding(), Tlv(0xA0, bytes{}).data()});
    for (const bytes& from : {request, Pkcs10(SHA256_WITH_RSA_ENCRYPTION, legacyInfo, bytes{0x01}).derEncoding()}) {
        const TbsCertificate tbs(bytes{0x01}, from, VALIDITY);
        const X509 certificate(X509::DEFAULT_CERT_ID, tbs, der::encode(bytes{0x01, 0x02}, 0));
        const testtool::TempFile file(certificate.data());
        const std::string shown = testtool::run("openssl x509 -subject -issuer" + options + file.path.string());
        const std::string country = "countryName               = PRINTABLESTRING:RU";
        const auto first = shown.find(country);
        ASSERT_NE(first, std::string::npos) << shown;
        EXPECT_NE(shown.find(country, first + 1), std::string::npos) << "issuer and subject: " << shown;
        EXPECT_EQ(shown.find("countryName               = UTF8STRING"), std::string::npos) << shown;
        EXPECT_EQ(certificate.issuer(), certificate.subject());
    }
}

} // namespace
