// Certification requests and subject names, checked against openssl req.
#include <gtest/gtest.h>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "gost_fixture.h"
#include "x509/errors.h"
#include "x509/pkcs10.h"

using namespace cmstest;

namespace
{

const ObjectIdentifier CLIENT_AUTH("1.3.6.1.5.5.7.3.2");
const ObjectIdentifier EMAIL_PROTECTION("1.3.6.1.5.5.7.3.4");

SubjectDN bankSubject()
{
    SubjectDN subject;
    subject.commonName = "Ivan Petrov";
    subject.organizationName = "Lab";
    subject.countryName = "RU";
    subject.inn = "007701234567";
    subject.ogrn = "1027700132195";
    subject.snils = "12345678901";
    subject.emailAddress = "ivan@lab.example";
    return subject;
}

Extensions bankExtensions()
{
    Extensions extensions;
    extensions.keyUsage = key_usage::DIGITAL_SIGNATURE | key_usage::NON_REPUDIATION;
    extensions.keyUsageCritical = true;
    extensions.extendedKeyUsage = {CLIENT_AUTH, EMAIL_PROTECTION};
    extensions.hasSubjectSignTool = true;
    extensions.subjectSignTool = "Signer 1.9";
    return extensions;
}

TEST(Pkcs10Interop, OpensslVerifiesOurRequestAndPrintsItsFields)
{
    for (auto curve : {gostsoft::Curve::CryptoProA256, gostsoft::Curve::Tc26A512}) {
        const auto key = gostsoft::Key::generate(curve);
        SCOPED_TRACE(key.paramSetOid());
        gostsoft::TempDir dir;
        const bytes request = makeRequest(key, bankSubject(), bankExtensions());
        gostsoft::writeFile(dir.file("req.der"), request);
        const auto printed = gostsoft::openssl("req -inform DER -in " + dir.file("req.der") +
                                               " -verify -noout -text -nameopt oneline");
        ASSERT_EQ(printed.status, 0) << printed.output;
        const std::string& text = printed.output;
        EXPECT_NE(text.find("verify OK"), std::string::npos) << text;
        EXPECT_NE(text.find("Subject: C = RU, O = Lab, CN = Ivan Petrov, emailAddress = ivan@lab.example, "
                            "INN = 007701234567, OGRN = 1027700132195, SNILS = 12345678901"),
                  std::string::npos)
            << text;
        EXPECT_NE(
            text.find("X509v3 Key Usage: critical\n                    Digital Signature, Non Repudiation"),
            std::string::npos)
            << text;
        EXPECT_NE(text.find("TLS Web Client Authentication, E-mail Protection"), std::string::npos) << text;
        EXPECT_NE(text.find("Signing Tool of Subject: \n                    Signer 1.9"), std::string::npos)
            << text;

        // A tampered request fails the signature check (openssl req reports it
        // in its output, not always in its exit code).
        bytes broken = request;
        broken[40] ^= 0x01;
        gostsoft::writeFile(dir.file("bad.der"), broken);
        const auto rejected =
            gostsoft::openssl("req -inform DER -in " + dir.file("bad.der") + " -verify -noout");
        EXPECT_TRUE(rejected.status != 0 || rejected.output.find("verify failure") != std::string::npos)
            << rejected.output;
        EXPECT_EQ(rejected.output.find("verify OK"), std::string::npos) << rejected.output;
    }
}

TEST(Pkcs10Interop, ReadsARequestMadeByOpenssl)
{
    const GostSigner signer(gostsoft::Curve::Tc26A512);
    const auto made = gostsoft::openssl(
        "req -new -key " + signer.keyPem +
        " -subj /CN=Maria/O=Bank/C=RU/INN=007707083893/SNILS=11223344595 -addext "
        "keyUsage=critical,digitalSignature,keyEncipherment -addext basicConstraints=CA:FALSE -addext "
        "certificatePolicies=1.2.643.100.113.1 -addext subjectKeyIdentifier=hash -out " +
        signer.dir.file("req.pem"));
    ASSERT_EQ(made.status, 0) << made.output;
    const bytes pem = gostsoft::readFile(signer.dir.file("req.pem"));
    ASSERT_TRUE(pkcs10::isPemFormat(pem));
    const bytes der = pkcs10::pem_to_der(pem);
    const Pkcs10 request(der);

    const SubjectDN subject = request.subject();
    EXPECT_EQ(subject.commonName, "Maria");
    EXPECT_EQ(subject.organizationName, "Bank");
    EXPECT_EQ(subject.countryName, "RU");
    EXPECT_EQ(subject.inn, "007707083893");
    EXPECT_EQ(subject.snils, "11223344595");

    const SubjectPublicKeyInfo info = request.publicKeyInfo();
    EXPECT_EQ(info.algorithm, GOST_R_3410_2012_512);
    EXPECT_EQ(info.paramsOid.text(), signer.key.paramSetOid());
    EXPECT_EQ(info.publicKey.gostKey(), signer.key.publicKey());

    EXPECT_EQ(request.signAlgorithmOid().text(), "1.2.643.7.1.1.3.3");
    EXPECT_TRUE(signer.key.verifyDigest(signer.key.digest(der::encode(request.certRequestInfo())),
                                        request.signature()));

    const Extensions extensions = request.extensions();
    EXPECT_EQ(extensions.keyUsage, key_usage::DIGITAL_SIGNATURE | key_usage::KEY_ENCIPHERMENT);
    EXPECT_TRUE(extensions.keyUsageCritical);
    EXPECT_TRUE(extensions.hasBasicConstraints);
    EXPECT_FALSE(extensions.isCA);
    EXPECT_EQ(extensions.certificatePolicies,
              std::vector<ObjectIdentifier>{ObjectIdentifier("1.2.643.100.113.1")});
    ASSERT_EQ(extensions.otherExtensions.size(), 1u);
    EXPECT_EQ(extensions.otherExtensions[0].oid, cert::SUBJECT_KEY_IDENTIFIER);
    EXPECT_FALSE(extensions.otherExtensions[0].critical);
}

TEST(SubjectNames, EncodeWithTheTableTypesAndParseBack)
{
    SubjectDN subject;
    subject.commonName = "Тест";
    subject.inn = "7701234567";
    const bytes name = SubjectDNParser(subject).encode();
    const std::vector<bytes> rdns = der::getSequense(name);
    ASSERT_EQ(rdns.size(), 2u);
    EXPECT_EQ(rdns[0],
              der::encode(std::set<bytes>{der::encode(std::vector<bytes>{
                  der::encode(cert::COMMON_NAME_OID), der::encodeString(Asn1Tag::UTF8_STRING, "Тест")})}));
    EXPECT_EQ(rdns[1],
              der::encode(std::set<bytes>{der::encode(std::vector<bytes>{
                  der::encode(cert::INN_OID), der::encodeString(Asn1Tag::NUMERIC_STRING, "7701234567")})}));
    EXPECT_EQ(SubjectDNParser().parse(name), subject);

    const SubjectDN full = bankSubject();
    EXPECT_EQ(SubjectDNParser().parse(SubjectDNParser(full).encode()), full);
    EXPECT_EQ(SubjectDNParser(full).get(cert::OGRN_OID), "1027700132195");
    EXPECT_THROW(SubjectDNParser(full).get(ObjectIdentifier("1.2.3.4")), ParsePkcs10Error);
}

TEST(SubjectNames, RejectsMultiValuedRdnsAndSkipsUnknownTypes)
{
    auto atv = [](const ObjectIdentifier& oid, std::string_view value) {
        return der::encode(
            std::vector<bytes>{der::encode(oid), der::encodeString(Asn1Tag::UTF8_STRING, value)});
    };
    const bytes twoInOne = der::encode(std::vector<bytes>{
        der::encode(std::set<bytes>{atv(cert::COMMON_NAME_OID, "a"), atv(cert::SURNAME_OID, "b")})});
    EXPECT_THROW(SubjectDNParser().parse(twoInOne), ParsePkcs10Error);

    const bytes withUnknown =
        der::encode(std::vector<bytes>{der::encode(std::set<bytes>{atv(ObjectIdentifier("1.2.3.4.5"), "x")}),
                                       der::encode(std::set<bytes>{atv(cert::COMMON_NAME_OID, "kept")})});
    SubjectDN expected;
    expected.commonName = "kept";
    EXPECT_EQ(SubjectDNParser().parse(withUnknown), expected);
}

TEST(KeyUsage, EncodesEveryFlagCombinationReversibly)
{
    struct Case {
        int flags;
        bytes encoded;
    };
    for (const Case& c :
         {Case{key_usage::DIGITAL_SIGNATURE, {0x03, 0x02, 0x07, 0x80}},
          Case{key_usage::NON_REPUDIATION | key_usage::KEY_ENCIPHERMENT, {0x03, 0x02, 0x05, 0x60}},
          Case{key_usage::DIGITAL_SIGNATURE | key_usage::DECIPHER_ONLY, {0x03, 0x03, 0x07, 0x80, 0x80}},
          Case{key_usage::DECIPHER_ONLY, {0x03, 0x03, 0x07, 0x00, 0x80}},
          Case{key_usage::KEY_CERT_SIGN | key_usage::CRL_SIGN, {0x03, 0x02, 0x01, 0x06}}}) {
        EXPECT_EQ(der::encodeKeyUsage(c.flags), c.encoded) << c.flags;
    }
    for (int flags = 1; flags <= 511; ++flags) {
        const bytes encoded = der::encodeKeyUsage(flags);
        ASSERT_EQ(der::getKeyUsage(encoded), flags);
        // The unused bits are exactly the trailing zero bits.
        ASSERT_NE(encoded.back() & (1u << encoded[2]), 0u) << flags;
    }
    // Other writers' forms: padding bits and a second octet without
    // decipherOnly set no flags.
    for (const Case& c : {Case{key_usage::DIGITAL_SIGNATURE, {0x03, 0x02, 0x07, 0xFF}},
                          Case{key_usage::DIGITAL_SIGNATURE, {0x03, 0x03, 0x07, 0x80, 0x00}},
                          Case{0, {0x03, 0x03, 0x07, 0x00, 0x00}},
                          Case{key_usage::KEY_ENCIPHERMENT, {0x03, 0x02, 0x05, 0x3F}},
                          Case{key_usage::DIGITAL_SIGNATURE | key_usage::DECIPHER_ONLY,
                               {0x03, 0x04, 0x00, 0x80, 0x80, 0x00}}}) {
        EXPECT_EQ(der::getKeyUsage(c.encoded), c.flags) << gostsoft::toHex(c.encoded);
    }
    EXPECT_THROW(der::encodeKeyUsage(0), std::invalid_argument);
    EXPECT_THROW(der::encodeKeyUsage(512), std::invalid_argument);
    EXPECT_THROW(der::getKeyUsage(der::encode(bytes{0x80})), Asn1DecodingError);
}

TEST(RequestExtensions, RoundTripAndKindsOfExtension)
{
    const auto key = gostsoft::Key::generate(gostsoft::Curve::CryptoProA256);
    Extensions all = bankExtensions();
    all.certificatePolicies = {ObjectIdentifier("1.2.643.100.113.1"), ObjectIdentifier("1.2.643.100.113.2")};
    all.certificatePoliciesCritical = true;
    all.hasBasicConstraints = true;
    all.isCA = true;
    all.basicConstraintsCritical = true;
    all.otherExtensions = {Extension{ObjectIdentifier("1.2.3.4"), der::encode(std::uint64_t{5}), true},
                           Extension{ObjectIdentifier("1.2.3.5"), der::encode(), false}};
    EXPECT_EQ(Pkcs10(makeRequest(key, bankSubject(), all)).extensions(), all);

    // The fixed order of the known kinds.
    const std::vector<bytes> list = der::encodeExtensionList(all);
    ASSERT_EQ(list.size(), 7u);
    const std::vector<ObjectIdentifier> order{KEY_USAGE_OID, EXTENDED_KEY_USAGE_OID, CERTIFICATE_POLICIES_OID,
                                              BASIC_CONSTRAINTS_OID, SUBJECT_SIGN_TOOL_OID};
    for (std::size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(der::getExtension(list[i]).oid, order[i]);

    Extensions notCa;
    notCa.hasBasicConstraints = true;
    const Extensions readBack = Pkcs10(makeRequest(key, bankSubject(), notCa)).extensions();
    EXPECT_TRUE(readBack.hasBasicConstraints);
    EXPECT_FALSE(readBack.isCA);

    // cA defaults to FALSE: only a TRUE BOOLEAN makes a CA, whatever else the
    // SEQUENCE holds (openssl writes CA:FALSE,pathlen:0 as SEQUENCE { INTEGER 0 }).
    const bytes yes = der::encode(der::Boolean(true));
    const bytes no = der::encode(der::Boolean(false));
    const bytes pathLen = der::encode(std::uint64_t{0});
    struct Constraints {
        std::vector<bytes> value;
        bool isCA;
    };
    for (const Constraints& c :
         {Constraints{{}, false}, Constraints{{yes}, true}, Constraints{{yes, pathLen}, true},
          Constraints{{pathLen}, false}, Constraints{{no}, false}}) {
        const bytes sequence = der::encode(c.value);
        const Extensions read = der::getExtensions(
            der::encode(std::vector<bytes>{der::encode(Extension{BASIC_CONSTRAINTS_OID, sequence, true})}));
        EXPECT_TRUE(read.hasBasicConstraints);
        EXPECT_TRUE(read.basicConstraintsCritical);
        EXPECT_EQ(read.isCA, c.isCA) << gostsoft::toHex(sequence);
    }

    // A request whose [0] attributes hold no extensionRequest.
    const Pkcs10::Info info{0, bankSubject(), keyInfo(key), {}};
    std::vector<bytes> children = der::getSequense(info.derEncoding());
    children[3] = Tlv(0xA0, bytes{}).data();
    EXPECT_EQ(Pkcs10(GOST_R_3410_2012_256, der::encode(children), bytes{1}).extensions(), Extensions{});

    // An explicit FALSE critical flag reads as not critical.
    const bytes explicitFalse = der::encode(std::vector<bytes>{
        der::encode(ObjectIdentifier("1.2.3.4")), der::encode(der::Boolean(false)), der::encode(bytes{})});
    EXPECT_FALSE(der::getExtension(explicitFalse).critical);
}

TEST(Pkcs10Parsing, RejectsWrongStructures)
{
    const auto key = gostsoft::Key::generate(gostsoft::Curve::CryptoProA256);
    const bytes request = makeRequest(key, bankSubject(), bankExtensions());
    std::vector<bytes> parts = der::getSequense(request);

    EXPECT_THROW(Pkcs10(der::encode(std::vector<bytes>{parts[0], parts[1]})), ParsePkcs10Error);
    std::vector<bytes> info = der::getSequense(parts[0]);
    info.pop_back();
    EXPECT_THROW(Pkcs10(der::encode(std::vector<bytes>{der::encode(info), parts[1], parts[2]})),
                 ParsePkcs10Error);
    EXPECT_THROW(Pkcs10(GOST_R_3410_2012_256, der::encode(info), bytes{1}), ParsePkcs10Error);

    // A public key of an unknown kind.
    std::vector<bytes> keyInfoParts = der::getSequense(der::getSequense(parts[0])[2]);
    const bytes foreign = der::encode(std::vector<bytes>{
        der::encode(std::vector<bytes>{der::encode(ObjectIdentifier("1.2.643.2.2.21")), der::encode()}),
        keyInfoParts[1]});
    std::vector<bytes> fullInfo = der::getSequense(parts[0]);
    fullInfo[2] = foreign;
    EXPECT_THROW(
        Pkcs10(der::encode(std::vector<bytes>{der::encode(fullInfo), parts[1], parts[2]})).publicKeyInfo(),
        std::exception);
    fullInfo[2] = der::encode(std::vector<bytes>{keyInfoParts[0]});
    EXPECT_THROW(
        Pkcs10(der::encode(std::vector<bytes>{der::encode(fullInfo), parts[1], parts[2]})).publicKeyInfo(),
        ParsePkcs10Error);
}

TEST(Pkcs10Pem, BothArmoursAndNonPem)
{
    const bytes der{0x30, 0x03, 0x02, 0x01, 0x05};
    for (std::string label : {"CERTIFICATE REQUEST", "NEW CERTIFICATE REQUEST"}) {
        const std::string pem = gostsoft::toPem(der, label);
        EXPECT_EQ(pkcs10::pem_to_der(toBytes(pem)), der) << label;
        // CRLF line ends and text after the END line are tolerated.
        std::string crlf;
        for (char c : pem)
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        EXPECT_EQ(pkcs10::pem_to_der(toBytes(crlf + "trailer\n")), der) << label;
    }
    EXPECT_FALSE(pkcs10::isPemFormat(toBytes(gostsoft::toPem(der, "CERTIFICATE"))));
    EXPECT_THROW(pkcs10::pem_to_der(der), std::invalid_argument);
    EXPECT_THROW(pkcs10::pem_to_der(toBytes("-----BEGIN CERTIFICATE REQUEST-----\nMAMCAQU=\n")),
                 std::invalid_argument);
}

} // namespace
