// The cryptography of the simulated tokens, done by libgcrypt, with the byte
// conventions of the token interface:
//  - a GOST digest is given and returned in the order the hash produces it
//    (the order libgcrypt and OpenSSL print); the signing mechanisms read the
//    digest as a little-endian integer;
//  - a GOST signature is s||r, each half big-endian and of the coordinate size;
//  - a GOST public key (CKA_VALUE) is X||Y, each coordinate little-endian (the
//    content of the certificate's OCTET STRING);
//  - a GOST private key is kept as d, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace labtoken
{

using Bytes = std::vector<std::uint8_t>;

struct GostCurve {
    std::string oid;        // parameter set
    std::string gcryptName; // libgcrypt curve name
    std::size_t size;       // octets of one coordinate: 32 or 64
};

// The curve of a parameter set given as the DER of its OID; nullopt when unknown.
std::optional<GostCurve> curveByParamsDer(const Bytes& der);
Bytes oidToDer(const std::string& dotted);
// Empty text when the bytes are not one DER OBJECT IDENTIFIER.
std::string derToOid(const Bytes& der);

void initCrypto();

struct GostKeyPair {
    Bytes privateLe; // d, little-endian
    Bytes publicLe;  // X||Y, each little-endian
};
GostKeyPair gostGenerate(const GostCurve& curve);
Bytes gostSign(const GostCurve& curve, const Bytes& privateLe, const Bytes& digest);
bool gostVerify(const GostCurve& curve, const Bytes& publicLe, const Bytes& digest, const Bytes& signature);

struct RsaKeyPair {
    Bytes n, e, d, p, q, u; // big-endian without leading zeros
};
RsaKeyPair rsaGenerate(unsigned bits);
// PKCS#1 v1.5 block type 1 over `data` as given (a DigestInfo or a bare digest).
// nullopt when the data is too long for the modulus.
std::optional<Bytes> rsaSign(const RsaKeyPair& key, const Bytes& data);
bool rsaVerify(const Bytes& n, const Bytes& e, const Bytes& data, const Bytes& signature);

// libgcrypt message digest algorithm id of a digest mechanism, 0 when none.
// For CKM_GOSTR3411 the parameter (DER OID) selects the parameter set; an
// unknown parameter set gives -1.
int digestAlgorithm(unsigned long mechanism, const Bytes& parameter);
Bytes digest(int algorithm, const Bytes& data);

// A digest computed as its parts come, so that a long message is never held
// whole. Move-only owner of the libgcrypt hash context; an empty one (the
// default) belongs to no operation. The value equals digest() over the parts
// joined.
class RunningDigest
{
public:
    RunningDigest() = default;
    // std::runtime_error when libgcrypt cannot open `algorithm`.
    explicit RunningDigest(int algorithm);

    void write(const std::uint8_t* part, std::size_t length);
    // The digest of every part written; the context is released after it.
    Bytes finish();
    std::size_t length() const;

private:
    struct Close {
        void operator()(void* handle) const;
    };
    int algorithm_ = 0;
    std::unique_ptr<void, Close> handle_;
};

} // namespace labtoken
