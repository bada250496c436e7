// Run-time choice of the SHA compression code.
#include <atomic>

#include "icrypto/sha_compress.h"
#include "icrypto/sha_path.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace icrypto
{

namespace
{

ShaAcceleration detect() noexcept
{
    ShaAcceleration result;
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return result;
    const bool ssse3 = (c & (1u << 9)) != 0;
    const bool sse41 = (c & (1u << 19)) != 0;
    const bool osxsave = (c & (1u << 27)) != 0;
    const bool avx = (c & (1u << 28)) != 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return result;
    const bool sha = (b & (1u << 29)) != 0;
    const bool avx2 = (b & (1u << 5)) != 0;
    const bool bmi2 = (b & (1u << 8)) != 0;
    const bool avx512f = (b & (1u << 16)) != 0;
    const bool avx512vl = (b & (1u << 31)) != 0;
    bool ymmEnabled = false;
    bool zmmEnabled = false;
    if (osxsave) {
        unsigned lo = 0, hi = 0;
        __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        ymmEnabled = (lo & 0x06u) == 0x06u; // the OS saves XMM and YMM state
        zmmEnabled = (lo & 0xe6u) == 0xe6u; // ... and the opmask and ZMM state
    }
    result.sha1 = result.sha256 = sha && ssse3 && sse41;
    result.sha512 = avx && avx2 && bmi2 && ymmEnabled;
    result.sha512Avx512 = result.sha512 && avx512f && avx512vl && zmmEnabled;
#endif
    return result;
}

std::atomic<ShaPath> g_path{ShaPath::Fastest};

// The CPU's features, read once (thread-safe static initialisation).
const ShaAcceleration& cpu() noexcept
{
    static const ShaAcceleration features = detect();
    return features;
}

} // namespace

ShaAcceleration shaAcceleration() noexcept
{
    return cpu();
}

void forceShaPath(ShaPath path) noexcept
{
    g_path.store(path, std::memory_order_relaxed);
}

namespace detail
{

void sha1Compress(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    if (cpu().sha1 && g_path.load(std::memory_order_relaxed) != ShaPath::Portable)
        sha1CompressShaNi(state, data, blocks);
    else
        sha1CompressPortable(state, data, blocks);
}

void sha256Compress(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    if (cpu().sha256 && g_path.load(std::memory_order_relaxed) != ShaPath::Portable)
        sha256CompressShaNi(state, data, blocks);
    else
        sha256CompressPortable(state, data, blocks);
}

void sha512Compress(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept
{
    const ShaPath path = g_path.load(std::memory_order_relaxed);
    if (cpu().sha512Avx512 && path == ShaPath::Fastest)
        sha512CompressAvx512(state, data, blocks);
    else if (cpu().sha512 && path != ShaPath::Portable)
        sha512CompressAvx2(state, data, blocks);
    else
        sha512CompressPortable(state, data, blocks);
}

} // namespace detail

} // namespace icrypto
