#include "icrypto/sha.h"

#include <cstring>

#include "base/secure.h"
#include "icrypto/sha_compress.h"

namespace icrypto
{

namespace
{

void putBe32(unsigned char* p, std::uint32_t v) noexcept
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

void putBe64(unsigned char* p, std::uint64_t v) noexcept
{
    putBe32(p, static_cast<std::uint32_t>(v >> 32));
    putBe32(p + 4, static_cast<std::uint32_t>(v));
}

// Block buffering shared by the engines: fills buffer, compresses every full
// block (straight from the input where possible) and keeps the rest.
template <std::size_t Block, class State, class Compress>
void absorb(State* state, unsigned char* buffer, std::size_t& fill, const unsigned char* data,
            std::size_t length, Compress compress) noexcept
{
    if (fill > 0) {
        const std::size_t n = length < Block - fill ? length : Block - fill;
        std::memcpy(buffer + fill, data, n);
        fill += n;
        data += n;
        length -= n;
        if (fill < Block)
            return;
        compress(state, buffer, 1);
        fill = 0;
    }
    if (length >= Block) {
        compress(state, data, length / Block);
        data += length - length % Block;
        length %= Block;
    }
    if (length > 0)
        std::memcpy(buffer, data, length);
    fill = length;
}

// Appends 0x80, zeros and the length field (the last `lengthBytes` bytes of
// the block, already written by the caller into `lengthField`), compressing
// one or two blocks.
template <std::size_t Block, class State, class Compress>
void pad(State* state, unsigned char* buffer, std::size_t fill, const unsigned char* lengthField,
         std::size_t lengthBytes, Compress compress) noexcept
{
    buffer[fill++] = 0x80;
    if (fill > Block - lengthBytes) {
        std::memset(buffer + fill, 0, Block - fill);
        compress(state, buffer, 1);
        fill = 0;
    }
    std::memset(buffer + fill, 0, Block - lengthBytes - fill);
    std::memcpy(buffer + Block - lengthBytes, lengthField, lengthBytes);
    compress(state, buffer, 1);
}

} // namespace

std::vector<unsigned char> ShaEngine::digest(const std::vector<unsigned char>& data)
{
    init();
    update(data);
    return doFinal();
}

// SHA-1

Sha1::~Sha1()
{
    bs::secureZero(m_state, sizeof(m_state));
    bs::secureZero(m_buffer, sizeof(m_buffer));
}

void Sha1::init()
{
    static constexpr std::uint32_t IV[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
    std::memcpy(m_state, IV, sizeof(m_state));
    m_bits = 0;
    m_fill = 0;
}

void Sha1::update(const std::vector<unsigned char>& data)
{
    update(data.data(), data.size());
}

void Sha1::update(const unsigned char* data, std::size_t length)
{
    if (length == 0)
        return;
    m_bits += static_cast<std::uint64_t>(length) << 3;
    absorb<64>(m_state, m_buffer, m_fill, data, length, detail::sha1Compress);
}

std::vector<unsigned char> Sha1::doFinal()
{
    unsigned char length[8];
    putBe64(length, m_bits);
    pad<64>(m_state, m_buffer, m_fill, length, sizeof(length), detail::sha1Compress);
    std::vector<unsigned char> out(20);
    for (int i = 0; i < 5; ++i)
        putBe32(out.data() + 4 * i, m_state[i]);
    init();
    return out;
}

// SHA-256 and SHA-224

Sha256::~Sha256()
{
    bs::secureZero(m_state, sizeof(m_state));
    bs::secureZero(m_buffer, sizeof(m_buffer));
}

void Sha256::init()
{
    static constexpr std::uint32_t IV[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(m_state, IV, sizeof(m_state));
    m_bits = 0;
    m_fill = 0;
}

void Sha256::update(const std::vector<unsigned char>& data)
{
    update(data.data(), data.size());
}

void Sha256::update(const unsigned char* data, std::size_t length)
{
    if (length == 0)
        return;
    m_bits += static_cast<std::uint64_t>(length) << 3;
    absorb<64>(m_state, m_buffer, m_fill, data, length, detail::sha256Compress);
}

void Sha256::finish(unsigned char* out)
{
    unsigned char length[8];
    putBe64(length, m_bits);
    pad<64>(m_state, m_buffer, m_fill, length, sizeof(length), detail::sha256Compress);
    for (int i = 0; i < 8; ++i)
        putBe32(out + 4 * i, m_state[i]);
}

std::vector<unsigned char> Sha256::doFinal()
{
    std::vector<unsigned char> out(32);
    finish(out.data());
    init();
    return out;
}

void Sha224::init()
{
    static constexpr std::uint32_t IV[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                            0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};
    std::memcpy(m_state, IV, sizeof(m_state));
    m_bits = 0;
    m_fill = 0;
}

std::vector<unsigned char> Sha224::doFinal()
{
    std::vector<unsigned char> out(32);
    finish(out.data());
    out.resize(28);
    init();
    return out;
}

// SHA-512 and SHA-384

Sha512::~Sha512()
{
    bs::secureZero(m_state, sizeof(m_state));
    bs::secureZero(m_buffer, sizeof(m_buffer));
}

void Sha512::init()
{
    static constexpr std::uint64_t IV[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                            0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                            0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
    std::memcpy(m_state, IV, sizeof(m_state));
    m_bits[0] = m_bits[1] = 0;
    m_fill = 0;
}

void Sha512::update(const std::vector<unsigned char>& data)
{
    update(data.data(), data.size());
}

void Sha512::update(const unsigned char* data, std::size_t length)
{
    if (length == 0)
        return;
    const std::uint64_t low = static_cast<std::uint64_t>(length) << 3;
    m_bits[0] += low;
    m_bits[1] += (static_cast<std::uint64_t>(length) >> 61) + (m_bits[0] < low ? 1 : 0);
    absorb<128>(m_state, m_buffer, m_fill, data, length, detail::sha512Compress);
}

void Sha512::finish(unsigned char* out)
{
    unsigned char length[16];
    putBe64(length, m_bits[1]);
    putBe64(length + 8, m_bits[0]);
    pad<128>(m_state, m_buffer, m_fill, length, sizeof(length), detail::sha512Compress);
    for (int i = 0; i < 8; ++i)
        putBe64(out + 8 * i, m_state[i]);
}

std::vector<unsigned char> Sha512::doFinal()
{
    std::vector<unsigned char> out(64);
    finish(out.data());
    init();
    return out;
}

void Sha384::init()
{
    static constexpr std::uint64_t IV[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                            0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                            0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
    std::memcpy(m_state, IV, sizeof(m_state));
    m_bits[0] = m_bits[1] = 0;
    m_fill = 0;
}

std::vector<unsigned char> Sha384::doFinal()
{
    std::vector<unsigned char> out(64);
    finish(out.data());
    out.resize(48);
    init();
    return out;
}

// Selection and one-shot helpers

std::shared_ptr<ShaEngine> getShaEngine(std::string_view oid)
{
    if (oid == "1.3.14.3.2.26")
        return std::make_shared<Sha1>();
    if (oid == "2.16.840.1.101.3.4.2.1")
        return std::make_shared<Sha256>();
    if (oid == "2.16.840.1.101.3.4.2.2")
        return std::make_shared<Sha384>();
    if (oid == "2.16.840.1.101.3.4.2.3")
        return std::make_shared<Sha512>();
    if (oid == "2.16.840.1.101.3.4.2.4")
        return std::make_shared<Sha224>();
    throw UnsupportedShaAlgorithm();
}

std::vector<unsigned char> sha1(const std::vector<unsigned char>& data)
{
    return Sha1().digest(data);
}

std::vector<unsigned char> sha224(const std::vector<unsigned char>& data)
{
    return Sha224().digest(data);
}

std::vector<unsigned char> sha256(const std::vector<unsigned char>& data)
{
    return Sha256().digest(data);
}

std::vector<unsigned char> sha384(const std::vector<unsigned char>& data)
{
    return Sha384().digest(data);
}

std::vector<unsigned char> sha512(const std::vector<unsigned char>& data)
{
    return Sha512().digest(data);
}

} // namespace icrypto
