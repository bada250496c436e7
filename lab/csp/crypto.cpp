#include "crypto.h"

#include <gcrypt.h>

#include <algorithm>

namespace labcsp
{
namespace
{
const std::vector<ParamSet>& paramSets()
{
    static const std::vector<ParamSet> list = {
        {"1.2.643.2.2.35.1", "GOST2001-CryptoPro-A", 32, true},
        {"1.2.643.2.2.35.2", "GOST2001-CryptoPro-B", 32, true},
        {"1.2.643.2.2.35.3", "GOST2001-CryptoPro-C", 32, true},
        {"1.2.643.2.2.36.0", "GOST2001-CryptoPro-A", 32, true}, // XchA
        {"1.2.643.2.2.36.1", "GOST2001-CryptoPro-C", 32, true}, // XchB
        {"1.2.643.7.1.2.1.1.1", "GOST2012-256-A", 32, false},
        {"1.2.643.7.1.2.1.1.2", "GOST2001-CryptoPro-A", 32, false}, // the same curves as CryptoPro A, B, C
        {"1.2.643.7.1.2.1.1.3", "GOST2001-CryptoPro-B", 32, false},
        {"1.2.643.7.1.2.1.1.4", "GOST2001-CryptoPro-C", 32, false},
        {"1.2.643.7.1.2.1.2.1", "GOST2012-512-tc26-A", 64, false},
        {"1.2.643.7.1.2.1.2.2", "GOST2012-512-tc26-B", 64, false},
        {"1.2.643.7.1.2.1.2.3", "GOST2012-512-tc26-C", 64, false},
    };
    return list;
}

labtoken::GostCurve curveOf(const std::string& oid)
{
    const ParamSet* set = paramSet(oid);
    if (!set)
        fail(NTE_BAD_DATA);
    return {set->oid, set->curve, set->size};
}

Bytes reversed(Bytes b)
{
    std::reverse(b.begin(), b.end());
    return b;
}

// DigestInfo prefix of a SHA hash (PKCS#1).
Bytes digestInfoPrefix(ALG_ID alg)
{
    switch (alg) {
    case CALG_SHA1:
        return {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
    case CALG_SHA_224:
        return {0x30, 0x2d, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                0x65, 0x03, 0x04, 0x02, 0x04, 0x05, 0x00, 0x04, 0x1c};
    case CALG_SHA_256:
        return {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    case CALG_SHA_384:
        return {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
    case CALG_SHA_512:
        return {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};
    default:
        fail(NTE_BAD_ALGID);
    }
}

Bytes rsaInput(ALG_ID hashAlg, const Bytes& value, bool noHashOid)
{
    if (noHashOid)
        return value;
    Bytes in = digestInfoPrefix(hashAlg);
    in.insert(in.end(), value.begin(), value.end());
    return in;
}

Bytes stripZeros(Bytes b)
{
    auto it = std::find_if(b.begin(), b.end(), [](std::uint8_t x) { return x != 0; });
    b.erase(b.begin(), it);
    return b;
}

void putDword(Bytes& out, DWORD v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

DWORD getDword(const Bytes& in, std::size_t at)
{
    if (at + 4 > in.size())
        fail(NTE_BAD_DATA);
    return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | static_cast<DWORD>(in[at + 3]) << 24;
}

// Reads one DER OBJECT IDENTIFIER at `at` (short length form).
std::optional<std::string> readOid(const Bytes& in, std::size_t& at)
{
    if (at + 2 > in.size() || in[at] != 0x06 || in[at + 1] >= 0x80 || at + 2 + in[at + 1] > in.size())
        return std::nullopt;
    Bytes der(in.begin() + at, in.begin() + at + 2 + in[at + 1]);
    std::string oid = labtoken::derToOid(der);
    if (oid.empty())
        return std::nullopt;
    at += der.size();
    return oid;
}
} // namespace

const ParamSet* paramSet(const std::string& oid)
{
    for (const auto& s : paramSets())
        if (oid == s.oid)
            return &s;
    return nullptr;
}

bool paramSetFits(ALG_ID alg, const ParamSet& set)
{
    switch (alg) {
    case CALG_GOST_R3410_2001:
        return set.gost2001;
    case CALG_GOST_R3410_2012_256:
        return set.size == 32;
    case CALG_GOST_R3410_2012_512:
        return set.size == 64;
    default:
        return false;
    }
}

std::string defaultParamSet(ALG_ID alg)
{
    return alg == CALG_GOST_R3410_2012_512 ? "1.2.643.7.1.2.1.2.1" : "1.2.643.2.2.35.1";
}

std::string digestParamSet(ALG_ID alg)
{
    switch (alg) {
    case CALG_GOST_R3410_2012_256:
        return "1.2.643.7.1.1.2.2";
    case CALG_GOST_R3410_2012_512:
        return "1.2.643.7.1.1.2.3";
    default:
        return "1.2.643.2.2.30.1";
    }
}

bool isGostKeyAlg(ALG_ID alg)
{
    return alg == CALG_GOST_R3410_2001 || alg == CALG_GOST_R3410_2012_256 || alg == CALG_GOST_R3410_2012_512;
}

bool isRsaKeyAlg(ALG_ID alg)
{
    return alg == CALG_RSA_SIGN || alg == CALG_RSA_KEYX;
}

bool isGostType(DWORD type)
{
    return type == PROV_GOST_2001_DH || type == PROV_GOST_2012_256 || type == PROV_GOST_2012_512;
}

ALG_ID gostKeyAlg(DWORD type)
{
    switch (type) {
    case PROV_GOST_2001_DH:
        return CALG_GOST_R3410_2001;
    case PROV_GOST_2012_256:
        return CALG_GOST_R3410_2012_256;
    case PROV_GOST_2012_512:
        return CALG_GOST_R3410_2012_512;
    default:
        return 0;
    }
}

std::size_t hashSize(ALG_ID alg)
{
    switch (alg) {
    case CALG_GOST_R3411_94:
    case CALG_GOST_R3411_2012_256:
    case CALG_SHA_256:
        return 32;
    case CALG_GOST_R3411_2012_512:
    case CALG_SHA_512:
        return 64;
    case CALG_SHA1:
        return 20;
    case CALG_SHA_224:
        return 28;
    case CALG_SHA_384:
        return 48;
    default:
        return 0;
    }
}

bool hashAllowed(DWORD type, ALG_ID alg)
{
    if (hashSize(alg) == 0)
        return false;
    const bool gostHash =
        alg == CALG_GOST_R3411_94 || alg == CALG_GOST_R3411_2012_256 || alg == CALG_GOST_R3411_2012_512;
    return isGostType(type) || !gostHash;
}

Bytes hashValue(ALG_ID alg, const std::string& set, const Bytes& data)
{
    int md = 0;
    switch (alg) {
    case CALG_GOST_R3411_94:
        md = set == "1.2.643.2.2.30.0" ? GCRY_MD_GOSTR3411_94 : GCRY_MD_GOSTR3411_CP;
        break;
    case CALG_GOST_R3411_2012_256:
        md = GCRY_MD_STRIBOG256;
        break;
    case CALG_GOST_R3411_2012_512:
        md = GCRY_MD_STRIBOG512;
        break;
    case CALG_SHA1:
        md = GCRY_MD_SHA1;
        break;
    case CALG_SHA_224:
        md = GCRY_MD_SHA224;
        break;
    case CALG_SHA_256:
        md = GCRY_MD_SHA256;
        break;
    case CALG_SHA_384:
        md = GCRY_MD_SHA384;
        break;
    case CALG_SHA_512:
        md = GCRY_MD_SHA512;
        break;
    default:
        fail(NTE_BAD_ALGID);
    }
    return labtoken::digest(md, data);
}

bool signsHash(ALG_ID keyAlg, ALG_ID hashAlg)
{
    switch (keyAlg) {
    case CALG_GOST_R3410_2001:
        return hashAlg == CALG_GOST_R3411_94;
    case CALG_GOST_R3410_2012_256:
        return hashAlg == CALG_GOST_R3411_2012_256;
    case CALG_GOST_R3410_2012_512:
        return hashAlg == CALG_GOST_R3411_2012_512;
    case CALG_RSA_SIGN:
    case CALG_RSA_KEYX:
        return hashAlg == CALG_SHA1 || hashAlg == CALG_SHA_224 || hashAlg == CALG_SHA_256 ||
               hashAlg == CALG_SHA_384 || hashAlg == CALG_SHA_512;
    default:
        return false;
    }
}

KeyPair generateGost(ALG_ID alg, const std::string& set, DWORD keySpec)
{
    KeyPair k;
    k.alg = alg;
    k.keySpec = keySpec;
    k.paramSet = set;
    auto pair = labtoken::gostGenerate(curveOf(set));
    k.privateLe = std::move(pair.privateLe);
    k.publicLe = std::move(pair.publicLe);
    return k;
}

KeyPair generateRsa(unsigned bits, DWORD keySpec)
{
    KeyPair k;
    k.alg = keySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX;
    k.keySpec = keySpec;
    k.rsa = labtoken::rsaGenerate(bits);
    return k;
}

Bytes sign(const KeyPair& key, ALG_ID hashAlg, const Bytes& value, bool noHashOid)
{
    if (value.size() != hashSize(hashAlg))
        fail(NTE_BAD_LEN);
    if (key.isRsa()) {
        auto s = labtoken::rsaSign(key.rsa, rsaInput(hashAlg, value, noHashOid));
        if (!s)
            fail(NTE_BAD_LEN);
        return reversed(*s);
    }
    // s||r big-endian from the helpers; the CSP gives the byte-reverse of it:
    // r then s, each little-endian (the library reverses each half and has
    // r||s, the order every key store hands on).
    return reversed(labtoken::gostSign(curveOf(key.paramSet), key.privateLe, value));
}

bool verify(const KeyPair& key, ALG_ID hashAlg, const Bytes& value, const Bytes& signature, bool noHashOid)
{
    if (value.size() != hashSize(hashAlg))
        return false;
    if (key.isRsa())
        return labtoken::rsaVerify(key.rsa.n, key.rsa.e, rsaInput(hashAlg, value, noHashOid),
                                   reversed(signature));
    return labtoken::gostVerify(curveOf(key.paramSet), key.publicLe, value, reversed(signature));
}

DWORD keyBits(const KeyPair& key)
{
    if (key.isRsa())
        return static_cast<DWORD>(stripZeros(key.rsa.n).size() * 8);
    return static_cast<DWORD>(key.publicLe.size() * 4);
}

Bytes exportPublicKey(const KeyPair& key)
{
    Bytes out;
    if (key.isRsa()) {
        Bytes n = stripZeros(key.rsa.n), e = stripZeros(key.rsa.e);
        if (e.size() > 4)
            fail(NTE_BAD_KEY);
        DWORD exponent = 0;
        for (auto b : e)
            exponent = exponent << 8 | b;
        out = {PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, 0};
        putDword(out, key.alg);
        putDword(out, RSA1_MAGIC);
        putDword(out, static_cast<DWORD>(n.size() * 8));
        putDword(out, exponent);
        Bytes modulus = reversed(n);
        out.insert(out.end(), modulus.begin(), modulus.end());
        return out;
    }
    out = {PUBLICKEYBLOB, GOST_BLOB_VERSION, 0, 0};
    putDword(out, key.alg);
    putDword(out, GOST_PUBKEY_MAGIC);
    putDword(out, static_cast<DWORD>(key.publicLe.size() * 8));
    Bytes params = labtoken::oidToDer(key.paramSet), digest = labtoken::oidToDer(digestParamSet(key.alg));
    out.insert(out.end(), params.begin(), params.end());
    out.insert(out.end(), digest.begin(), digest.end());
    out.insert(out.end(), key.publicLe.begin(), key.publicLe.end());
    return out;
}

KeyPair importPublicKey(const Bytes& blob)
{
    if (blob.size() < 16)
        fail(NTE_BAD_DATA);
    if (blob[0] != PUBLICKEYBLOB)
        fail(NTE_BAD_TYPE);
    KeyPair k;
    k.alg = getDword(blob, 4);
    const DWORD magic = getDword(blob, 8), bits = getDword(blob, 12);
    if (isRsaKeyAlg(k.alg)) {
        if (blob[1] != CUR_BLOB_VERSION || magic != RSA1_MAGIC || bits == 0 || bits % 8 != 0 ||
            blob.size() != 20 + bits / 8)
            fail(NTE_BAD_DATA);
        const DWORD exponent = getDword(blob, 16);
        if (exponent == 0)
            fail(NTE_BAD_DATA);
        k.rsa.n = stripZeros(reversed(Bytes(blob.begin() + 20, blob.end())));
        for (int shift = 24; shift >= 0; shift -= 8)
            k.rsa.e.push_back(static_cast<std::uint8_t>(exponent >> shift));
        k.rsa.e = stripZeros(k.rsa.e);
        return k;
    }
    if (!isGostKeyAlg(k.alg))
        fail(NTE_BAD_ALGID);
    if (blob[1] != GOST_BLOB_VERSION || magic != GOST_PUBKEY_MAGIC || (bits != 512 && bits != 1024) ||
        blob.size() < 16 + bits / 8)
        fail(NTE_BAD_DATA);
    // Between the header and the key: the parameter-set OIDs, as a run of
    // OBJECT IDENTIFIERs or inside one SEQUENCE.
    const std::size_t keyAt = blob.size() - bits / 8;
    std::size_t at = 16, end = keyAt;
    if (at + 2 <= end && blob[at] == 0x30 && blob[at + 1] + 2u == end - at)
        at += 2;
    auto set = readOid(blob, at);
    if (!set)
        fail(NTE_BAD_DATA);
    while (at < end)
        if (!readOid(blob, at))
            fail(NTE_BAD_DATA);
    if (at != end)
        fail(NTE_BAD_DATA);
    const ParamSet* p = paramSet(*set);
    if (!p || !paramSetFits(k.alg, *p) || p->size * 16 != bits)
        fail(NTE_BAD_DATA);
    k.paramSet = *set;
    k.publicLe.assign(blob.begin() + keyAt, blob.end());
    return k;
}

bool certificateKeyMatches(const KeyPair& key, const Bytes& bits)
{
    if (key.isRsa()) {
        // RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
        std::size_t at = 0;
        auto element = [&](std::uint8_t tag) -> std::optional<Bytes> {
            if (at + 2 > bits.size() || bits[at] != tag)
                return std::nullopt;
            std::size_t len = bits[at + 1], header = 2;
            if (len & 0x80) {
                std::size_t n = len & 0x7F;
                if (n == 0 || n > 4 || at + 2 + n > bits.size())
                    return std::nullopt;
                len = 0;
                for (std::size_t i = 0; i < n; ++i)
                    len = len << 8 | bits[at + 2 + i];
                header += n;
            }
            if (at + header + len > bits.size())
                return std::nullopt;
            Bytes content(bits.begin() + at + header, bits.begin() + at + header + len);
            at += header + (tag == 0x30 ? 0 : len);
            return content;
        };
        if (!element(0x30))
            return false;
        auto n = element(0x02), e = element(0x02);
        return n && e && stripZeros(*n) == stripZeros(key.rsa.n) && stripZeros(*e) == stripZeros(key.rsa.e);
    }
    // The BIT STRING holds an OCTET STRING with X||Y.
    const std::size_t size = key.publicLe.size();
    if (size < 128) {
        return bits.size() == size + 2 && bits[0] == 0x04 && bits[1] == size &&
               std::equal(key.publicLe.begin(), key.publicLe.end(), bits.begin() + 2);
    }
    return bits.size() == size + 3 && bits[0] == 0x04 && bits[1] == 0x81 && bits[2] == size &&
           std::equal(key.publicLe.begin(), key.publicLe.end(), bits.begin() + 3);
}

} // namespace labcsp
