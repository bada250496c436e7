// A software GOST key with an openssl-made self-signed certificate, and the
// helpers the format tests share.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "asn1/der.h"
#include "support/gost_soft.h"
#include "x509/cert_builder.h"
#include "x509/pkcs10.h"
#include "x509/x509.h"

namespace cmstest
{

using gostsoft::Bytes;

// A0 B0 -> B0 A0: CMS writes s||r, signing back ends give r||s.
inline Bytes swapHalves(const Bytes& signature)
{
    const auto half = static_cast<std::ptrdiff_t>(signature.size() / 2);
    Bytes out(signature.begin() + half, signature.end());
    out.insert(out.end(), signature.begin(), signature.begin() + half);
    return out;
}

inline Bytes toBytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

// The GOST R 34.10-2012 signature algorithm of a key's size.
inline AlgorithmId signatureAlgorithm(const gostsoft::Key& key)
{
    return key.is512() ? GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN
                       : GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN;
}

inline SubjectPublicKeyInfo keyInfo(const gostsoft::Key& key)
{
    return SubjectPublicKeyInfo{key.is512() ? GOST_R_3410_2012_512 : GOST_R_3410_2012_256,
                                ObjectIdentifier(key.paramSetOid()), ObjectIdentifier(key.digestOid()),
                                PublicKey(key.publicKey())};
}

// A request for `key`, signed by it (signature s||r, as CMS and X.509 write it).
inline bytes makeRequest(const gostsoft::Key& key, const SubjectDN& subject, const Extensions& extensions)
{
    const bytes info = Pkcs10::Info{0, subject, keyInfo(key), extensions}.derEncoding();
    return Pkcs10(signatureAlgorithm(key), info, key.sign(info)).derEncoding();
}

// Who makes the fixture's self-signed certificate.
enum class CertificateMaker { Openssl, OurBuilder };

// Key, certificate and their files in a private temporary folder.
struct GostSigner {
    explicit GostSigner(gostsoft::Curve curve, const std::string& subject = "/CN=Test signer/O=Lab/C=RU",
                        CertificateMaker maker = CertificateMaker::Openssl)
        : key(gostsoft::Key::generate(curve))
    {
        keyPem = dir.file("key.pem");
        certPem = dir.file("cert.pem");
        gostsoft::writeFile(keyPem, key.privateKeyPem());
        if (maker == CertificateMaker::OurBuilder) {
            cert = buildSelfSigned();
            gostsoft::writeFile(certPem, gostsoft::toPem(cert.data(), "CERTIFICATE"));
            return;
        }
        const auto made = gostsoft::openssl("req -new -x509 -days 30 -key " + keyPem + " -subj '" + subject +
                                            "' -set_serial 0x2A05 -out " + certPem);
        if (made.status != 0)
            throw std::runtime_error("openssl req -x509 failed: " + made.output);
        const auto der =
            gostsoft::openssl("x509 -in " + certPem + " -outform DER -out " + dir.file("cert.der"));
        if (der.status != 0)
            throw std::runtime_error("openssl x509 failed: " + der.output);
        cert = X509(gostsoft::readFile(dir.file("cert.der")));
    }

    // A self-signed certificate (serial 2A 05, CN and C) from a request for
    // the key, made with the library's request and certificate builders.
    X509 buildSelfSigned() const
    {
        SubjectDN subject;
        subject.commonName = "Test signer";
        subject.countryName = "RU";
        Extensions extensions;
        extensions.keyUsage = 3; // digitalSignature, nonRepudiation
        const bytes request = makeRequest(key, subject, extensions);
        const ValidityPeriod validity{Asn1Time(std::string_view("250101000000Z")),
                                      Asn1Time(std::string_view("20500101000000Z"))};
        const TbsCertificate tbs(bytes{0x2A, 0x05}, request, validity);
        return X509(X509::DEFAULT_CERT_ID, tbs, der::encode(key.sign(tbs.derEncoding()), 0));
    }

    // Signature over `data` in the orientation signing back ends store (r||s).
    Bytes storedSignature(const Bytes& data) const { return swapHalves(key.sign(data)); }

    gostsoft::TempDir dir;
    gostsoft::Key key;
    std::string keyPem;
    std::string certPem;
    X509 cert;
};

} // namespace cmstest
