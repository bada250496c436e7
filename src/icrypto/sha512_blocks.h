// The SHA-512 block loop, written once and compiled both for baseline
// x86-64 and, inlined into a function with a wider target, for CPUs with
// BMI2 (rotations without flags, three-operand logic).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "icrypto/sha_constants.h"

namespace icrypto::detail
{

[[gnu::always_inline]] inline std::uint64_t sha512Load(const unsigned char* p) noexcept
{
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = v << 8 | p[i];
    return v;
}

[[gnu::always_inline]] inline void sha512Blocks(std::uint64_t* state, const unsigned char* data,
                                                std::size_t blocks) noexcept
{
    for (; blocks > 0; --blocks, data += 128) {
        std::uint64_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = sha512Load(data + 8 * i);
        std::uint64_t s[8];
        for (int i = 0; i < 8; ++i)
            s[i] = state[i];
#pragma GCC unroll 80
        for (int t = 0; t < 80; ++t) {
            std::uint64_t x;
            if (t < 16) {
                x = w[t];
            } else {
                const std::uint64_t w15 = w[(t - 15) & 15], w2 = w[(t - 2) & 15];
                const std::uint64_t s0 = std::rotr(w15, 1) ^ std::rotr(w15, 8) ^ (w15 >> 7);
                const std::uint64_t s1 = std::rotr(w2, 19) ^ std::rotr(w2, 61) ^ (w2 >> 6);
                x = w[t & 15] + s0 + w[(t - 7) & 15] + s1;
                w[t & 15] = x;
            }
            std::uint64_t& a = s[(80 - t) & 7];
            std::uint64_t& b = s[(81 - t) & 7];
            std::uint64_t& c = s[(82 - t) & 7];
            std::uint64_t& d = s[(83 - t) & 7];
            std::uint64_t& e = s[(84 - t) & 7];
            std::uint64_t& f = s[(85 - t) & 7];
            std::uint64_t& g = s[(86 - t) & 7];
            std::uint64_t& h = s[(87 - t) & 7];
            const std::uint64_t t1 = h + (std::rotr(e, 14) ^ std::rotr(e, 18) ^ std::rotr(e, 41)) +
                                     (g ^ (e & (f ^ g))) + SHA512_K[t] + x;
            const std::uint64_t t2 =
                (std::rotr(a, 28) ^ std::rotr(a, 34) ^ std::rotr(a, 39)) + ((a & b) | (c & (a | b)));
            d += t1;
            h = t1 + t2;
        }
        for (int i = 0; i < 8; ++i)
            state[i] += s[i];
    }
}

} // namespace icrypto::detail
