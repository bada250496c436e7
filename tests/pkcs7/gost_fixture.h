// A software GOST key with an openssl-made self-signed certificate, and the
// helpers the format tests share.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/gost_soft.h"
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

// Key, certificate and their files in a private temporary folder.
struct GostSigner {
    explicit GostSigner(gostsoft::Curve curve, const std::string& subject = "/CN=Test signer/O=Lab/C=RU")
        : key(gostsoft::Key::generate(curve))
    {
        keyPem = dir.file("key.pem");
        certPem = dir.file("cert.pem");
        gostsoft::writeFile(keyPem, key.privateKeyPem());
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

    // Signature over `data` in the orientation signing back ends store (r||s).
    Bytes storedSignature(const Bytes& data) const { return swapHalves(key.sign(data)); }

    gostsoft::TempDir dir;
    gostsoft::Key key;
    std::string keyPem;
    std::string certPem;
    X509 cert;
};

} // namespace cmstest
