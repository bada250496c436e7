// SHA block compression functions and the choice among them. Internal to
// the icrypto module, apart from the path switch used by tests and
// benchmarks (sha_path.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace icrypto::detail
{

// Each compresses `blocks` consecutive blocks (64 or 128 bytes) into state.
void sha1CompressPortable(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept;
void sha256CompressPortable(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept;
void sha512CompressPortable(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept;

// x86-64 only; call only when the CPU has the features (see sha_path.h).
void sha1CompressShaNi(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept;
void sha256CompressShaNi(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept;
void sha512CompressAvx2(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept;
void sha512CompressAvx512(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept;

// The compression functions chosen for this CPU and the current path.
void sha1Compress(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept;
void sha256Compress(std::uint32_t* state, const unsigned char* data, std::size_t blocks) noexcept;
void sha512Compress(std::uint64_t* state, const unsigned char* data, std::size_t blocks) noexcept;

} // namespace icrypto::detail
