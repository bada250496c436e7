// Certificate bodies built from requests, signed with test keys and checked
// with openssl verify / x509.
#include <gtest/gtest.h>

#include "asn1/der.h"
#include "gost_fixture.h"
#include "x509/cert_builder.h"
#include "x509/pkcs10.h"

using namespace cmstest;

namespace
{

const ValidityPeriod VALIDITY{Asn1Time(std::string_view("250101000000Z")),
                              Asn1Time(std::string_view("20510101000000Z"))};

X509 signCertificate(const TbsCertificate& tbs, const gostsoft::Key& issuerKey)
{
    return X509(X509::DEFAULT_CERT_ID, tbs, der::encode(issuerKey.sign(tbs.derEncoding()), 0));
}

std::string writePem(const gostsoft::TempDir& dir, const std::string& name, const X509& cert)
{
    const std::string path = dir.file(name);
    gostsoft::writeFile(path, gostsoft::toPem(cert.data(), "CERTIFICATE"));
    return path;
}

TEST(CertificateInterop, CaAndIssuedCertificatePassOpensslVerify)
{
    gostsoft::TempDir dir;
    const auto caKey = gostsoft::Key::generate(gostsoft::Curve::Tc26A256);
    const auto userKey = gostsoft::Key::generate(gostsoft::Curve::Tc26A512);

    // Self-signed CA from its own request (CN and C only: the issuer fields
    // then write the same Name as the subject fields).
    SubjectDN caSubject;
    caSubject.commonName = "Test CA";
    caSubject.countryName = "RU";
    Extensions caExtensions;
    caExtensions.keyUsage = key_usage::KEY_CERT_SIGN | key_usage::CRL_SIGN | key_usage::DIGITAL_SIGNATURE;
    caExtensions.keyUsageCritical = true;
    caExtensions.hasBasicConstraints = true;
    caExtensions.isCA = true;
    caExtensions.basicConstraintsCritical = true;
    const TbsCertificate caTbs(bytes{0x01}, makeRequest(caKey, caSubject, caExtensions), VALIDITY);
    const X509 ca = signCertificate(caTbs, caKey);
    EXPECT_EQ(ca.issuer(), ca.subject());
    const std::string caPem = writePem(dir, "ca.pem", ca);

    // A user certificate for another key, issued by the CA.
    SubjectDN userSubject;
    userSubject.commonName = "Ivan Petrov";
    userSubject.surname = "Petrov";
    userSubject.givenName = "Ivan";
    userSubject.localityName = "Moscow";
    userSubject.countryName = "RU";
    userSubject.inn = "007701234567"; // not carried into the certificate
    Extensions userExtensions;
    userExtensions.keyUsage = key_usage::DIGITAL_SIGNATURE | key_usage::NON_REPUDIATION;
    userExtensions.extendedKeyUsage = {ObjectIdentifier("1.3.6.1.5.5.7.3.4")};
    const Pkcs10 userRequest(makeRequest(userKey, userSubject, userExtensions));
    const SubjectDN s = userRequest.subject();
    const bytes userKeyId = cert::keyIdentifier(userRequest.publicKeyInfo().publicKey);
    const TbsCertificate userTbs(
        bytes{0x00, 0x9C, 0x01}, VALIDITY, caTbs.algorithm(), caTbs.issuerInfo(),
        SubjectInfo{s.localityName, s.stateOrProvinceName, s.countryName, s.givenName, s.surname,
                    s.commonName},
        userRequest.publicKeyInfo(),
        cert::certificateExtensions(userRequest.extensions(), userKeyId, caTbs.getSubjectKeyIdentyfier()));
    const X509 user = signCertificate(userTbs, caKey);
    EXPECT_EQ(user.tbsPos(TbsCertificate::TbsFieldType::EXTENSIONS), 7u);
    const std::string userPem = writePem(dir, "user.pem", user);

    const auto verified = gostsoft::openssl("verify -CAfile " + caPem + " " + caPem + " " + userPem);
    EXPECT_EQ(verified.status, 0) << verified.output;
    EXPECT_NE(verified.output.find(userPem + ": OK"), std::string::npos) << verified.output;

    const auto printed = gostsoft::openssl("x509 -in " + userPem + " -noout -text -nameopt oneline");
    ASSERT_EQ(printed.status, 0) << printed.output;
    const std::string& text = printed.output;
    std::string skiHex;
    for (std::uint8_t octet : gostsoft::sha1(userKey.publicKey()))
        skiHex += (skiHex.empty() ? "" : ":") + gostsoft::toHex({octet});
    for (const std::string& expected : std::vector<std::string>{
             "Version: 3 (0x2)", "Serial Number: 39937 (0x9c01)", "Issuer: C = RU, CN = Test CA",
             "Not Before: Jan  1 00:00:00 2025 GMT", "Not After : Jan  1 00:00:00 2051 GMT",
             "Subject: L = Moscow, C = RU, GN = Ivan, SN = Petrov, CN = Ivan Petrov",
             "Digital Signature, Non Repudiation", "E-mail Protection",
             "X509v3 Subject Key Identifier: \n                " + skiHex,
             "GOST R 34.10-2012 with 512 bit modulus"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }

    // A certificate signed by another key does not verify.
    const X509 forged = signCertificate(userTbs, userKey);
    const auto rejected =
        gostsoft::openssl("verify -CAfile " + caPem + " " + writePem(dir, "forged.pem", forged));
    EXPECT_NE(rejected.status, 0) << rejected.output;
}

TEST(CertificateBuilding, SelfSignedBodyFromRequest)
{
    const auto key = gostsoft::Key::generate(gostsoft::Curve::CryptoProA256);
    SubjectDN subject;
    subject.commonName = "Only CN";
    Extensions extensions;
    extensions.keyUsage = key_usage::DIGITAL_SIGNATURE;
    extensions.extendedKeyUsage = {ObjectIdentifier("1.3.6.1.5.5.7.3.2")};
    const TbsCertificate tbs(bytes{0x05}, makeRequest(key, subject, extensions), VALIDITY);

    EXPECT_EQ(tbs.algorithm(), GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN);
    const X509 cert = signCertificate(tbs, key);
    const bytes oneRdn =
        der::encode(std::vector<bytes>{der::encode(std::set<bytes>{der::encode(std::vector<bytes>{
            der::encode(cert::COMMON_NAME_OID), der::encodeString(Asn1Tag::UTF8_STRING, "Only CN")})})});
    EXPECT_EQ(cert.issuer(), oneRdn);
    EXPECT_EQ(cert.subject(), oneRdn);
    EXPECT_EQ(cert.versionNumber(), 2);
    EXPECT_EQ(cert.serial(), bytes{0x05});
    EXPECT_EQ(cert.gostPublicKey(Endian::Big), key.publicKey());
    EXPECT_TRUE(key.verifyDigest(key.digest(tbs.derEncoding()), cert.signature()));

    // Both validity tags are kept.
    const std::vector<bytes> validity = der::getSequense(cert.tbsCertInfo().at(4));
    EXPECT_EQ(validity[0].front(), 0x17);
    EXPECT_EQ(validity[1].front(), 0x18);

    // keyUsage, extKeyUsage, then the key identifiers, both of the request's key.
    const bytes keyId = gostsoft::sha1(key.publicKey());
    ASSERT_EQ(keyId.size(), 20u);
    EXPECT_EQ(tbs.getSubjectKeyIdentyfier(), keyId);
    const std::vector<bytes> list = der::getSequense(Tlv(tbs.certExtensions()).value());
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(tbs.certExtensions().front(), 0xA3);
    const Extension ski = der::getExtension(list[2]);
    const Extension aki = der::getExtension(list[3]);
    EXPECT_EQ(der::getExtension(list[0]).oid, KEY_USAGE_OID);
    EXPECT_EQ(der::getExtension(list[1]).oid, EXTENDED_KEY_USAGE_OID);
    EXPECT_EQ(ski.oid, cert::SUBJECT_KEY_IDENTIFIER);
    EXPECT_EQ(ski.value, der::encode(keyId));
    EXPECT_FALSE(ski.critical);
    EXPECT_EQ(aki.oid, cert::ISSUER_KEY_IDENTIFIER);
    EXPECT_EQ(aki.value, der::encode(std::vector<bytes>{Tlv(0x80, keyId).data()}));

    // openssl accepts it as a self-signed certificate.
    gostsoft::TempDir dir;
    const std::string pem = writePem(dir, "self.pem", cert);
    const auto verified = gostsoft::openssl("verify -CAfile " + pem + " -partial_chain " + pem);
    EXPECT_EQ(verified.status, 0) << verified.output;

    EXPECT_TRUE(TbsCertificate().getSubjectKeyIdentyfier().empty());
}

TEST(CertificateBuilding, PublicKeyParameters)
{
    const PublicKey gostKey(bytes(64, 0x42));
    auto params = [&](const AlgorithmId& alg, std::string_view set, std::string_view digest) {
        return SubjectPublicKeyInfo{alg, ObjectIdentifier(set), ObjectIdentifier(digest), gostKey}
            .derEncodingAlgInfo();
    };
    auto sequence = [](std::vector<bytes> items) { return der::encode(items); };
    const ObjectIdentifier d256("1.2.643.7.1.1.2.2");
    const ObjectIdentifier d512("1.2.643.7.1.1.2.3");

    EXPECT_EQ(params(GOST_R_3410_2012_256, tc26_gost_3410::paramSetA_256, d256.text()),
              sequence({der::encode(GOST_R_3410_2012_256.oid()),
                        sequence({der::encode(ObjectIdentifier(tc26_gost_3410::paramSetA_256)),
                                  der::encode(d256)})}));
    for (auto set :
         {tc26_gost_3410::paramSetB_256, tc26_gost_3410::paramSetC_256, tc26_gost_3410::paramSetD_256}) {
        EXPECT_EQ(params(GOST_R_3410_2012_256, set, d256.text()),
                  sequence({der::encode(GOST_R_3410_2012_256.oid()),
                            sequence({der::encode(ObjectIdentifier(set))})}));
    }
    EXPECT_EQ(params(GOST_R_3410_2012_512, tc26_gost_3410::paramSetB_512, d512.text()),
              sequence({der::encode(GOST_R_3410_2012_512.oid()),
                        sequence({der::encode(ObjectIdentifier(tc26_gost_3410::paramSetB_512)),
                                  der::encode(d512)})}));

    const SubjectPublicKeyInfo rsa{
        RSA_ENCRYPTION, {}, {}, PublicKey(RsaPublicKey{bytes{0x00, 0xC1, 0x01}, 65537})};
    EXPECT_EQ(rsa.derEncodingAlgInfo(), sequence({der::encode(RSA_ENCRYPTION.oid()), der::encode()}));
}

TEST(CertificateInterop, SelfSignedFromAnOpensslGostRequest)
{
    // openssl writes CA:FALSE with a path length as basicConstraints
    // SEQUENCE { INTEGER 0 }, leaving out the FALSE default, and may ask for a
    // subject key identifier of its own.
    const GostSigner signer(gostsoft::Curve::Tc26A256);
    const auto made =
        gostsoft::openssl("req -new -key " + signer.keyPem +
                          " -subj /CN=Leaf/C=RU -addext basicConstraints=critical,CA:FALSE,pathlen:0"
                          " -addext subjectKeyIdentifier=01020304 -outform DER -out " +
                          signer.dir.file("req.der"));
    ASSERT_EQ(made.status, 0) << made.output;
    const bytes request = gostsoft::readFile(signer.dir.file("req.der"));
    const Extensions extensions = Pkcs10(request).extensions();
    EXPECT_TRUE(extensions.hasBasicConstraints);
    EXPECT_TRUE(extensions.basicConstraintsCritical);
    EXPECT_FALSE(extensions.isCA);

    const TbsCertificate tbs(bytes{0x07}, request, VALIDITY);
    const X509 cert = signCertificate(tbs, signer.key);
    const std::string pem = writePem(signer.dir, "leaf.pem", cert);
    const auto printed = gostsoft::openssl("x509 -in " + pem + " -noout -ext basicConstraints");
    ASSERT_EQ(printed.status, 0) << printed.output;
    EXPECT_NE(printed.output.find("critical"), std::string::npos) << printed.output;
    EXPECT_NE(printed.output.find("CA:FALSE"), std::string::npos) << printed.output;
    EXPECT_EQ(printed.output.find("CA:TRUE"), std::string::npos) << printed.output;

    // One identifier of each kind, ours, and openssl takes the certificate.
    std::size_t identifiers = 0;
    const bytes keyId = gostsoft::sha1(signer.key.publicKey());
    for (const bytes& element : der::getSequense(Tlv(cert.tbsCertInfo().back()).value())) {
        const Extension extension = der::getExtension(element);
        if (extension.oid == cert::SUBJECT_KEY_IDENTIFIER) {
            ++identifiers;
            EXPECT_EQ(extension.value, der::encode(keyId));
        }
    }
    EXPECT_EQ(identifiers, 1u);
    EXPECT_EQ(tbs.getSubjectKeyIdentyfier(), keyId);
    const auto verified = gostsoft::openssl("verify -CAfile " + pem + " -partial_chain " + pem);
    EXPECT_EQ(verified.status, 0) << verified.output;
}

TEST(CertificateInterop, SelfSignedRsaFromAnOpensslRequest)
{
    gostsoft::TempDir dir;
    const std::string key = dir.file("rsa.pem");
    const auto made =
        gostsoft::run("openssl req -new -newkey rsa:2048 -nodes -sha256 -subj /CN=Rsa/C=RU -keyout " + key +
                      " -outform DER -out " + dir.file("req.der"));
    ASSERT_EQ(made.status, 0) << made.output;
    const TbsCertificate tbs(bytes{0x11}, gostsoft::readFile(dir.file("req.der")), VALIDITY);
    EXPECT_EQ(tbs.algorithm(), SHA256_WITH_RSA_ENCRYPTION);
    EXPECT_EQ(tbs.getSubjectKeyIdentyfier(), gostsoft::sha1(tbs.subjectKeyInfo().publicKey.derEncoding()));

    gostsoft::writeFile(dir.file("tbs.der"), tbs.derEncoding());
    const auto signedTbs = gostsoft::run("openssl dgst -sha256 -sign " + key + " -out " + dir.file("sig") +
                                         " " + dir.file("tbs.der"));
    ASSERT_EQ(signedTbs.status, 0) << signedTbs.output;
    const X509 cert(X509::DEFAULT_CERT_ID, tbs, der::encode(gostsoft::readFile(dir.file("sig")), 0));
    const std::string pem = writePem(dir, "rsa.crt", cert);
    const auto verified = gostsoft::run("openssl verify -CAfile " + pem + " -partial_chain " + pem);
    EXPECT_EQ(verified.status, 0) << verified.output;
    const auto modulus = gostsoft::run("openssl x509 -in " + pem + " -noout -modulus");
    const auto requestModulus =
        gostsoft::run("openssl req -inform DER -in " + dir.file("req.der") + " -noout -modulus");
    EXPECT_EQ(modulus.output, requestModulus.output);
}

} // namespace
