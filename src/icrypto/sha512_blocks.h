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

[[gnu::always_inline]] inline std::uint64_t sha512Sigma0(std::uint64_t x) noexcept
{
    return std::rotr(x, 1) ^ std::rotr(x, 8) ^ (x >> 7);
}

[[gnu::always_inline]] inline std::uint64_t sha512Sigma1(std::uint64_t x) noexcept
{
    return std::rotr(x, 19) ^ std::rotr(x, 61) ^ (x >> 6);
}

// One round; the caller renames the working variables instead of moving
// them. bc holds b ^ c on entry and is left as a ^ b, which is b ^ c of the
// next round (majority with one XOR fewer).
#define ORMID_SHA512_ROUND(a, b, c, d, e, f, g, h, wk)                                                       \
    do {                                                                                                     \
        const std::uint64_t t1 =                                                                             \
            h + (wk) + (g ^ (e & (f ^ g))) + (std::rotr(e, 14) ^ std::rotr(e, 18) ^ std::rotr(e, 41));       \
        const std::uint64_t ab = a ^ b;                                                                      \
        d += t1;                                                                                             \
        h = t1 + (std::rotr(a, 28) ^ std::rotr(a, 34) ^ std::rotr(a, 39)) + (b ^ (ab & bc));                 \
        bc = ab;                                                                                             \
    } while (0)

// Where round t finds its input in a buffer of Blocks blocks side by side:
// two words of one block, then two of the next, and so on.
template <int Blocks> constexpr int sha512WkIndex(int t) noexcept
{
    return Blocks == 1 ? t : (t / 2) * 2 * Blocks + t % 2;
}

// The 80 rounds over a block whose schedule plus round constants is wk
// (laid out as sha512WkIndex<Blocks> says), and the final addition into the
// state. after(g) runs after each group of four rounds (g = 0..19), for work
// to interleave with them.
template <int Blocks = 1, class After>
[[gnu::always_inline]] inline void sha512Rounds(std::uint64_t* state, const std::uint64_t* wk,
                                                After after) noexcept
{
    constexpr auto at = sha512WkIndex<Blocks>;
    std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
    std::uint64_t bc = b ^ c;
    // Straight-line code: the round inputs are addressed by constants and
    // no registers are moved around a loop edge.
#pragma GCC unroll 10
    for (int i = 0; i < 80; i += 8) {
        ORMID_SHA512_ROUND(a, b, c, d, e, f, g, h, wk[at(i)]);
        ORMID_SHA512_ROUND(h, a, b, c, d, e, f, g, wk[at(i + 1)]);
        ORMID_SHA512_ROUND(g, h, a, b, c, d, e, f, wk[at(i + 2)]);
        ORMID_SHA512_ROUND(f, g, h, a, b, c, d, e, wk[at(i + 3)]);
        after(i / 4);
        ORMID_SHA512_ROUND(e, f, g, h, a, b, c, d, wk[at(i + 4)]);
        ORMID_SHA512_ROUND(d, e, f, g, h, a, b, c, wk[at(i + 5)]);
        ORMID_SHA512_ROUND(c, d, e, f, g, h, a, b, wk[at(i + 6)]);
        ORMID_SHA512_ROUND(b, c, d, e, f, g, h, a, wk[at(i + 7)]);
        after(i / 4 + 1);
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

#undef ORMID_SHA512_ROUND

[[gnu::always_inline]] inline void sha512Blocks(std::uint64_t* state, const unsigned char* data,
                                                std::size_t blocks) noexcept
{
    for (; blocks > 0; --blocks, data += 128) {
        // The whole schedule first (W + K), then the rounds.
        std::uint64_t w[80];
        for (int i = 0; i < 16; ++i)
            w[i] = sha512Load(data + 8 * i);
        for (int i = 16; i < 80; ++i)
            w[i] = sha512Sigma1(w[i - 2]) + w[i - 7] + sha512Sigma0(w[i - 15]) + w[i - 16];
        for (int i = 0; i < 80; ++i)
            w[i] += SHA512_K[i];
        sha512Rounds(state, w, [](int) {});
    }
}

} // namespace icrypto::detail
