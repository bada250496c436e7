// SHA-512 compression for CPUs with AVX2 and BMI2; compiled for them with a
// function target attribute and called only when cpuid reports both.
#include "icrypto/sha512_blocks.h"
#include "icrypto/sha_compress.h"

namespace icrypto::detail
{

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2,bmi2"))) void sha512CompressAvx2(std::uint64_t* state, const unsigned char* data,
                                                             std::size_t blocks) noexcept
{
    sha512Blocks(state, data, blocks);
}
#else
void sha512CompressAvx2(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    sha512Blocks(state, data, blocks);
}
#endif

} // namespace icrypto::detail
