// SHA-512 compression for CPUs with AVX-512F/VL and BMI2, compiled for them
// with function target attributes and called only when cpuid and the OS
// allow them: the two-block vector loop (sha512_pairs.h) with the 64-bit
// rotations and the three-way XOR of AVX-512VL in the message schedule.
#include "icrypto/sha512_blocks.h"
#include "icrypto/sha_compress.h"

#if defined(__x86_64__) || defined(__i386__)

#define ORMID_SHA512_PAIRS_TARGET __attribute__((target("avx2,bmi2,avx512f,avx512vl")))
#include "icrypto/sha512_pairs.h"

namespace icrypto::detail
{

namespace
{

struct Avx512Sigma {
    ORMID_SHA512_PAIRS_TARGET static __m256i sigma0(__m256i x) noexcept
    {
        return _mm256_ternarylogic_epi64(_mm256_ror_epi64(x, 1), _mm256_ror_epi64(x, 8),
                                         _mm256_srli_epi64(x, 7), 0x96);
    }
    ORMID_SHA512_PAIRS_TARGET static __m256i sigma1(__m256i x) noexcept
    {
        return _mm256_ternarylogic_epi64(_mm256_ror_epi64(x, 19), _mm256_ror_epi64(x, 61),
                                         _mm256_srli_epi64(x, 6), 0x96);
    }
};

} // namespace

ORMID_SHA512_PAIRS_TARGET void sha512CompressAvx512(std::uint64_t* state, const unsigned char* data,
                                                    std::size_t blocks) noexcept
{
    sha512Pairs<Avx512Sigma>(state, data, blocks);
}

} // namespace icrypto::detail

#else

namespace icrypto::detail
{

void sha512CompressAvx512(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    sha512Blocks(state, data, blocks);
}

} // namespace icrypto::detail

#endif
