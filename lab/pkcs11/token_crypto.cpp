#include "token_crypto.h"

#include <gcrypt.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "cryptoprovider/pkcs11/pkcs11_types.h"

namespace labtoken
{
namespace
{

const std::vector<GostCurve>& curves()
{
    static const std::vector<GostCurve> list = {
        {"1.2.643.2.2.35.1", "GOST2001-CryptoPro-A", 32},
        {"1.2.643.2.2.35.2", "GOST2001-CryptoPro-B", 32},
        {"1.2.643.2.2.35.3", "GOST2001-CryptoPro-C", 32},
        {"1.2.643.2.2.36.0", "GOST2001-CryptoPro-A", 32},
        {"1.2.643.2.2.36.1", "GOST2001-CryptoPro-C", 32},
        {"1.2.643.7.1.2.1.1.1", "GOST2012-256-A", 32},
        {"1.2.643.7.1.2.1.2.1", "GOST2012-512-tc26-A", 64},
        {"1.2.643.7.1.2.1.2.2", "GOST2012-512-tc26-B", 64},
        {"1.2.643.7.1.2.1.2.3", "GOST2012-512-tc26-C", 64},
    };
    return list;
}

// Owners of libgcrypt handles.
struct Sexp {
    gcry_sexp_t h = nullptr;
    Sexp() = default;
    explicit Sexp(gcry_sexp_t s) : h(s) {}
    ~Sexp() { gcry_sexp_release(h); }
    Sexp(const Sexp&) = delete;
    Sexp& operator=(const Sexp&) = delete;
};
struct Mpi {
    gcry_mpi_t h = nullptr;
    ~Mpi() { gcry_mpi_release(h); }
};

void check(gcry_error_t err, const char* what)
{
    if (err)
        throw std::runtime_error(std::string(what) + ": " + gcry_strerror(err));
}

Bytes reversed(Bytes b)
{
    std::reverse(b.begin(), b.end());
    return b;
}

// Unsigned big-endian octets of an MPI, left-padded to `size` when given.
Bytes mpiBytes(gcry_mpi_t m, std::size_t size = 0)
{
    unsigned char* buf = nullptr;
    size_t len = 0;
    check(gcry_mpi_aprint(GCRYMPI_FMT_USG, &buf, &len, m), "gcry_mpi_aprint");
    Bytes out(buf, buf + len);
    gcry_free(buf);
    if (size && out.size() < size)
        out.insert(out.begin(), size - out.size(), 0);
    if (size && out.size() > size)
        throw std::runtime_error("number longer than its field");
    return out;
}

Bytes sexpMpi(gcry_sexp_t s, const char* name, std::size_t size = 0)
{
    Sexp token(gcry_sexp_find_token(s, name, 0));
    if (!token.h)
        throw std::runtime_error(std::string("no ") + name + " in the key");
    Mpi m;
    m.h = gcry_sexp_nth_mpi(token.h, 1, GCRYMPI_FMT_USG);
    if (!m.h)
        throw std::runtime_error(std::string("bad ") + name);
    return mpiBytes(m.h, size);
}

Bytes stripZeros(Bytes b)
{
    auto it = std::find_if(b.begin(), b.end(), [](std::uint8_t x) { return x != 0; });
    b.erase(b.begin(), it);
    return b;
}

} // namespace

void initCrypto()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
            gcry_check_version(nullptr);
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
    });
}

Bytes oidToDer(const std::string& dotted)
{
    std::vector<unsigned long> arcs;
    std::size_t pos = 0;
    while (pos <= dotted.size()) {
        auto dot = dotted.find('.', pos);
        arcs.push_back(std::stoul(dotted.substr(pos, dot - pos)));
        if (dot == std::string::npos)
            break;
        pos = dot + 1;
    }
    if (arcs.size() < 2)
        throw std::invalid_argument("OID with less than two arcs");
    Bytes content;
    auto put = [&](unsigned long v) {
        Bytes tmp{static_cast<std::uint8_t>(v & 0x7F)};
        for (v >>= 7; v; v >>= 7)
            tmp.insert(tmp.begin(), static_cast<std::uint8_t>(0x80 | (v & 0x7F)));
        content.insert(content.end(), tmp.begin(), tmp.end());
    };
    put(arcs[0] * 40 + arcs[1]);
    for (std::size_t i = 2; i < arcs.size(); ++i)
        put(arcs[i]);
    Bytes der{0x06, static_cast<std::uint8_t>(content.size())};
    der.insert(der.end(), content.begin(), content.end());
    return der;
}

std::string derToOid(const Bytes& der)
{
    if (der.size() < 3 || der[0] != 0x06 || der[1] >= 0x80 || der[1] + 2u != der.size())
        return {};
    std::string out;
    unsigned long v = 0;
    bool first = true;
    for (std::size_t i = 2; i < der.size(); ++i) {
        if (v > (~0UL >> 7))
            return {};
        v = v << 7 | (der[i] & 0x7F);
        if (der[i] & 0x80) {
            if (i + 1 == der.size())
                return {};
            continue;
        }
        if (first) {
            unsigned long a = v < 80 ? v / 40 : 2;
            out = std::to_string(a) + "." + std::to_string(v - a * 40);
            first = false;
        } else {
            out += "." + std::to_string(v);
        }
        v = 0;
    }
    return out;
}

std::optional<GostCurve> curveByParamsDer(const Bytes& der)
{
    std::string oid = derToOid(der);
    for (const auto& c : curves())
        if (c.oid == oid)
            return c;
    return std::nullopt;
}

namespace
{

// Runs a genkey request (taking it over) and returns the private-key part
// of the pair it made.
Sexp generatePrivateKey(gcry_sexp_t request)
{
    Sexp p(request);
    gcry_sexp_t key = nullptr;
    check(gcry_pk_genkey(&key, p.h), "gcry_pk_genkey");
    Sexp k(key);
    gcry_sexp_t priv = gcry_sexp_find_token(k.h, "private-key", 0);
    if (!priv)
        throw std::runtime_error("no private key generated");
    return Sexp(priv);
}

} // namespace

GostKeyPair gostGenerate(const GostCurve& curve)
{
    initCrypto();
    gcry_sexp_t params = nullptr;
    check(gcry_sexp_build(&params, nullptr, "(genkey (ecc (curve %s)))", curve.gcryptName.c_str()), "genkey");
    Sexp priv = generatePrivateKey(params);
    Bytes d = sexpMpi(priv.h, "d", curve.size);
    Bytes q = sexpMpi(priv.h, "q");
    if (q.size() != 1 + 2 * curve.size || q[0] != 0x04)
        throw std::runtime_error("unexpected public point form");
    GostKeyPair out;
    out.privateLe = reversed(d);
    Bytes x(q.begin() + 1, q.begin() + 1 + curve.size), y(q.begin() + 1 + curve.size, q.end());
    out.publicLe = reversed(x);
    Bytes yl = reversed(y);
    out.publicLe.insert(out.publicLe.end(), yl.begin(), yl.end());
    return out;
}

Bytes gostSign(const GostCurve& curve, const Bytes& privateLe, const Bytes& digest)
{
    initCrypto();
    Bytes d = reversed(privateLe), e = reversed(digest);
    gcry_sexp_t key = nullptr, data = nullptr, sig = nullptr;
    check(gcry_sexp_build(&key, nullptr, "(private-key (ecc (curve %s) (d %b)))", curve.gcryptName.c_str(),
                          static_cast<int>(d.size()), d.data()),
          "private key");
    Sexp k(key);
    check(gcry_sexp_build(&data, nullptr, "(data (flags gost) (value %b))", static_cast<int>(e.size()),
                          e.data()),
          "data");
    Sexp dt(data);
    check(gcry_pk_sign(&sig, dt.h, k.h), "gcry_pk_sign");
    Sexp s(sig);
    Bytes r = sexpMpi(s.h, "r", curve.size), sv = sexpMpi(s.h, "s", curve.size);
    sv.insert(sv.end(), r.begin(), r.end());
    return sv;
}

bool gostVerify(const GostCurve& curve, const Bytes& publicLe, const Bytes& digest, const Bytes& signature)
{
    initCrypto();
    if (publicLe.size() != 2 * curve.size || signature.size() != 2 * curve.size)
        return false;
    Bytes q{0x04};
    Bytes x(publicLe.begin(), publicLe.begin() + curve.size),
        y(publicLe.begin() + curve.size, publicLe.end());
    x = reversed(x);
    y = reversed(y);
    q.insert(q.end(), x.begin(), x.end());
    q.insert(q.end(), y.begin(), y.end());
    Bytes e = reversed(digest);
    Bytes s(signature.begin(), signature.begin() + curve.size),
        r(signature.begin() + curve.size, signature.end());
    gcry_sexp_t key = nullptr, data = nullptr, sig = nullptr;
    if (gcry_sexp_build(&key, nullptr, "(public-key (ecc (curve %s) (q %b)))", curve.gcryptName.c_str(),
                        static_cast<int>(q.size()), q.data()))
        return false;
    Sexp k(key);
    check(gcry_sexp_build(&data, nullptr, "(data (flags gost) (value %b))", static_cast<int>(e.size()),
                          e.data()),
          "data");
    Sexp dt(data);
    check(gcry_sexp_build(&sig, nullptr, "(sig-val (gost (r %b) (s %b)))", static_cast<int>(r.size()),
                          r.data(), static_cast<int>(s.size()), s.data()),
          "signature");
    Sexp sg(sig);
    return gcry_pk_verify(sg.h, dt.h, k.h) == 0;
}

RsaKeyPair rsaGenerate(unsigned bits)
{
    initCrypto();
    gcry_sexp_t params = nullptr;
    const std::string request = "(genkey (rsa (nbits " + std::to_string(std::to_string(bits).size()) + ":" +
                                std::to_string(bits) + ")))";
    check(gcry_sexp_new(&params, request.data(), request.size(), 1), "genkey");
    Sexp priv = generatePrivateKey(params);
    RsaKeyPair out;
    out.n = sexpMpi(priv.h, "n");
    out.e = sexpMpi(priv.h, "e");
    out.d = sexpMpi(priv.h, "d");
    out.p = sexpMpi(priv.h, "p");
    out.q = sexpMpi(priv.h, "q");
    out.u = sexpMpi(priv.h, "u");
    return out;
}

namespace
{
std::optional<Bytes> pkcs1Block(std::size_t k, const Bytes& data)
{
    if (data.size() + 11 > k)
        return std::nullopt;
    Bytes em{0x00, 0x01};
    em.insert(em.end(), k - data.size() - 3, 0xFF);
    em.push_back(0x00);
    em.insert(em.end(), data.begin(), data.end());
    return em;
}
} // namespace

std::optional<Bytes> rsaSign(const RsaKeyPair& key, const Bytes& data)
{
    initCrypto();
    Bytes n = stripZeros(key.n);
    auto em = pkcs1Block(n.size(), data);
    if (!em)
        return std::nullopt;
    gcry_sexp_t sk = nullptr, dt = nullptr, sig = nullptr;
    check(gcry_sexp_build(&sk, nullptr, "(private-key (rsa (n %b) (e %b) (d %b) (p %b) (q %b) (u %b)))",
                          static_cast<int>(key.n.size()), key.n.data(), static_cast<int>(key.e.size()),
                          key.e.data(), static_cast<int>(key.d.size()), key.d.data(),
                          static_cast<int>(key.p.size()), key.p.data(), static_cast<int>(key.q.size()),
                          key.q.data(), static_cast<int>(key.u.size()), key.u.data()),
          "private key");
    Sexp k(sk);
    check(gcry_sexp_build(&dt, nullptr, "(data (flags raw) (value %b))", static_cast<int>(em->size()),
                          em->data()),
          "data");
    Sexp d(dt);
    check(gcry_pk_sign(&sig, d.h, k.h), "gcry_pk_sign");
    Sexp s(sig);
    return sexpMpi(s.h, "s", n.size());
}

bool rsaVerify(const Bytes& nIn, const Bytes& e, const Bytes& data, const Bytes& signature)
{
    initCrypto();
    Bytes n = stripZeros(nIn);
    if (n.empty() || e.empty() || signature.size() != n.size())
        return false;
    auto em = pkcs1Block(n.size(), data);
    if (!em)
        return false;
    gcry_sexp_t pk = nullptr, dt = nullptr, sig = nullptr;
    if (gcry_sexp_build(&pk, nullptr, "(public-key (rsa (n %b) (e %b)))", static_cast<int>(n.size()),
                        n.data(), static_cast<int>(e.size()), e.data()))
        return false;
    Sexp k(pk);
    Bytes emStripped = stripZeros(*em);
    check(gcry_sexp_build(&dt, nullptr, "(data (flags raw) (value %b))", static_cast<int>(emStripped.size()),
                          emStripped.data()),
          "data");
    Sexp d(dt);
    check(gcry_sexp_build(&sig, nullptr, "(sig-val (rsa (s %b)))", static_cast<int>(signature.size()),
                          signature.data()),
          "signature");
    Sexp s(sig);
    return gcry_pk_verify(s.h, d.h, k.h) == 0;
}

int digestAlgorithm(unsigned long mechanism, const Bytes& parameter)
{
    switch (mechanism) {
    case CKM_GOSTR3411: {
        if (parameter.empty())
            return GCRY_MD_GOSTR3411_CP;
        std::string oid = derToOid(parameter);
        if (oid == "1.2.643.2.2.30.1")
            return GCRY_MD_GOSTR3411_CP;
        if (oid == "1.2.643.2.2.30.0")
            return GCRY_MD_GOSTR3411_94;
        return -1;
    }
    case CKM_GOSTR3411_12_256:
        return GCRY_MD_STRIBOG256;
    case CKM_GOSTR3411_12_512:
        return GCRY_MD_STRIBOG512;
    case CKM_SHA_1:
        return GCRY_MD_SHA1;
    case CKM_SHA224:
        return GCRY_MD_SHA224;
    case CKM_SHA256:
        return GCRY_MD_SHA256;
    case CKM_SHA384:
        return GCRY_MD_SHA384;
    case CKM_SHA512:
        return GCRY_MD_SHA512;
    default:
        return 0;
    }
}

Bytes digest(int algorithm, const Bytes& data)
{
    initCrypto();
    Bytes out(gcry_md_get_algo_dlen(algorithm));
    gcry_md_hash_buffer(algorithm, out.data(), data.data(), data.size());
    return out;
}

RunningDigest::RunningDigest(int algorithm) : algorithm_(algorithm)
{
    initCrypto();
    gcry_md_hd_t h = nullptr;
    check(gcry_md_open(&h, algorithm, 0), "digest");
    handle_.reset(h);
}

void RunningDigest::Close::operator()(void* handle) const
{
    gcry_md_close(static_cast<gcry_md_hd_t>(handle));
}

void RunningDigest::write(const std::uint8_t* part, std::size_t length)
{
    if (length)
        gcry_md_write(static_cast<gcry_md_hd_t>(handle_.get()), part, length);
}

Bytes RunningDigest::finish()
{
    auto h = static_cast<gcry_md_hd_t>(handle_.get());
    const unsigned char* value = gcry_md_read(h, algorithm_);
    if (!value)
        throw std::runtime_error("gcry_md_read failed");
    Bytes out(value, value + gcry_md_get_algo_dlen(algorithm_));
    handle_.reset();
    return out;
}

std::size_t RunningDigest::length() const
{
    return gcry_md_get_algo_dlen(algorithm_);
}

} // namespace labtoken
