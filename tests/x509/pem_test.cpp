#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "asn1/openssl_tool.h"
#include "base/conv.h"
#include "fixture.h"
#include "x509/pem.h"
#include "x509/x509.h"

namespace
{

bytes text(std::string_view s)
{
    return bytes(s.begin(), s.end());
}

std::string str(const bytes& b)
{
    return std::string(b.begin(), b.end());
}

TEST(Pem, ReadsOpensslOutput)
{
    EXPECT_EQ(conv::pem_to_x509(fixture::read("rsa2048.pem")), fixture::read("rsa2048.der"));
    EXPECT_EQ(conv::pem_to_x509(fixture::read("gost2012-256-tca-crlf.pem")),
              fixture::read("gost2012-256-tca.der"));
    EXPECT_EQ(crl::pem_to_x509(fixture::read("crl.pem")), fixture::read("crl.der"));
    EXPECT_TRUE(cert::isPemFormat(fixture::read("rsa2048.pem")));
    EXPECT_FALSE(cert::isPemFormat(fixture::read("rsa2048.der")));
    EXPECT_FALSE(cert::isPemFormat(fixture::read("crl.pem")));
    EXPECT_TRUE(crl::isPemFormat(fixture::read("crl.pem")));
    EXPECT_FALSE(crl::isPemFormat(fixture::read("rsa2048.pem")));
}

TEST(Pem, WritesWhatOpensslReads)
{
    const bytes der = fixture::read("gost2001.der");
    const bytes pem = conv::x509_to_pem(der);
    EXPECT_EQ(conv::pem_to_x509(pem), der);
    EXPECT_EQ(conv::x509_to_pem(pem), pem); // PEM stays as it is
    if (!testtool::haveOpenssl()) {
        GTEST_SKIP() << "openssl not installed";
    }
    testtool::TempFile file(pem);
    int status = 0;
    const std::string out = testtool::run("openssl x509 -noout -serial -in " + file.path.string(), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "serial=2001\n");
    // OpenSSL's own PEM of the same certificate is byte-identical.
    testtool::TempFile derFile(der);
    EXPECT_EQ(testtool::run("openssl x509 -inform DER -in " + derFile.path.string()), str(pem));
}

TEST(Pem, LineBreaksEveryCharacters64)
{
    // 96 octets give exactly 128 Base64 characters: two full lines, no empty one.
    const std::string pem = str(conv::x509_to_pem(bytes(96, 0xAB)));
    const std::string line = std::string(conv::binary_to_base64(bytes(48, 0xAB)));
    ASSERT_EQ(line.size(), 64u);
    EXPECT_EQ(pem, "-----BEGIN CERTIFICATE-----\n" + line + "\n" + line + "\n-----END CERTIFICATE-----\n");
    const std::string shortPem = str(conv::x509_to_pem(bytes{0x30, 0x00}));
    EXPECT_EQ(shortPem, "-----BEGIN CERTIFICATE-----\nMAA=\n-----END CERTIFICATE-----\n");
}

TEST(Pem, RejectsDamagedArmour)
{
    const std::string good = str(fixture::read("rsa2048.pem"));
    const std::string cases[] = {
        "no markers at all",
        "-----BEGIN X509 CRL-----\nMAA=\n-----END X509 CRL-----\n",
        good + "trailing text after the end marker\n",
        good.substr(0, good.size() - 10),                                 // END marker cut
        "-----BEGIN CERTIFICATE-----",                                    // nothing after BEGIN
        "-----BEGIN CERTIFICATE-----\nM*A=\n-----END CERTIFICATE-----\n", // not Base64
    };
    for (const auto& c : cases) {
        EXPECT_THROW(conv::pem_to_x509(text(c)), std::invalid_argument) << c;
    }
    EXPECT_THROW(crl::pem_to_x509(fixture::read("rsa2048.pem")), std::invalid_argument);
    EXPECT_THROW(crl::pem_to_x509(text("-----BEGIN X509 CRL-----\nMAA=\n")), std::invalid_argument);
    // Text before the BEGIN marker and blanks after END are tolerated.
    EXPECT_EQ(conv::pem_to_x509(text("Certificate:\n" + good + "  \n")), fixture::read("rsa2048.der"));
}

} // namespace
