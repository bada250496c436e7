// The SHA-512 block loop of the vector code, two blocks at a time, shared
// by the AVX2 and the AVX-512 compression functions. The message schedule
// of both blocks runs side by side in 256-bit vectors (one block per
// 128-bit lane), its last sixteen words in registers, and is woven into the
// scalar rounds of the previous pair; one 256-bit store writes the round
// input (W + K) of both blocks.
//
// The including file compiles it for its instruction set: it defines
// ORMID_SHA512_PAIRS_TARGET as the function attribute naming it before the
// include, and gives sha512Pairs a class (in its own unnamed namespace, so
// every instantiation stays inside that file) with
//     static __m256i sigma0(__m256i x), sigma1(__m256i x)
// the schedule's small sigma functions on the four words of x.
#pragma once

#if !defined(ORMID_SHA512_PAIRS_TARGET)
#error "define ORMID_SHA512_PAIRS_TARGET before including sha512_pairs.h"
#endif

#include <array>
#include <cstddef>
#include <cstdint>

#include <immintrin.h>

#include "icrypto/sha512_blocks.h"

namespace icrypto::detail
{

// The round constants in the two-block layout of the round input: K[2p],
// K[2p + 1] once for each block.
constexpr std::array<std::uint64_t, 160> sha512PairConstants() noexcept
{
    std::array<std::uint64_t, 160> k{};
    for (int t = 0; t < 80; ++t) {
        k[sha512WkIndex<2>(t)] = SHA512_K[t];
        k[sha512WkIndex<2>(t) + 2] = SHA512_K[t];
    }
    return k;
}

// A copy in each including file: addressed directly, never through the
// global offset table.
alignas(32) static constexpr std::array<std::uint64_t, 160> SHA512_K2 = sha512PairConstants();

// Message schedule plus round constants of two blocks at once, written
// into their round input (two words of the first block, two of the second,
// ...: sha512WkIndex<2>). load() reads the pair and makes words 0..15,
// step(p) makes words 2p and 2p + 1 (p = 8..39). x holds the last sixteen
// words of both blocks, words 2p and 2p + 1 at x[p % 8].
template <class Sigma> struct Sha512PairSchedule {
    __m256i x[8];
    std::uint64_t* out = nullptr;

    ORMID_SHA512_PAIRS_TARGET void put(int p, __m256i v) noexcept
    {
        x[p % 8] = v;
        const __m256i k = _mm256_load_si256(reinterpret_cast<const __m256i*>(SHA512_K2.data() + 4 * p));
        _mm256_store_si256(reinterpret_cast<__m256i*>(out + 4 * p), _mm256_add_epi64(v, k));
    }

    ORMID_SHA512_PAIRS_TARGET void load(const unsigned char* data, std::uint64_t* wk) noexcept
    {
        out = wk;
        const __m256i swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5,
                                              4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
        for (int p = 0; p < 8; ++p) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * p));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 128 + 16 * p));
            put(p, _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), swap));
        }
    }

    ORMID_SHA512_PAIRS_TARGET void step(int p) noexcept
    {
        // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], two t at a time.
        const __m256i w16 = x[(p - 8) % 8];
        const __m256i w15 = _mm256_alignr_epi8(x[(p - 7) % 8], w16, 8);
        const __m256i w7 = _mm256_alignr_epi8(x[(p - 3) % 8], x[(p - 4) % 8], 8);
        const __m256i w2 = x[(p - 1) % 8];
        put(p, _mm256_add_epi64(_mm256_add_epi64(w16, Sigma::sigma0(w15)),
                                _mm256_add_epi64(w7, Sigma::sigma1(w2))));
    }
};

// Compresses the blocks, all but an odd last one two at a time. Flattened:
// the lambdas that run the schedule steps have no target of their own, so
// the steps become straight-line code with the rounds (and the last sixteen
// words stay in registers) only once everything is inlined into this
// function.
template <class Sigma>
ORMID_SHA512_PAIRS_TARGET __attribute__((flatten)) void
sha512Pairs(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    // Two round input buffers of a pair each: the rounds of one pair read
    // one while the schedule of the next pair fills the other.
    alignas(32) std::uint64_t wk[2][160];
    if (blocks >= 2) {
        Sha512PairSchedule<Sigma> next;
        int buffer = 0;
        next.load(data, wk[0]);
#pragma GCC unroll 32
        for (int p = 8; p < 40; ++p)
            next.step(p);
        for (; blocks >= 2; blocks -= 2, data += 256) {
            const bool more = blocks >= 4;
            const std::uint64_t* pair = wk[buffer];
            buffer ^= 1;
            if (more)
                next.load(data + 256, wk[buffer]);
            // The rounds of this pair, with the schedule of the next woven in.
            sha512Rounds<2>(state, pair, [&](int g) {
                if (more)
                    next.step(8 + g);
            });
            sha512Rounds<2>(state, pair + 2, [&](int g) {
                if (more && g < 12)
                    next.step(28 + g);
            });
        }
    }
    if (blocks > 0)
        sha512Blocks(state, data, blocks);
}

} // namespace icrypto::detail
