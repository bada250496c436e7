#include "support/gost_soft.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

#ifndef GOSTSOFT_OPENSSL_CNF
#error "GOSTSOFT_OPENSSL_CNF must name the gost engine configuration"
#endif

namespace gostsoft
{
namespace
{

void initGcrypt()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!gcry_check_version(GCRYPT_VERSION))
            throw std::runtime_error("libgcrypt version mismatch");
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

struct SexpDeleter {
    void operator()(gcry_sexp_t s) const noexcept { gcry_sexp_release(s); }
};
using Sexp = std::unique_ptr<gcry_sexp, SexpDeleter>;

struct MpiDeleter {
    void operator()(gcry_mpi_t m) const noexcept { gcry_mpi_release(m); }
};
using Mpi = std::unique_ptr<gcry_mpi, MpiDeleter>;

void check(gcry_error_t err, const char* what)
{
    if (err)
        throw std::runtime_error(std::string(what) + ": " + gcry_strerror(err));
}

struct CurveInfo {
    const char* gcryName;
    const char* paramSet;
    std::size_t size;
};

CurveInfo info(Curve curve)
{
    switch (curve) {
    case Curve::CryptoProA256:
        return {"GOST2001-CryptoPro-A", "1.2.643.2.2.35.1", 32};
    case Curve::Tc26A256:
        return {"GOST2012-256-A", "1.2.643.7.1.2.1.1.1", 32};
    case Curve::Tc26A512:
        return {"GOST2012-512-tc26-A", "1.2.643.7.1.2.1.2.1", 64};
    case Curve::Tc26B512:
        return {"GOST2012-512-tc26-B", "1.2.643.7.1.2.1.2.2", 64};
    }
    throw std::logic_error("unknown curve");
}

Bytes reversed(Bytes b)
{
    std::reverse(b.begin(), b.end());
    return b;
}

// Unsigned big-endian octets of an MPI, left-padded to `width`.
Bytes mpiBytes(gcry_mpi_t mpi, std::size_t width)
{
    unsigned char* buf = nullptr;
    size_t len = 0;
    check(gcry_mpi_aprint(GCRYMPI_FMT_USG, &buf, &len, mpi), "gcry_mpi_aprint");
    Bytes out(buf, buf + len);
    gcry_free(buf);
    if (out.size() > width)
        throw std::runtime_error("MPI wider than expected");
    out.insert(out.begin(), width - out.size(), 0);
    return out;
}

Bytes tokenMpi(gcry_sexp_t sexp, const char* name, std::size_t width)
{
    Sexp token(gcry_sexp_find_token(sexp, name, 0));
    if (!token)
        throw std::runtime_error(std::string("no token ") + name);
    Mpi mpi(gcry_sexp_nth_mpi(token.get(), 1, GCRYMPI_FMT_USG));
    if (!mpi)
        throw std::runtime_error(std::string("no MPI in ") + name);
    return mpiBytes(mpi.get(), width);
}

Bytes tokenData(gcry_sexp_t sexp, const char* name)
{
    Sexp token(gcry_sexp_find_token(sexp, name, 0));
    if (!token)
        throw std::runtime_error(std::string("no token ") + name);
    size_t len = 0;
    const char* data = gcry_sexp_nth_data(token.get(), 1, &len);
    if (!data)
        throw std::runtime_error(std::string("no data in ") + name);
    return Bytes(data, data + len);
}

Bytes hash(int algo, const Bytes& data)
{
    initGcrypt();
    Bytes out(gcry_md_get_algo_dlen(algo));
    gcry_md_hash_buffer(algo, out.data(), data.data(), data.size());
    return out;
}

} // namespace

Key::Key(Curve curve, Bytes d, Bytes q) : m_curve(curve), m_d(std::move(d)), m_q(std::move(q)) {}

Key::~Key()
{
    std::fill(m_d.begin(), m_d.end(), 0);
}

Key::Key(Key&&) noexcept = default;
Key& Key::operator=(Key&&) noexcept = default;

Key Key::generate(Curve curve)
{
    initGcrypt();
    const CurveInfo ci = info(curve);
    gcry_sexp_t raw = nullptr;
    check(gcry_sexp_build(&raw, nullptr, "(genkey (ecc (curve %s)))", ci.gcryName), "genkey parameters");
    Sexp keyParams(raw);
    gcry_sexp_t pair = nullptr;
    check(gcry_pk_genkey(&pair, keyParams.get()), "gcry_pk_genkey");
    Sexp keyPair(pair);
    Sexp priv(gcry_sexp_find_token(keyPair.get(), "private-key", 0));
    if (!priv)
        throw std::runtime_error("no private key");
    Bytes d = tokenMpi(priv.get(), "d", ci.size);
    Bytes q = tokenData(priv.get(), "q");
    if (q.size() != 1 + 2 * ci.size || q[0] != 0x04)
        throw std::runtime_error("unexpected public point form");
    return Key(curve, std::move(d), std::move(q));
}

std::size_t Key::size() const noexcept
{
    return info(m_curve).size;
}

std::string Key::paramSetOid() const
{
    return info(m_curve).paramSet;
}

std::string Key::publicKeyAlgorithmOid() const
{
    return is512() ? "1.2.643.7.1.1.1.2" : "1.2.643.7.1.1.1.1";
}

std::string Key::signatureAlgorithmOid() const
{
    return is512() ? "1.2.643.7.1.1.3.3" : "1.2.643.7.1.1.3.2";
}

std::string Key::digestOid() const
{
    return is512() ? "1.2.643.7.1.1.2.3" : "1.2.643.7.1.1.2.2";
}

Bytes Key::digest(const Bytes& data) const
{
    return streebog(data, is512() ? 512 : 256);
}

Bytes Key::signDigest(const Bytes& digest) const
{
    initGcrypt();
    const std::size_t n = size();
    const Bytes value = reversed(digest);
    gcry_sexp_t raw = nullptr;
    check(gcry_sexp_build(&raw, nullptr, "(private-key (ecc (curve %s)(q %b)(d %b)))", info(m_curve).gcryName,
                          static_cast<int>(m_q.size()), m_q.data(), static_cast<int>(m_d.size()), m_d.data()),
          "private key");
    Sexp key(raw);
    check(gcry_sexp_build(&raw, nullptr, "(data (flags gost) (value %b))", static_cast<int>(value.size()),
                          value.data()),
          "data");
    Sexp data(raw);
    check(gcry_pk_sign(&raw, data.get(), key.get()), "gcry_pk_sign");
    Sexp sig(raw);
    Bytes out = tokenMpi(sig.get(), "s", n);
    const Bytes r = tokenMpi(sig.get(), "r", n);
    out.insert(out.end(), r.begin(), r.end());
    return out;
}

bool Key::verifyDigest(const Bytes& digest, const Bytes& signature) const
{
    initGcrypt();
    const std::size_t n = size();
    if (signature.size() != 2 * n)
        return false;
    const Bytes value = reversed(digest);
    gcry_sexp_t raw = nullptr;
    check(gcry_sexp_build(&raw, nullptr, "(public-key (ecc (curve %s)(q %b)))", info(m_curve).gcryName,
                          static_cast<int>(m_q.size()), m_q.data()),
          "public key");
    Sexp key(raw);
    check(gcry_sexp_build(&raw, nullptr, "(data (flags gost) (value %b))", static_cast<int>(value.size()),
                          value.data()),
          "data");
    Sexp data(raw);
    check(gcry_sexp_build(&raw, nullptr, "(sig-val (gost (r %b)(s %b)))", static_cast<int>(n),
                          signature.data() + n, static_cast<int>(n), signature.data()),
          "sig-val");
    Sexp sig(raw);
    return gcry_pk_verify(sig.get(), data.get(), key.get()) == 0;
}

Bytes Key::publicKey() const
{
    const std::size_t n = size();
    Bytes x(m_q.begin() + 1, m_q.begin() + 1 + static_cast<std::ptrdiff_t>(n));
    Bytes y(m_q.begin() + 1 + static_cast<std::ptrdiff_t>(n), m_q.end());
    Bytes out = reversed(std::move(x));
    const Bytes yl = reversed(std::move(y));
    out.insert(out.end(), yl.begin(), yl.end());
    return out;
}

Bytes Key::subjectPublicKeyInfo(bool withDigestParam) const
{
    Bytes params = derOid(paramSetOid());
    if (withDigestParam)
        params = derConcat({params, derOid(digestOid())});
    const Bytes alg =
        derElement(0x30, derConcat({derOid(publicKeyAlgorithmOid()), derElement(0x30, params)}));
    Bytes bits{0x00};
    const Bytes key = derElement(0x04, publicKey());
    bits.insert(bits.end(), key.begin(), key.end());
    return derElement(0x30, derConcat({alg, derElement(0x03, bits)}));
}

std::string Key::privateKeyPem() const
{
    Bytes params = derOid(paramSetOid());
    if (m_curve != Curve::Tc26A256)
        params = derConcat({params, derOid(digestOid())});
    const Bytes alg =
        derElement(0x30, derConcat({derOid(publicKeyAlgorithmOid()), derElement(0x30, params)}));
    Bytes dl = reversed(m_d);
    const Bytes der = derElement(0x30, derConcat({derElement(0x02, {0x00}), alg, derElement(0x04, dl)}));
    std::fill(dl.begin(), dl.end(), 0);
    return toPem(der, "PRIVATE KEY");
}

Bytes streebog(const Bytes& data, unsigned bits)
{
    return hash(bits == 512 ? GCRY_MD_STRIBOG512 : GCRY_MD_STRIBOG256, data);
}

Bytes sha1(const Bytes& data)
{
    return hash(GCRY_MD_SHA1, data);
}

Bytes sha256(const Bytes& data)
{
    return hash(GCRY_MD_SHA256, data);
}

Bytes derElement(std::uint8_t tag, const Bytes& content)
{
    Bytes out{tag};
    const std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else {
        Bytes len;
        for (std::size_t v = n; v; v >>= 8)
            len.insert(len.begin(), static_cast<std::uint8_t>(v & 0xFF));
        out.push_back(static_cast<std::uint8_t>(0x80 | len.size()));
        out.insert(out.end(), len.begin(), len.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes derOid(std::string_view dotted)
{
    std::vector<std::uint32_t> arcs;
    std::string text(dotted);
    std::stringstream ss(text);
    std::string arc;
    while (std::getline(ss, arc, '.'))
        arcs.push_back(static_cast<std::uint32_t>(std::stoul(arc)));
    if (arcs.size() < 2)
        throw std::invalid_argument("OID needs two arcs");
    std::vector<std::uint32_t> subs{arcs[0] * 40 + arcs[1]};
    subs.insert(subs.end(), arcs.begin() + 2, arcs.end());
    Bytes content;
    for (std::uint32_t v : subs) {
        Bytes group{static_cast<std::uint8_t>(v & 0x7F)};
        for (v >>= 7; v; v >>= 7)
            group.insert(group.begin(), static_cast<std::uint8_t>(0x80 | (v & 0x7F)));
        content.insert(content.end(), group.begin(), group.end());
    }
    return derElement(0x06, content);
}

Bytes derConcat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::string toPem(const Bytes& der, std::string_view label)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string b64;
    for (std::size_t i = 0; i < der.size(); i += 3) {
        const std::uint32_t v = (std::uint32_t(der[i]) << 16) | (i + 1 < der.size() ? der[i + 1] << 8 : 0) |
                                (i + 2 < der.size() ? der[i + 2] : 0);
        b64 += alphabet[(v >> 18) & 63];
        b64 += alphabet[(v >> 12) & 63];
        b64 += i + 1 < der.size() ? alphabet[(v >> 6) & 63] : '=';
        b64 += i + 2 < der.size() ? alphabet[v & 63] : '=';
    }
    std::string out = "-----BEGIN " + std::string(label) + "-----\n";
    for (std::size_t i = 0; i < b64.size(); i += 64)
        out += b64.substr(i, 64) + "\n";
    out += "-----END " + std::string(label) + "-----\n";
    return out;
}

std::string toHex(const Bytes& data)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

TempDir::TempDir()
{
    std::random_device rd;
    for (int attempt = 0; attempt < 16; ++attempt) {
        auto candidate = std::filesystem::temp_directory_path() / ("ormid-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void writeFile(const std::string& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void writeFile(const std::string& path, std::string_view text)
{
    writeFile(path, Bytes(text.begin(), text.end()));
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

CommandResult run(const std::string& commandLine)
{
    CommandResult result;
    FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (!pipe)
        throw std::runtime_error("popen failed");
    std::array<char, 4096> buf{};
    size_t n = 0;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        result.output.append(buf.data(), n);
    const int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

CommandResult openssl(const std::string& args)
{
    return run(std::string("OPENSSL_CONF='") + GOSTSOFT_OPENSSL_CNF + "' openssl " + args);
}

CommandResult opensslVerify(const TempDir& dir, const std::string& name, const Bytes& spki, const Bytes& digest,
                            const Bytes& signature, const std::string& options)
{
    const std::string key = dir.file(name + ".pem");
    const std::string digestFile = dir.file(name + ".digest");
    const std::string signatureFile = dir.file(name + ".sig");
    writeFile(key, toPem(spki, "PUBLIC KEY"));
    writeFile(digestFile, digest);
    writeFile(signatureFile, signature);
    return openssl("pkeyutl -verify -pubin -inkey " + key + (options.empty() ? "" : " " + options) + " -in " +
                   digestFile + " -sigfile " + signatureFile);
}

bool opensslVerifies(const TempDir& dir, const std::string& name, const Bytes& spki, const Bytes& digest,
                     const Bytes& signature)
{
    const CommandResult r = opensslVerify(dir, name, spki, digest, signature);
    return r.status == 0 && r.output.find("Signature Verified Successfully") != std::string::npos;
}

} // namespace gostsoft
