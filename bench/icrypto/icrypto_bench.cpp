// bench_icrypto: our GOST R 34.11-94, GOST 28147-89 counter mode and SHA
// engines against libgcrypt, nettle and OpenSSL on the same buffers.
// Compare within one run (the ratios), not across machines.
#include <benchmark/benchmark.h>
#include <gcrypt.h>
#include <nettle/gosthash94.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
#include <openssl/provider.h>
#endif

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "icrypto/gost28147.h"
#include "icrypto/gost3411.h"
#include "icrypto/sha.h"
#include "icrypto/sha_path.h"

namespace
{

using Bytes = std::vector<unsigned char>;

// A pseudo-random buffer of the given size, made once per size.
const Bytes& input(std::size_t size)
{
    static std::map<std::size_t, Bytes> cache; // nodes stay put as it grows
    auto it = cache.find(size);
    if (it == cache.end()) {
        Bytes d(size);
        std::uint32_t x = 12345;
        for (auto& b : d) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<unsigned char>(x >> 24);
        }
        it = cache.emplace(size, std::move(d)).first;
    }
    return it->second;
}

void setBytes(benchmark::State& state, std::size_t size)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}

void initGcrypt()
{
    static const bool done = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)done;
}

// GOST R 34.11-94

void gostOurs(benchmark::State& state, icrypto::gost28147_params_id_t set)
{
    const Bytes& data = input(static_cast<std::size_t>(state.range(0)));
    const icrypto::Gost28147Params params(set);
    icrypto::Gost3411 hash(params, Bytes(32, 0));
    for (auto _ : state) {
        hash.update(data);
        benchmark::DoNotOptimize(hash.dofinal(Endian::Little));
    }
    setBytes(state, data.size());
}

void gostGcrypt(benchmark::State& state, int algo)
{
    initGcrypt();
    const Bytes& data = input(static_cast<std::size_t>(state.range(0)));
    unsigned char out[32];
    for (auto _ : state) {
        gcry_md_hash_buffer(algo, out, data.data(), data.size());
        benchmark::DoNotOptimize(out);
    }
    setBytes(state, data.size());
}

void Gost3411_94_CryptoPro_ours(benchmark::State& state)
{
    gostOurs(state, icrypto::GOST28147_PARAMS_GOSTR3411_CRYPTOPRO);
}

void Gost3411_94_CryptoPro_libgcrypt(benchmark::State& state)
{
    gostGcrypt(state, GCRY_MD_GOSTR3411_CP);
}

void Gost3411_94_CryptoPro_nettle(benchmark::State& state)
{
    const Bytes& data = input(static_cast<std::size_t>(state.range(0)));
    struct gosthash94cp_ctx ctx;
    unsigned char out[GOSTHASH94CP_DIGEST_SIZE];
    for (auto _ : state) {
        gosthash94cp_init(&ctx);
        gosthash94cp_update(&ctx, data.size(), data.data());
        gosthash94cp_digest(&ctx, sizeof(out), out);
        benchmark::DoNotOptimize(out);
    }
    setBytes(state, data.size());
}

void Gost3411_94_Test_ours(benchmark::State& state)
{
    gostOurs(state, icrypto::GOST28147_PARAMS_GOSTR3411_TEST);
}

void Gost3411_94_Test_libgcrypt(benchmark::State& state)
{
    gostGcrypt(state, GCRY_MD_GOSTR3411_94);
}

// GOST 28147-89 counter mode

void Gost28147_CTR_ours(benchmark::State& state)
{
    const Bytes& data = input(static_cast<std::size_t>(state.range(0)));
    const icrypto::Gost28147Params params(icrypto::GOST28147_PARAMS_CRYPTOPRO_A);
    icrypto::Gost28147CTR ctr(params, Bytes(8, 1), Bytes(32, 2));
    for (auto _ : state)
        benchmark::DoNotOptimize(ctr.crypt(data));
    setBytes(state, data.size());
}

// SHA

// OpenSSL's digest of that name: fetched from the default provider
// (OpenSSL 3), or looked up (OpenSSL 1.1, as the old userland has).
struct MdRelease {
    void operator()([[maybe_unused]] EVP_MD* md) const noexcept
    {
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
        EVP_MD_free(md);
#endif
    }
};
using OpenSslMd = std::unique_ptr<EVP_MD, MdRelease>;

OpenSslMd opensslMd(const char* name)
{
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
    static const bool loaded = OSSL_PROVIDER_load(nullptr, "default") != nullptr;
    (void)loaded;
    return OpenSslMd(EVP_MD_fetch(nullptr, name, nullptr));
#else
    return OpenSslMd(const_cast<EVP_MD*>(EVP_get_digestbyname(name)));
#endif
}

void shaOpenSsl(benchmark::State& state, const char* name)
{
    const Bytes& data = input(static_cast<std::size_t>(state.range(0)));
    const OpenSslMd md = opensslMd(name);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(data.data(), data.size(), out, &length, md.get(), nullptr);
        benchmark::DoNotOptimize(out);
    }
    setBytes(state, data.size());
}

template <class Engine> void shaOurs(benchmark::State& state, icrypto::ShaPath path)
{
    const Bytes& data = input(static_cast<std::size_t>(state.range(0)));
    icrypto::forceShaPath(path);
    Engine engine;
    for (auto _ : state) {
        engine.update(data);
        benchmark::DoNotOptimize(engine.doFinal());
    }
    icrypto::forceShaPath(icrypto::ShaPath::Fastest);
    setBytes(state, data.size());
}

// Ours (on the given path) and OpenSSL in turns, each timed on its own, on
// every iteration: on a shared machine both meet the same load, so their
// ratio holds where the absolute figures wander. Counters: ours and openssl
// in MiB/s over all iterations, ratio = the median over the iterations of
// OpenSSL's time / ours (above 1: ours is faster).
template <class Engine> void shaPaired(benchmark::State& state, const char* name, icrypto::ShaPath path)
{
    using Clock = std::chrono::steady_clock;
    const Bytes& data = input(static_cast<std::size_t>(state.range(0)));
    const OpenSslMd md = opensslMd(name);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    icrypto::forceShaPath(path);
    Engine engine;
    double oursTotal = 0, theirsTotal = 0;
    std::vector<double> ratios;
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        engine.update(data);
        benchmark::DoNotOptimize(engine.doFinal());
        const Clock::time_point t1 = Clock::now();
        EVP_Digest(data.data(), data.size(), out, &length, md.get(), nullptr);
        benchmark::DoNotOptimize(out);
        const Clock::time_point t2 = Clock::now();
        const double ours = std::chrono::duration<double>(t1 - t0).count();
        const double theirs = std::chrono::duration<double>(t2 - t1).count();
        oursTotal += ours;
        theirsTotal += theirs;
        ratios.push_back(theirs / ours);
    }
    icrypto::forceShaPath(icrypto::ShaPath::Fastest);
    const double mib = static_cast<double>(state.iterations()) * static_cast<double>(data.size()) / (1 << 20);
    std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
    state.counters["ours"] = mib / oursTotal;
    state.counters["openssl"] = mib / theirsTotal;
    state.counters["ratio"] = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
}

void Sha1_ours(benchmark::State& s)
{
    shaOurs<icrypto::Sha1>(s, icrypto::ShaPath::Fastest);
}
void Sha1_ours_portable(benchmark::State& s)
{
    shaOurs<icrypto::Sha1>(s, icrypto::ShaPath::Portable);
}
void Sha1_openssl(benchmark::State& s)
{
    shaOpenSsl(s, "SHA1");
}
void Sha256_ours(benchmark::State& s)
{
    shaOurs<icrypto::Sha256>(s, icrypto::ShaPath::Fastest);
}
void Sha256_ours_portable(benchmark::State& s)
{
    shaOurs<icrypto::Sha256>(s, icrypto::ShaPath::Portable);
}
void Sha256_openssl(benchmark::State& s)
{
    shaOpenSsl(s, "SHA256");
}
void Sha512_ours(benchmark::State& s)
{
    shaOurs<icrypto::Sha512>(s, icrypto::ShaPath::Fastest);
}
void Sha512_ours_avx2(benchmark::State& s)
{
    shaOurs<icrypto::Sha512>(s, icrypto::ShaPath::NoAvx512);
}
void Sha512_ours_portable(benchmark::State& s)
{
    shaOurs<icrypto::Sha512>(s, icrypto::ShaPath::Portable);
}
void Sha512_openssl(benchmark::State& s)
{
    shaOpenSsl(s, "SHA512");
}
void Sha256_paired(benchmark::State& s)
{
    shaPaired<icrypto::Sha256>(s, "SHA256", icrypto::ShaPath::Fastest);
}
void Sha512_paired(benchmark::State& s)
{
    shaPaired<icrypto::Sha512>(s, "SHA512", icrypto::ShaPath::Fastest);
}
void Sha512_avx2_paired(benchmark::State& s)
{
    shaPaired<icrypto::Sha512>(s, "SHA512", icrypto::ShaPath::NoAvx512);
}

constexpr std::int64_t MIB = 1 << 20;

// Registered by name (benchmark::RegisterBenchmark: the benchmark library of
// the old userland, 1.5, has no Name()).
#define ORMID_JOIN2(a, b) a##b
#define ORMID_JOIN(a, b) ORMID_JOIN2(a, b)
#define ORMID_REGISTER(name, fn)                                                                             \
    [[maybe_unused]] benchmark::internal::Benchmark* const ORMID_JOIN(registered_, __COUNTER__) =            \
        benchmark::RegisterBenchmark(name, fn)
#define ORMID_BENCH(name, fn) ORMID_REGISTER(name, fn)->Arg(1024)->Arg(MIB)->Unit(benchmark::kMicrosecond)

ORMID_BENCH("Gost3411_94_CryptoPro/ours", Gost3411_94_CryptoPro_ours);
ORMID_BENCH("Gost3411_94_CryptoPro/libgcrypt", Gost3411_94_CryptoPro_libgcrypt);
ORMID_BENCH("Gost3411_94_CryptoPro/nettle", Gost3411_94_CryptoPro_nettle);
ORMID_BENCH("Gost3411_94_Test/ours", Gost3411_94_Test_ours);
ORMID_BENCH("Gost3411_94_Test/libgcrypt", Gost3411_94_Test_libgcrypt);
ORMID_BENCH("Gost28147_CTR/ours", Gost28147_CTR_ours);
ORMID_BENCH("Sha1/ours", Sha1_ours);
ORMID_BENCH("Sha1/ours-portable", Sha1_ours_portable);
ORMID_BENCH("Sha1/openssl", Sha1_openssl);
ORMID_BENCH("Sha256/ours", Sha256_ours);
ORMID_BENCH("Sha256/ours-portable", Sha256_ours_portable);
ORMID_BENCH("Sha256/openssl", Sha256_openssl);
ORMID_BENCH("Sha512/ours", Sha512_ours);
ORMID_BENCH("Sha512/ours-avx2", Sha512_ours_avx2);
ORMID_BENCH("Sha512/ours-portable", Sha512_ours_portable);
ORMID_BENCH("Sha512/openssl", Sha512_openssl);
ORMID_REGISTER("Sha256/ours-vs-openssl", Sha256_paired)->Arg(MIB)->Unit(benchmark::kMicrosecond);
ORMID_REGISTER("Sha512/ours-vs-openssl", Sha512_paired)->Arg(MIB)->Unit(benchmark::kMicrosecond);
ORMID_REGISTER("Sha512/ours-avx2-vs-openssl", Sha512_avx2_paired)->Arg(MIB)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
