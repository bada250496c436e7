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

void sha256CompressPortable(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = be32(data + 4 * i);
        std::uint32_t s[8];
        for (int i = 0; i < 8; ++i)
            s[i] = state[i];
#pragma GCC unroll 64
        for (int t = 0; t < 64; ++t) {
            std::uint32_t x;
            if (t < 16) {
                x = w[t];
            } else {
                const std::uint32_t w15 = w[(t - 15) & 15], w2 = w[(t - 2) & 15];
                const std::uint32_t s0 = std::rotr(w15, 7) ^ std::rotr(w15, 18) ^ (w15 >> 3);
                const std::uint32_t s1 = std::rotr(w2, 17) ^ std::rotr(w2, 19) ^ (w2 >> 10);
                x = w[t & 15] + s0 + w[(t - 7) & 15] + s1;
                w[t & 15] = x;
            }
            // The eight working variables rotate through s[] by index, so
            // no register moves are needed once the loop is unrolled.
            std::uint32_t& a = s[(64 - t) & 7];
            std::uint32_t& b = s[(65 - t) & 7];
            std::uint32_t& c = s[(66 - t) & 7];
            std::uint32_t& d = s[(67 - t) & 7];
            std::uint32_t& e = s[(68 - t) & 7];
            std::uint32_t& f = s[(69 - t) & 7];
            std::uint32_t& g = s[(70 - t) & 7];
            std::uint32_t& h = s[(71 - t) & 7];
            const std::uint32_t t1 = h + (std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25)) +
                                     (g ^ (e & (f ^ g))) + SHA256_K[t] + x;
            const std::uint32_t t2 =
                (std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22)) + ((a & b) | (c & (a | b)));
            d += t1;
            h = t1 + t2;
        }
        for (int i = 0; i < 8; ++i)
            state[i] += s[i];
    }
}

void sha512CompressPortable(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    sha512Blocks(state, data, blocks);
}

} // namespace icrypto::detail
