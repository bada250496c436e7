// Which SHA code runs: the CPU-specific paths (SHA extensions for SHA-1 and
// SHA-256, AVX2 for SHA-384/512), chosen at run time, or the portable code
// that is correct on every machine. Tests and benchmarks use the switch to
// exercise and compare both paths.
#pragma once

namespace icrypto
{

struct ShaAcceleration {
    bool sha1 = false;   // SHA extensions
    bool sha256 = false; // SHA extensions
    bool sha512 = false; // AVX2 and BMI2
};

// What this CPU (and its operating system) allows.
ShaAcceleration shaAcceleration() noexcept;

// true: every engine uses the portable code from now on; false (the
// default): the fastest path the CPU allows. Safe to call from any thread.
void forcePortableSha(bool portable) noexcept;

} // namespace icrypto
