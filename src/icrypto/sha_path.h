// Which SHA code runs: the CPU-specific paths (SHA extensions for SHA-1 and
// SHA-256; AVX-512 or else AVX2 for SHA-384/512), chosen at run time, or
// the portable code that is correct on every machine. Tests and benchmarks
// use the switch to exercise and compare the paths.
#pragma once

namespace icrypto
{

struct ShaAcceleration {
    bool sha1 = false;         // SHA extensions
    bool sha256 = false;       // SHA extensions
    bool sha512 = false;       // AVX2 and BMI2
    bool sha512Avx512 = false; // AVX-512F and AVX-512VL as well, with the OS saving their state
};

// What this CPU (and its operating system) allows.
ShaAcceleration shaAcceleration() noexcept;

enum class ShaPath {
    Fastest,  // the fastest code the CPU allows (the default)
    NoAvx512, // as Fastest, but SHA-384/512 use the AVX2 code even where AVX-512 is there
    Portable, // the portable code for every algorithm
};

// Every engine uses the given path from now on; a path the CPU lacks falls
// back to the next slower one. Safe to call from any thread.
void forceShaPath(ShaPath path) noexcept;

} // namespace icrypto
