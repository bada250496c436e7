// SHA-512 compression for CPUs with AVX2 and BMI2, compiled for them with
// function target attributes and called only when cpuid reports both: the
// two-block vector loop (sha512_pairs.h), rotating by shifts in the message
// schedule (AVX2 has no 64-bit rotation); the rounds are scalar, with BMI2
// rotations.
#include "icrypto/sha512_blocks.h"
#include "icrypto/sha_compress.h"

#if defined(__x86_64__) || defined(__i386__)

#define ORMID_SHA512_PAIRS_TARGET __attribute__((target("avx2,bmi2")))
#include "icrypto/sha512_pairs.h"

namespace icrypto::detail
{

namespace
{

struct Avx2Sigma {
    template <int N> ORMID_SHA512_PAIRS_TARGET static __m256i rotr(__m256i x) noexcept
    {
        return _mm256_or_si256(_mm256_srli_epi64(x, N), _mm256_slli_epi64(x, 64 - N));
    }
    ORMID_SHA512_PAIRS_TARGET static __m256i sigma0(__m256i x) noexcept
    {
        // Rotation right by 8 bits moves whole bytes.
        const __m256i ror8 = _mm256_setr_epi8(1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8, 1, 2, 3,
                                              4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8);
        return _mm256_xor_si256(_mm256_xor_si256(rotr<1>(x), _mm256_shuffle_epi8(x, ror8)),
                                _mm256_srli_epi64(x, 7));
    }
    ORMID_SHA512_PAIRS_TARGET static __m256i sigma1(__m256i x) noexcept
    {
        return _mm256_xor_si256(_mm256_xor_si256(rotr<19>(x), rotr<61>(x)), _mm256_srli_epi64(x, 6));
    }
};

} // namespace

ORMID_SHA512_PAIRS_TARGET void sha512CompressAvx2(std::uint64_t* state, const unsigned char* data,
                                                  std::size_t blocks) noexcept
{
    sha512Pairs<Avx2Sigma>(state, data, blocks);
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
