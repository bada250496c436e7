// SHA compression with x86 extensions: the SHA instructions for SHA-1 and
// SHA-256. Only these functions are compiled for the extensions (function
// target attributes); the rest of the library stays baseline x86-64, and
// sha_dispatch.cpp calls them only when cpuid reports the features.
#include <cstdint>

#include "icrypto/sha_compress.h"
#include "icrypto/sha_constants.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define ORMID_TARGET_SHA __attribute__((target("sha,sse4.1,ssse3")))

namespace icrypto::detail
{

namespace
{

template <int F> ORMID_TARGET_SHA inline __m128i sha1Rounds(__m128i abcd, __m128i ew) noexcept
{
    return _mm_sha1rnds4_epu32(abcd, ew, F);
}

} // namespace

ORMID_TARGET_SHA void sha1CompressShaNi(std::uint32_t* state, const unsigned char* data,
                                        std::size_t blocks) noexcept
{
    const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcdSave = abcd;
        const __m128i eSave = e0;
        __m128i w[4];
        __m128i prev = abcd;
#pragma GCC unroll 20
        for (int i = 0; i < 20; ++i) {
            __m128i& wi = w[i & 3];
            if (i < 4) {
                wi = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), mask);
            } else {
                // W[i] from W[i-4], W[i-3], W[i-2], W[i-1]; w[i & 3] still holds W[i-4].
                const __m128i t = _mm_xor_si128(_mm_sha1msg1_epu32(wi, w[(i + 1) & 3]), w[(i + 2) & 3]);
                wi = _mm_sha1msg2_epu32(t, w[(i + 3) & 3]);
            }
            // E of this group is rotl30 of A four rounds ago (sha1nexte adds
            // it into the top lane); the first group adds the saved E.
            const __m128i ew = i == 0 ? _mm_add_epi32(e0, wi) : _mm_sha1nexte_epu32(prev, wi);
            prev = abcd;
            switch (i / 5) {
            case 0:
                abcd = sha1Rounds<0>(abcd, ew);
                break;
            case 1:
                abcd = sha1Rounds<1>(abcd, ew);
                break;
            case 2:
                abcd = sha1Rounds<2>(abcd, ew);
                break;
            default:
                abcd = sha1Rounds<3>(abcd, ew);
                break;
            }
        }
        e0 = _mm_sha1nexte_epu32(prev, eSave);
        abcd = _mm_add_epi32(abcd, abcdSave);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

ORMID_TARGET_SHA void sha256CompressShaNi(std::uint32_t* state, const unsigned char* data,
                                          std::size_t blocks) noexcept
{
    const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    // The instructions keep the state as (A, B, E, F) and (C, D, G, H).
    __m128i t = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1); // CDAB
    __m128i s1 =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B); // EFGH
    __m128i s0 = _mm_alignr_epi8(t, s1, 8);                                                    // ABEF
    s1 = _mm_blend_epi16(s1, t, 0xF0);                                                         // CDGH

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i s0Save = s0;
        const __m128i s1Save = s1;
        __m128i w[4];
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            __m128i& wi = w[i & 3];
            if (i < 4) {
                wi = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), mask);
            } else {
                // W[i] from W[i-4] (still in w[i & 3]), W[i-3], W[i-2], W[i-1].
                __m128i x = _mm_sha256msg1_epu32(wi, w[(i + 1) & 3]);
                x = _mm_add_epi32(x, _mm_alignr_epi8(w[(i + 3) & 3], w[(i + 2) & 3], 4));
                wi = _mm_sha256msg2_epu32(x, w[(i + 3) & 3]);
            }
            __m128i msg =
                _mm_add_epi32(wi, _mm_load_si128(reinterpret_cast<const __m128i*>(SHA256_K + 4 * i)));
            s1 = _mm_sha256rnds2_epu32(s1, s0, msg);
            msg = _mm_shuffle_epi32(msg, 0x0E);
            s0 = _mm_sha256rnds2_epu32(s0, s1, msg);
        }
        s0 = _mm_add_epi32(s0, s0Save);
        s1 = _mm_add_epi32(s1, s1Save);
    }

    t = _mm_shuffle_epi32(s0, 0x1B);   // FEBA
    s1 = _mm_shuffle_epi32(s1, 0xB1);  // DCHG
    s0 = _mm_blend_epi16(t, s1, 0xF0); // DCBA
    s1 = _mm_alignr_epi8(s1, t, 8);    // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), s0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), s1);
}

} // namespace icrypto::detail

#else

namespace icrypto::detail
{

void sha1CompressShaNi(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    sha1CompressPortable(state, data, blocks);
}

void sha256CompressShaNi(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    sha256CompressPortable(state, data, blocks);
}

} // namespace icrypto::detail

#endif
