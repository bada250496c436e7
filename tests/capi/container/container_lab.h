// What the CSP container tests share: the kinds of GOST keys the lab's CSP
// makes, digests by libgcrypt, openssl's check of a raw signature, and a
// certificate for a CSP key issued by an openssl test CA from the key's own
// PKCS#10 request.
#pragma once

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "cryptoprovider/core/key_store.h"
#include "pkcs7/gost_fixture.h"
#include "support/gost_soft.h"
#include "x509/algorithms.h"

namespace containerlab
{

inline const std::string TC26_A(tc26_gost_3410::paramSetA_256);

using gostsoft::Bytes;

struct KeyKind {
    const char* name;
    AlgorithmId algorithm;
    std::string paramsOid;
    int digest; // libgcrypt's digest of the algorithm (CryptoPro parameters for GOST R 34.11-94)
};

inline const std::vector<KeyKind>& keyKinds()
{
    static const std::vector<KeyKind> kinds{
        {"2001 CryptoPro A", GOST_R_3410_2001_GOST_R_3411_1994, std::string(crypto_pro_param::A),
         GCRY_MD_GOSTR3411_CP},
        {"2001 CryptoPro XchA", GOST_R_3410_2001_GOST_R_3411_1994, std::string(crypto_pro_param::XchA),
         GCRY_MD_GOSTR3411_CP},
        {"2012-256 CryptoPro B", GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
         std::string(crypto_pro_param::B), GCRY_MD_STRIBOG256},
        {"2012-256 TC26 A", GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN,
         std::string(tc26_gost_3410::paramSetA_256), GCRY_MD_STRIBOG256},
        {"2012-512 TC26 A", GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN,
         std::string(tc26_gost_3410::paramSetA_512), GCRY_MD_STRIBOG512},
        {"2012-512 TC26 B", GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN,
         std::string(tc26_gost_3410::paramSetB_512), GCRY_MD_STRIBOG512},
    };
    return kinds;
}

// libgcrypt's digest of `data`, in the order libgcrypt gives it.
inline Bytes gcryptDigest(int algorithm, const Bytes& data)
{
    gcry_check_version(nullptr);
    Bytes out(gcry_md_get_algo_dlen(algorithm));
    gcry_md_hash_buffer(algorithm, out.data(), data.data(), data.size());
    return out;
}

// Whether openssl verifies `signature` (s||r, each half big-endian) over
// `digest` with the key of `spki`.
inline bool opensslAccepts(const Bytes& spki, const Bytes& digest, const Bytes& signature)
{
    const gostsoft::TempDir dir;
    return gostsoft::opensslVerifies(dir, "raw", spki, digest, signature);
}

// A test CA (openssl key and self-signed certificate) that issues
// certificates for keys it does not hold, from their PKCS#10 requests.
class TestCa
{
  public:
    TestCa() : m_ca(gostsoft::Curve::Tc26A256, "/CN=CSP test CA/O=Lab/C=RU") {}

    const cmstest::GostSigner& signer() const noexcept { return m_ca; }
    // The CA certificate's PEM file, for "-CAfile".
    const std::string& certificateFile() const noexcept { return m_ca.certPem; }

    // A certificate (DER) for `key` of `store`: the store signs a request for
    // it, openssl checks the request's signature and issues the certificate.
    Bytes issue(KeyStore& store, const std::shared_ptr<KeyRecord>& key, const std::string& commonName)
    {
        SubjectDN subject;
        subject.commonName = commonName;
        subject.countryName = "RU";
        Extensions extensions;
        return issue(store.createPkcs10(key, subject, extensions, true, SHA_256));
    }

    // A certificate (DER) from a PKCS#10 request (DER) whose signature
    // openssl checks first.
    Bytes issue(const Bytes& request)
    {
        const std::string name = "user" + std::to_string(++m_issued);
        gostsoft::writeFile(m_ca.dir.file(name + ".req"), request);
        const auto made = gostsoft::openssl("x509 -req -inform DER -in " + m_ca.dir.file(name + ".req") +
                                            " -CA " + m_ca.certPem + " -CAkey " + m_ca.keyPem +
                                            " -set_serial " + std::to_string(1000 + m_issued) +
                                            " -days 30 -outform DER -out " + m_ca.dir.file(name + ".der"));
        if (made.status != 0) {
            throw std::runtime_error("openssl x509 -req failed: " + made.output);
        }
        return gostsoft::readFile(m_ca.dir.file(name + ".der"));
    }

  private:
    cmstest::GostSigner m_ca;
    int m_issued = 0;
};

} // namespace containerlab
