// Every certificate of the host's trust store (RSA and ECDSA roots) reads,
// and its fields agree with what openssl says of the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/der.h"
#include "asn1/openssl_tool.h"
#include "base/conv.h"
#include "x509/errors.h"
#include "x509/x509.h"

namespace
{

namespace fs = std::filesystem;

const fs::path HOST_CERTIFICATES = "/etc/ssl/certs";

// One line of `openssl asn1parse`: where an element starts, its depth, header
// and content lengths, and the text after the type (an OBJECT's name).
struct Element {
    std::size_t offset = 0;
    int depth = 0;
    std::size_t header = 0;
    std::size_t length = 0;
    std::string text;
};

std::vector<Element> asn1parse(const bytes& der)
{
    std::vector<Element> out;
    std::istringstream lines(testtool::asn1parse(der));
    std::string line;
    while (std::getline(lines, line)) {
        Element e;
        if (std::sscanf(line.c_str(), " %zu:d=%d hl=%zu l=%zu", &e.offset, &e.depth, &e.header, &e.length) != 4) {
            continue;
        }
        const auto primitive = line.find("prim:");
        const auto colon = primitive == std::string::npos ? primitive : line.find(':', primitive + 5);
        if (colon != std::string::npos) {
            e.text = line.substr(colon + 1);
        }
        out.push_back(e);
    }
    return out;
}

bytes slice(const bytes& der, const Element& e)
{
    const auto begin = der.begin() + static_cast<std::ptrdiff_t>(e.offset);
    return bytes(begin, begin + static_cast<std::ptrdiff_t>(e.header + e.length));
}

// "key=value" of an `openssl x509 -noout` line.
std::string field(const std::string& output, const std::string& key)
{
    const auto at = output.find(key + "=");
    if (at == std::string::npos) {
        return {};
    }
    const auto begin = at + key.size() + 1;
    return output.substr(begin, output.find('\n', begin) - begin);
}

std::string withoutSeparators(std::string text)
{
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '-' || c == ' ' || c == ':'; }),
               text.end());
    return text;
}

std::string serialHex(const bytes& serial)
{
    std::string hex = conv::bytes_to_hex(serial);
    std::transform(hex.begin(), hex.end(), hex.begin(), ::toupper);
    while (hex.size() > 2 && hex.compare(0, 2, "00") == 0) {
        hex.erase(0, 2);
    }
    return hex;
}

TEST(HostCertificates, EveryStoreCertificateReadsAsOpensslSeesIt)
{
    if (!fs::is_directory(HOST_CERTIFICATES) || !testtool::haveOpenssl()) {
        GTEST_SKIP() << HOST_CERTIFICATES << " or openssl is missing: no host certificates to read";
    }
    std::size_t checked = 0;
    std::size_t foreign = 0;
    for (const auto& entry : fs::directory_iterator(HOST_CERTIFICATES)) {
        if (entry.path().extension() != ".pem") {
            continue;
        }
        const std::string file = entry.path().string();
        SCOPED_TRACE(file);
        const std::string derText = testtool::run("openssl x509 -outform DER -in '" + file + "'");
        ASSERT_FALSE(derText.empty());
        const bytes der(derText.begin(), derText.end());
        const std::string fields =
            testtool::run("openssl x509 -noout -serial -dateopt iso_8601 -startdate -enddate -in '" + file + "'");

        // TBSCertificate children are the depth-2 elements before the
        // certificate's signatureAlgorithm (the second depth-1 element).
        const std::vector<Element> elements = asn1parse(der);
        std::vector<std::size_t> tbs;
        for (std::size_t i = 2; i < elements.size() && elements[i].depth != 1; ++i) {
            if (elements[i].depth == 2) {
                tbs.push_back(i);
            }
        }
        const std::size_t shift = slice(der, elements[tbs.at(0)])[0] == 0xA0 ? 1 : 0;
        const Element& signature = elements.at(tbs.at(1 + shift) + 1);
        const std::size_t keyInfo = tbs.at(5 + shift);
        const Element& keyAlgorithm = elements.at(keyInfo + 2);

        const X509 cert(der);
        EXPECT_EQ(serialHex(cert.serial()), field(fields, "serial"));
        EXPECT_EQ(cert.issuer(), slice(der, elements[tbs.at(2 + shift)]));
        EXPECT_EQ(cert.subject(), slice(der, elements[tbs.at(4 + shift)]));
        const ValidityPeriod validity = cert.validityPeriod();
        EXPECT_EQ(validity.notBefore.generalized(), withoutSeparators(field(fields, "notBefore")));
        EXPECT_EQ(validity.notAfter.generalized(), withoutSeparators(field(fields, "notAfter")));

        const AlgorithmId algorithm = cert.algorithm();
        EXPECT_EQ(der::encode(algorithm.oid()), slice(der, signature));
        EXPECT_EQ(der::encode(cert.signAlgorithm().oid()), slice(der, keyAlgorithm));
        EXPECT_EQ(algorithm.isUnknown(), signature.text.find("WithRSAEncryption") == std::string::npos)
            << signature.text;
        EXPECT_NO_THROW(cert.gost3410ParamsName());
        if (cert.signAlgorithm().isUnknown()) {
            EXPECT_THROW(cert.publicKey(Endian::Big), UnknownAlgorithm);
        } else {
            EXPECT_FALSE(cert.publicKey(Endian::Big).rsaKey().empty());
        }
        foreign += algorithm.isUnknown() ? 1 : 0;
        ++checked;
    }
    if (checked == 0) {
        GTEST_SKIP() << "no .pem certificates in " << HOST_CERTIFICATES;
    }
    RecordProperty("certificates", static_cast<int>(checked));
    RecordProperty("foreignAlgorithm", static_cast<int>(foreign));
}

} // namespace
