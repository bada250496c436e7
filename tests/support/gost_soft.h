// Software GOST R 34.10-2012 keys for tests, held by libgcrypt, with the byte
// conventions of CMS and X.509: digests are read as little-endian integers,
// signatures are s||r, public keys are X||Y with each coordinate little-endian.
// Also small helpers to run the openssl command line (with the gost engine)
// in a temporary folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace gostsoft
{

using Bytes = std::vector<std::uint8_t>;

enum class Curve {
    CryptoProA256, // 1.2.643.2.2.35.1, with GOST R 34.10-2012-256
    Tc26A256,      // 1.2.643.7.1.2.1.1.1
    Tc26A512,      // 1.2.643.7.1.2.1.2.1
    Tc26B512,      // 1.2.643.7.1.2.1.2.2
};

class Key
{
  public:
    static Key generate(Curve curve);
    ~Key();
    Key(Key&&) noexcept;
    Key& operator=(Key&&) noexcept;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    Curve curve() const noexcept { return m_curve; }
    // Octets of one coordinate, of d, of r and of s: 32 or 64.
    std::size_t size() const noexcept;
    bool is512() const noexcept { return size() == 64; }

    std::string paramSetOid() const;
    std::string publicKeyAlgorithmOid() const; // 1.2.643.7.1.1.1.1 / .2
    std::string signatureAlgorithmOid() const; // 1.2.643.7.1.1.3.2 / .3
    std::string digestOid() const;             // 1.2.643.7.1.1.2.2 / .3

    // Streebog of the key's size over `data`, in the order the hash produces.
    Bytes digest(const Bytes& data) const;
    // Signature s||r of a digest given in the order the hash produces.
    Bytes signDigest(const Bytes& digest) const;
    bool verifyDigest(const Bytes& digest, const Bytes& signature) const;
    // digest() and signDigest() in one step.
    Bytes sign(const Bytes& data) const { return signDigest(digest(data)); }

    // X||Y, each coordinate little-endian (the certificate's OCTET STRING).
    Bytes publicKey() const;
    // SubjectPublicKeyInfo DER; the parameters carry the digest OID when
    // `withDigestParam` is set.
    Bytes subjectPublicKeyInfo(bool withDigestParam = true) const;
    // PKCS#8 PrivateKeyInfo as PEM, readable by openssl with the gost engine.
    std::string privateKeyPem() const;

  private:
    Key(Curve curve, Bytes d, Bytes q);
    Curve m_curve;
    Bytes m_d; // big-endian
    Bytes m_q; // 04 || X || Y, big-endian
};

// Streebog-256 / -512 (bits 256 or 512).
Bytes streebog(const Bytes& data, unsigned bits);
// SHA-1 / SHA-256 for reference checks.
Bytes sha1(const Bytes& data);
Bytes sha256(const Bytes& data);

// Minimal DER writer, independent of the library under test.
Bytes derElement(std::uint8_t tag, const Bytes& content);
Bytes derOid(std::string_view dotted);
Bytes derConcat(std::initializer_list<Bytes> parts);

std::string toPem(const Bytes& der, std::string_view label);
std::string toHex(const Bytes& data);

// A fresh folder under the system temp folder, removed with its content.
class TempDir
{
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const noexcept { return m_path; }
    std::string file(std::string_view name) const { return (m_path / std::string(name)).string(); }

  private:
    std::filesystem::path m_path;
};

void writeFile(const std::string& path, const Bytes& data);
void writeFile(const std::string& path, std::string_view text);
Bytes readFile(const std::string& path);

struct CommandResult {
    int status = -1;    // exit code, -1 when the command did not exit normally
    std::string output; // stdout and stderr together
};
// Runs a shell command line.
CommandResult run(const std::string& commandLine);
// Runs `openssl <args>` with the gost engine configuration.
CommandResult openssl(const std::string& args);
// `openssl pkeyutl -verify` of a raw signature over a digest under a
// SubjectPublicKeyInfo (DER); the three files go into `dir`, named after
// `name`. `options` are further pkeyutl arguments ("-pkeyopt digest:sha256").
CommandResult opensslVerify(const TempDir& dir, const std::string& name, const Bytes& spki, const Bytes& digest,
                            const Bytes& signature, const std::string& options = "");
// True when opensslVerify exits cleanly and reports the signature verified.
bool opensslVerifies(const TempDir& dir, const std::string& name, const Bytes& spki, const Bytes& digest,
                     const Bytes& signature);

} // namespace gostsoft
