// Throughput of the Base64 and hex codecs, and the gain of the threaded hex
// conversion on large buffers. Each case reports bytes_per_second of binary
// data handled; wall-clock time, since the threaded cases work off the
// calling thread.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "base/conv.h"

namespace
{

constexpr long MIB = 1 << 20;

std::vector<unsigned char> randomBytes(std::size_t size)
{
    std::mt19937_64 engine(42);
    std::vector<unsigned char> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(engine());
    }
    return bytes;
}

void finish(benchmark::State& state, std::size_t binarySize)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(binarySize));
}

void Base64Encode(benchmark::State& state)
{
    const auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(conv::binary_to_base64(data));
    }
    finish(state, data.size());
}

void Base64Decode(benchmark::State& state)
{
    const auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
    const std::string text = conv::binary_to_base64(data);
    for (auto _ : state) {
        benchmark::DoNotOptimize(conv::base64_to_binary(text));
    }
    finish(state, data.size());
}

void HexEncode(benchmark::State& state)
{
    const auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(conv::bytes_to_hex(data));
    }
    finish(state, data.size());
}

void HexDecode(benchmark::State& state)
{
    const auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
    const std::string text = conv::bytes_to_hex(data);
    for (auto _ : state) {
        benchmark::DoNotOptimize(conv::hex_to_bytes(text));
    }
    finish(state, data.size());
}

void ParallelHexEncode(benchmark::State& state)
{
    const auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(parallel::bytes_to_hex(data));
    }
    finish(state, data.size());
}

void ParallelHexDecode(benchmark::State& state)
{
    const auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
    const std::string text = conv::bytes_to_hex(data);
    for (auto _ : state) {
        benchmark::DoNotOptimize(parallel::hex_to_bytes(text));
    }
    finish(state, data.size());
}

} // namespace

BENCHMARK(Base64Encode)->Arg(1 * MIB)->UseRealTime();
BENCHMARK(Base64Decode)->Arg(1 * MIB)->UseRealTime();
BENCHMARK(HexEncode)->Arg(1 * MIB)->Arg(100 * MIB)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(HexDecode)->Arg(1 * MIB)->Arg(100 * MIB)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ParallelHexEncode)->Arg(100 * MIB)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ParallelHexDecode)->Arg(100 * MIB)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
