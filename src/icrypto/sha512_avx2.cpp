// SHA-512 compression for CPUs with AVX2 and BMI2, compiled for them with
// function target attributes and called only when cpuid reports both. The
// message schedule of two blocks runs side by side in the 256-bit vectors
// (one block per 128-bit lane); the rounds are scalar, with BMI2 rotations.
#include "icrypto/sha512_blocks.h"
#include "icrypto/sha_compress.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define ORMID_TARGET_AVX2 __attribute__((target("avx2,bmi2")))

namespace icrypto::detail
{

namespace
{

ORMID_TARGET_AVX2 inline __m256i rotr64(__m256i x, int n) noexcept
{
    return _mm256_or_si256(_mm256_srli_epi64(x, n), _mm256_slli_epi64(x, 64 - n));
}

// Message schedule plus round constants of two blocks at once, written
// straight into the round input of both blocks (W[t] + K[t]). load() reads
// the pair and makes words 0..15, step(p) makes words 2p and 2p + 1 (p =
// 8..39); the steps are spread over the rounds of the previous pair, which
// read the other one of two buffers.
struct PairSchedule {
    __m256i x[40];
    std::uint64_t* first = nullptr;
    std::uint64_t* second = nullptr;

    ORMID_TARGET_AVX2 void put(int p, __m256i v) noexcept
    {
        x[p] = v;
        const __m256i k =
            _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(SHA512_K + 2 * p)));
        const __m256i s = _mm256_add_epi64(v, k);
        _mm_store_si128(reinterpret_cast<__m128i*>(first + 2 * p), _mm256_castsi256_si128(s));
        _mm_store_si128(reinterpret_cast<__m128i*>(second + 2 * p), _mm256_extracti128_si256(s, 1));
    }

    ORMID_TARGET_AVX2 void load(const unsigned char* data, std::uint64_t* a, std::uint64_t* b) noexcept
    {
        first = a;
        second = b;
        const __m256i swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5,
                                              4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
        for (int p = 0; p < 8; ++p) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * p));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 128 + 16 * p));
            put(p, _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), swap));
        }
    }

    ORMID_TARGET_AVX2 void step(int p) noexcept
    {
        // Rotation right by 8 bits moves whole bytes.
        const __m256i ror8 = _mm256_setr_epi8(1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8, 1, 2, 3,
                                              4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8);
        // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], two t at a time.
        const __m256i w15 = _mm256_alignr_epi8(x[p - 7], x[p - 8], 8);
        const __m256i w7 = _mm256_alignr_epi8(x[p - 3], x[p - 4], 8);
        const __m256i s0 = _mm256_xor_si256(_mm256_xor_si256(rotr64(w15, 1), _mm256_shuffle_epi8(w15, ror8)),
                                            _mm256_srli_epi64(w15, 7));
        const __m256i w2 = x[p - 1];
        const __m256i s1 =
            _mm256_xor_si256(_mm256_xor_si256(rotr64(w2, 19), rotr64(w2, 61)), _mm256_srli_epi64(w2, 6));
        put(p, _mm256_add_epi64(_mm256_add_epi64(x[p - 8], s0), _mm256_add_epi64(w7, s1)));
    }
};

} // namespace

ORMID_TARGET_AVX2 void sha512CompressAvx2(std::uint64_t* state, const unsigned char* data,
                                          std::size_t blocks) noexcept
{
    // Two round inputs per block: the rounds of one pair read one while the
    // schedule of the next pair fills the other.
    alignas(32) std::uint64_t wk[2][2][80];
    if (blocks >= 2) {
        PairSchedule next;
        int buffer = 0;
        next.load(data, wk[0][0], wk[0][1]);
        for (int p = 8; p < 40; ++p)
            next.step(p);
        for (; blocks >= 2; blocks -= 2, data += 256) {
            const bool more = blocks >= 4;
            std::uint64_t* first = wk[buffer][0];
            std::uint64_t* second = wk[buffer][1];
            buffer ^= 1;
            if (more)
                next.load(data + 256, wk[buffer][0], wk[buffer][1]);
            // The rounds of this pair, with the schedule of the next woven in.
            sha512Rounds(state, first, [&](int g) {
                if (more)
                    next.step(8 + g);
            });
            sha512Rounds(state, second, [&](int g) {
                if (more && g < 12)
                    next.step(28 + g);
            });
        }
    }
    if (blocks > 0)
        sha512Blocks(state, data, blocks);
}

} // namespace icrypto::detail

#else

namespace icrypto::detail
{

void sha512CompressAvx2(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    sha512Blocks(state, data, blocks);
}

} // namespace icrypto::detail

#endif
