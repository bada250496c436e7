// Portable SHA compression functions (FIPS 180-4), correct on every machine.
#include <bit>
#include <cstdint>

#include "icrypto/sha512_blocks.h"
#include "icrypto/sha_compress.h"
#include "icrypto/sha_constants.h"

namespace icrypto::detail
{

namespace
{

inline std::uint32_t be32(const unsigned char* p) noexcept
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

} // namespace

void sha1CompressPortable(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = be32(data + 4 * i);
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
#pragma GCC unroll 80
        for (int t = 0; t < 80; ++t) {
            std::uint32_t x;
            if (t < 16) {
                x = w[t];
            } else {
                x = std::rotl(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15], 1);
                w[t & 15] = x;
            }
            std::uint32_t f, k;
            if (t < 20) {
                f = d ^ (b & (c ^ d));
                k = 0x5a827999;
            } else if (t < 40) {
                f = b ^ c ^ d;
                k = 0x6ed9eba1;
            } else if (t < 60) {
                f = (b & c) | (d & (b | c));
                k = 0x8f1bbcdc;
            } else {
                f = b ^ c ^ d;
                k = 0xca62c1d6;
            }
            const std::uint32_t temp = std::rotl(a, 5) + f + e + k + x;
            e = d;
            d = c;
            c = std::rotl(b, 30);
            b = a;
            a = temp;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

// One SHA-256 round with renamed working variables; bc as in SHA-512.
#define ORMID_SHA256_ROUND(a, b, c, d, e, f, g, h, wk)                                                       \
    do {                                                                                                     \
        const std::uint32_t t1 =                                                                             \
            h + (wk) + (g ^ (e & (f ^ g))) + (std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25));        \
        const std::uint32_t ab = a ^ b;                                                                      \
        d += t1;                                                                                             \
        h = t1 + (std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22)) + (b ^ (ab & bc));                  \
        bc = ab;                                                                                             \
    } while (0)

void sha256CompressPortable(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = be32(data + 4 * i);
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t w15 = w[i - 15], w2 = w[i - 2];
            w[i] = (std::rotr(w2, 17) ^ std::rotr(w2, 19) ^ (w2 >> 10)) + w[i - 7] +
                   (std::rotr(w15, 7) ^ std::rotr(w15, 18) ^ (w15 >> 3)) + w[i - 16];
        }
        for (int i = 0; i < 64; ++i)
            w[i] += SHA256_K[i];
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        std::uint32_t bc = b ^ c;
        for (int i = 0; i < 64; i += 8) {
            ORMID_SHA256_ROUND(a, b, c, d, e, f, g, h, w[i]);
            ORMID_SHA256_ROUND(h, a, b, c, d, e, f, g, w[i + 1]);
            ORMID_SHA256_ROUND(g, h, a, b, c, d, e, f, w[i + 2]);
            ORMID_SHA256_ROUND(f, g, h, a, b, c, d, e, w[i + 3]);
            ORMID_SHA256_ROUND(e, f, g, h, a, b, c, d, w[i + 4]);
            ORMID_SHA256_ROUND(d, e, f, g, h, a, b, c, w[i + 5]);
            ORMID_SHA256_ROUND(c, d, e, f, g, h, a, b, w[i + 6]);
            ORMID_SHA256_ROUND(b, c, d, e, f, g, h, a, w[i + 7]);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#undef ORMID_SHA256_ROUND

void sha512CompressPortable(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    sha512Blocks(state, data, blocks);
}

} // namespace icrypto::detail
