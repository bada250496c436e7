// The certificates and requests of the Python cryptography project's test
// vectors (NIST PKITS, its own custom and broken ones, certificates-only
// PKCS#7): every valid one reads, every broken one is refused with a
// catalogue error, none crashes. Skips where the vectors are not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include "asn1/der.h"
#include "asn1/openssl_tool.h"
#include "base/conv.h"
#include "base/error.h"
#include "pkcs7/errors.h"
#include "pkcs7/pkcs7.h"
#include "x509/errors.h"
#include "x509/pem.h"
#include "x509/pkcs10.h"
#include "x509/x509.h"

namespace
{

namespace fs = std::filesystem;

const fs::path VECTORS = "/usr/lib/python3/dist-packages/cryptography_vectors";

bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The DER objects of a file: each armoured block of `label` in a PEM file
// (a chain holds several), the file itself otherwise.
std::vector<bytes> derObjects(const bytes& file, const std::string& label)
{
    const std::string text(file.begin(), file.end());
    const std::string begin = "-----BEGIN " + label + "-----";
    const std::string end = "-----END " + label + "-----";
    if (text.find("-----BEGIN ") == std::string::npos) {
        return {file};
    }
    std::vector<bytes> out;
    for (auto at = text.find(begin); at != std::string::npos; at = text.find(begin, at + 1)) {
        const auto stop = text.find(end, at);
        if (stop == std::string::npos) {
            break;
        }
        std::string body;
        for (const char c : text.substr(at + begin.size(), stop - at - begin.size())) {
            if (c != '\r' && c != '\n') {
                body.push_back(c);
            }
        }
        out.push_back(conv::base64_to_binary(body));
    }
    return out;
}

enum class Outcome { Read, Refused, Unclear };

struct Result {
    Outcome outcome = Outcome::Read;
    std::string message;
};

// Runs `read`; a catalogue error is a clear refusal, any other exception an
// unclear one.
template <class Read> Result attempt(Read read)
{
    try {
        read();
        return {};
    } catch (const bs::LookedUpError& e) {
        return {Outcome::Refused, e.what()};
    } catch (const bs::ComposedError& e) {
        return {Outcome::Refused, e.what()};
    } catch (const std::exception& e) {
        return {Outcome::Unclear, std::string(typeid(e).name()) + ": " + e.what()};
    }
}

// Everything the library reads of a certificate; `step` names the accessor
// that was running when it fails.
void readCertificate(const bytes& der, std::string& step)
{
    step = "construct";
    const X509 cert(der);
    step = "tbsVersion";
    (void)cert.tbsVersion();
    step = "serial";
    if (cert.serial().empty()) {
        throw std::runtime_error("no serial");
    }
    step = "algorithm";
    (void)cert.algorithm();
    step = "names";
    (void)cert.issuer();
    (void)cert.subject();
    (void)cert.issuerName();
    (void)cert.subjectName();
    step = "validityPeriod";
    (void)cert.validityPeriod();
    step = "signAlgorithm";
    const AlgorithmId key = cert.signAlgorithm();
    step = "parameters";
    (void)cert.gost3410ParamsOid();
    (void)cert.gost3410ParamsName();
    step = "publicKey";
    if (key.isGost() || key.isRsa()) {
        (void)cert.publicKey(Endian::Big);
    }
    step = "signature";
    (void)cert.signature();
}

bool inCatalogue(const ObjectIdentifier& algorithm)
{
    try {
        findSignAlgorithmId(algorithm);
        return true;
    } catch (const UnsupportedAlgorithm&) {
        return false;
    }
}

// Everything the library reads of a request; the key itself only when it is
// of a catalogue algorithm (GOST, RSA).
void readRequest(const bytes& der)
{
    const Pkcs10 request(der);
    (void)request.subject();
    (void)request.extensions();
    (void)request.signature();
    const std::vector<bytes> keyInfo = der::getSequense(request.certRequestInfo().at(2));
    const ObjectIdentifier keyAlgorithm = der::getObjectIdentifier(der::getSequense(keyInfo.at(0)).at(0));
    if (inCatalogue(keyAlgorithm)) {
        (void)request.publicKeyInfo();
    }
}

struct Tally {
    std::size_t read = 0;
    std::size_t refused = 0;
};

void record(std::map<std::string, Tally>& table, const std::string& folder, const Result& result)
{
    (result.outcome == Outcome::Read ? table[folder].read : table[folder].refused)++;
}

std::string describe(const Result& r)
{
    return r.outcome == Outcome::Read
               ? "read"
               : (r.outcome == Outcome::Refused ? "refused: " : "unclear: ") + r.message;
}

// Files broken on purpose in what this library reads of them.
const std::set<std::string> BROKEN_CERTIFICATES{
    "cryptography-scts-tbs-precert.der", // a TBSCertificate alone
    "badasn1time.pem",                   // a UTCTime in the GeneralizedTime form
    "custom/invalid_version.pem",        // version 7
};
const std::set<std::string> BROKEN_REQUESTS{
    "requests/bad-version.pem", // version 1
};

// Certificates and requests of the suite: relative path and folder of the
// outcome table. CRLs and keys among the custom files are left out.
std::vector<std::pair<std::string, std::string>> suiteFiles(const fs::path& x509, bool requests)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& entry : fs::recursive_directory_iterator(x509)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string rel = fs::relative(entry.path(), x509).string();
        const std::string name = entry.path().filename().string();
        const auto slash = rel.rfind('/');
        const std::string folder = slash == std::string::npos ? "x509" : "x509/" + rel.substr(0, slash);
        if (requests
                ? folder == "x509/requests"
                : (folder == "x509" || folder == "x509/custom" || folder == "x509/PKITS_data/certs") &&
                      name.find("crl") == std::string::npos && name.find("_key.pem") == std::string::npos) {
            out.emplace_back(rel, folder);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

void checkSuite(bool requests)
{
    const fs::path x509 = VECTORS / "x509";
    const std::set<std::string>& broken = requests ? BROKEN_REQUESTS : BROKEN_CERTIFICATES;
    std::map<std::string, Tally> table;
    for (const auto& [rel, folder] : suiteFiles(x509, requests)) {
        const bytes file = readFile(x509 / rel);
        std::vector<bytes> objects = derObjects(file, requests ? "CERTIFICATE REQUEST" : "CERTIFICATE");
        if (objects.empty()) {
            objects = derObjects(file, requests ? "NEW CERTIFICATE REQUEST" : "X509 CERTIFICATE");
        }
        ASSERT_FALSE(objects.empty()) << rel;
        for (const bytes& der : objects) {
            std::string step;
            const Result result =
                requests ? attempt([&] { readRequest(der); }) : attempt([&] { readCertificate(der, step); });
            EXPECT_NE(result.outcome, Outcome::Unclear) << rel << " " << step << ": " << result.message;
            EXPECT_EQ(result.outcome == Outcome::Read, broken.count(rel) == 0)
                << rel << " " << step << ": " << describe(result);
            record(table, folder, result);
        }
    }
    for (const auto& [folder, tally] : table) {
        std::printf("  %-24s read %4zu  refused %2zu\n", folder.c_str(), tally.read, tally.refused);
        ::testing::Test::RecordProperty(folder + " read", static_cast<int>(tally.read));
        ::testing::Test::RecordProperty(folder + " refused", static_cast<int>(tally.refused));
    }
}

TEST(CryptographyVectors, CertificatesReadAndBrokenOnesAreRefused)
{
    if (!fs::is_directory(VECTORS)) {
        GTEST_SKIP() << "python3-cryptography-vectors is not installed (" << VECTORS << ")";
    }
    checkSuite(false);
}

TEST(CryptographyVectors, RequestsReadAndBrokenOnesAreRefused)
{
    if (!fs::is_directory(VECTORS)) {
        GTEST_SKIP() << "python3-cryptography-vectors is not installed (" << VECTORS << ")";
    }
    checkSuite(true);
}

// A certificates-only SignedData (no signers) is refused as a message
// without signers, so nothing can take it for a signed one; the certificates
// it carries (as openssl lists them) all read. An EnvelopedData is refused
// as not being signed data.
TEST(CryptographyVectors, CertificatesOnlyPkcs7)
{
    if (!fs::is_directory(VECTORS)) {
        GTEST_SKIP() << "python3-cryptography-vectors is not installed (" << VECTORS << ")";
    }
    struct Case {
        const char* file;
        const char* inform;
        std::size_t certificates; // as openssl lists them
        const char* reason;       // catalogue code of the refusal
    };
    for (const Case& c :
         {Case{"amazon-roots.der", "DER", 2, "PKCS-001002"},
          Case{"amazon-roots.p7b", "DER", 2, "PKCS-001002"}, Case{"isrg.pem", "PEM", 1, "PKCS-001002"},
          Case{"enveloped.pem", "PEM", 0, "PKCS-001001"}}) {
        SCOPED_TRACE(c.file);
        const fs::path path = VECTORS / "pkcs7" / c.file;
        const std::vector<bytes> objects = derObjects(readFile(path), "PKCS7");
        ASSERT_EQ(objects.size(), 1u);
        std::string refusal;
        try {
            (void)Pkcs7(objects.front(), pkcs7::Format::SerialWithIssuer);
        } catch (const ParseCmsContainerError& e) {
            refusal = e.what();
        }
        std::printf("  pkcs7/%-18s refused: %s\n", c.file, refusal.c_str());
        EXPECT_NE(refusal.find(pkcs::localization.get(c.reason)), std::string::npos) << refusal;
        if (c.certificates == 0 || !testtool::haveOpenssl()) {
            continue;
        }
        const std::string listed = testtool::run(std::string("openssl pkcs7 -print_certs -inform ") +
                                                 c.inform + " -in '" + path.string() + "'");
        const std::vector<bytes> carried = derObjects(bytes(listed.begin(), listed.end()), "CERTIFICATE");
        EXPECT_EQ(carried.size(), c.certificates) << listed;
        for (const bytes& der : carried) {
            std::string step;
            const Result read = attempt([&] { readCertificate(der, step); });
            EXPECT_EQ(read.outcome, Outcome::Read) << step << ": " << describe(read);
        }
    }
}

} // namespace
