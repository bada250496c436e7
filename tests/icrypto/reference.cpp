#include "reference.h"

#include <gcrypt.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <memory>
#include <random>
#include <stdexcept>

namespace ref
{

namespace
{

void initGcrypt()
{
    static const bool done = [] {
        if (!gcry_check_version(nullptr))
            throw std::runtime_error("libgcrypt initialisation failed");
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)done;
}

void check(gcry_error_t err, const char* what)
{
    if (err)
        throw std::runtime_error(std::string(what) + ": " + gcry_strerror(err));
}

struct CipherCloser {
    void operator()(gcry_cipher_hd_t h) const { gcry_cipher_close(h); }
};
using Cipher = std::unique_ptr<std::remove_pointer_t<gcry_cipher_hd_t>, CipherCloser>;

Cipher openGost(int mode, const std::string& sboxOid, const Bytes& key)
{
    initGcrypt();
    gcry_cipher_hd_t h = nullptr;
    check(gcry_cipher_open(&h, GCRY_CIPHER_GOST28147, mode, 0), "gcry_cipher_open");
    Cipher cipher(h);
    check(gcry_cipher_setkey(h, key.data(), key.size()), "gcry_cipher_setkey");
    check(gcry_cipher_ctl(h, GCRYCTL_SET_SBOX, const_cast<char*>(sboxOid.c_str()), 0), "set sbox");
    return cipher;
}

// The default and gost providers, loaded on first use and unloaded at exit.
class Providers
{
  public:
    Providers()
        : m_default(OSSL_PROVIDER_load(nullptr, "default")), m_gost(OSSL_PROVIDER_load(nullptr, "gostprov"))
    {
        if (!m_default || !m_gost)
            throw std::runtime_error("cannot load the OpenSSL providers");
    }
    ~Providers()
    {
        if (m_gost)
            OSSL_PROVIDER_unload(m_gost);
        if (m_default)
            OSSL_PROVIDER_unload(m_default);
    }
    Providers(const Providers&) = delete;
    Providers& operator=(const Providers&) = delete;

  private:
    OSSL_PROVIDER* m_default;
    OSSL_PROVIDER* m_gost;
};

void loadProviders()
{
    static const Providers providers;
}

} // namespace

Bytes gcryptHash(int algo, const Bytes& data)
{
    initGcrypt();
    Bytes out(gcry_md_get_algo_dlen(algo));
    gcry_md_hash_buffer(algo, out.data(), data.data(), data.size());
    return out;
}

Bytes gcryptGostEcb(const std::string& sboxOid, const Bytes& key, const Bytes& data)
{
    Cipher c = openGost(GCRY_CIPHER_MODE_ECB, sboxOid, key);
    Bytes out(data.size());
    check(gcry_cipher_encrypt(c.get(), out.data(), out.size(), data.data(), data.size()), "ecb");
    return out;
}

Bytes gcryptGostCtr(const std::string& sboxOid, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    Cipher c = openGost(GCRY_CIPHER_MODE_CTR, sboxOid, key);
    check(gcry_cipher_setctr(c.get(), iv.data(), iv.size()), "setctr");
    Bytes out(data.size());
    check(gcry_cipher_encrypt(c.get(), out.data(), out.size(), data.data(), data.size()), "ctr");
    return out;
}

Bytes gcryptGostMac(const std::string& sboxOid, const Bytes& key, const Bytes& data)
{
    initGcrypt();
    gcry_mac_hd_t h = nullptr;
    check(gcry_mac_open(&h, GCRY_MAC_GOST28147_IMIT, 0, nullptr), "gcry_mac_open");
    std::unique_ptr<std::remove_pointer_t<gcry_mac_hd_t>, void (*)(gcry_mac_hd_t)> mac(h, gcry_mac_close);
    check(gcry_mac_setkey(h, key.data(), key.size()), "gcry_mac_setkey");
    check(gcry_mac_ctl(h, GCRYCTL_SET_SBOX, const_cast<char*>(sboxOid.c_str()), 0), "set sbox");
    check(gcry_mac_write(h, data.data(), data.size()), "gcry_mac_write");
    Bytes out(4);
    std::size_t length = out.size();
    check(gcry_mac_read(h, out.data(), &length), "gcry_mac_read");
    out.resize(length);
    return out;
}

Bytes opensslDigest(const std::string& name, const Bytes& data)
{
    loadProviders();
    std::unique_ptr<EVP_MD, void (*)(EVP_MD*)> md(EVP_MD_fetch(nullptr, name.c_str(), nullptr), EVP_MD_free);
    if (!md)
        throw std::runtime_error("no OpenSSL digest " + name);
    Bytes out(EVP_MD_get_size(md.get()));
    unsigned int length = 0;
    if (!EVP_Digest(data.data(), data.size(), out.data(), &length, md.get(), nullptr))
        throw std::runtime_error("EVP_Digest failed");
    out.resize(length);
    return out;
}

Bytes opensslEncrypt(const std::string& name, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    loadProviders();
    std::unique_ptr<EVP_CIPHER, void (*)(EVP_CIPHER*)> cipher(
        EVP_CIPHER_fetch(nullptr, name.c_str(), nullptr), EVP_CIPHER_free);
    if (!cipher)
        throw std::runtime_error("no OpenSSL cipher " + name);
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(data.size() + 64);
    int n = 0, m = 0;
    if (!EVP_EncryptInit_ex2(ctx.get(), cipher.get(), key.data(), iv.data(), nullptr) ||
        !EVP_EncryptUpdate(ctx.get(), out.data(), &n, data.data(), static_cast<int>(data.size())) ||
        !EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &m))
        throw std::runtime_error("OpenSSL encryption failed");
    out.resize(static_cast<std::size_t>(n + m));
    return out;
}

Bytes fromHex(const std::string& hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(const Bytes& data)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes reversed(Bytes data)
{
    return Bytes(data.rbegin(), data.rend());
}

Bytes pattern(std::size_t size, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out)
        b = static_cast<unsigned char>(rng());
    return out;
}

} // namespace ref
