// GOST 28147-89 building blocks shared by the cipher modes and the
// GOST R 34.11-94 hash: the S-box sets, their expansion into round tables
// and the block transforms. Internal to the icrypto module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "base/secure.h"

namespace icrypto
{
struct gost28147_params;
}

namespace icrypto::detail
{

constexpr unsigned SBOX_SET_COUNT = 8;

// Row 0 substitutes the least significant nibble of the round value.
using SboxSet = std::uint8_t[8][16];

// The eight published S-box sets, in the order of gost28147_params_id_t.
extern const SboxSet SBOX_SETS[SBOX_SET_COUNT];

// Four tables of 256 words; entry k,x is the substitution of byte k of the
// round value, shifted into place and rotated left by 11 bits.
struct RoundTables {
    std::uint32_t t[4][256];
};

void expandSbox(const SboxSet& sbox, RoundTables& out) noexcept;

// The tables of a parameter block after the tag (2) and initialised (3)
// checks; 0 on success.
int paramsTables(gost28147_params* const* params, const RoundTables** tables) noexcept;

inline std::uint32_t load32(const unsigned char* p) noexcept
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline void store32(unsigned char* p, std::uint32_t v) noexcept
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Round function: substitution and rotation by eleven, four lookups.
inline std::uint32_t roundF(const RoundTables& r, std::uint32_t v) noexcept
{
    return r.t[0][v & 0xFF] ^ r.t[1][(v >> 8) & 0xFF] ^ r.t[2][(v >> 16) & 0xFF] ^ r.t[3][v >> 24];
}

// Encrypts N independent blocks at once (their rounds interleave, which hides
// the latency of the table lookups). Block j is (n1[j], n2[j]) with n1 the
// low half and uses the eight key words at keys[j]. On return n1[j] is the
// low half of the ciphertext and n2[j] the high half.
template <std::size_t N>
inline void encryptBlocks(const RoundTables& r, const std::uint32_t* const* keys, std::uint32_t* n1,
                          std::uint32_t* n2) noexcept
{
    std::uint32_t a[N], b[N];
    for (std::size_t j = 0; j < N; ++j) {
        a[j] = n1[j];
        b[j] = n2[j];
    }
#pragma GCC unroll 3
    for (int pass = 0; pass < 3; ++pass) {
#pragma GCC unroll 4
        for (int i = 0; i < 8; i += 2) {
#pragma GCC unroll 8
            for (std::size_t j = 0; j < N; ++j)
                b[j] ^= roundF(r, a[j] + keys[j][i]);
#pragma GCC unroll 8
            for (std::size_t j = 0; j < N; ++j)
                a[j] ^= roundF(r, b[j] + keys[j][i + 1]);
        }
    }
#pragma GCC unroll 4
    for (int i = 7; i > 0; i -= 2) {
#pragma GCC unroll 8
        for (std::size_t j = 0; j < N; ++j)
            b[j] ^= roundF(r, a[j] + keys[j][i]);
#pragma GCC unroll 8
        for (std::size_t j = 0; j < N; ++j)
            a[j] ^= roundF(r, b[j] + keys[j][i - 1]);
    }
    // The last round does not swap the halves.
    for (std::size_t j = 0; j < N; ++j) {
        n1[j] = b[j];
        n2[j] = a[j];
    }
}

// The 16-round transform of the MAC (key words 0..7 twice, no final swap).
inline void macTransform(const RoundTables& r, const std::uint32_t* key, std::uint32_t& n1,
                         std::uint32_t& n2) noexcept
{
    std::uint32_t a = n1, b = n2;
#pragma GCC unroll 2
    for (int pass = 0; pass < 2; ++pass) {
#pragma GCC unroll 4
        for (int i = 0; i < 8; i += 2) {
            b ^= roundF(r, a + key[i]);
            a ^= roundF(r, b + key[i + 1]);
        }
    }
    n1 = a;
    n2 = b;
}

// Encrypts one 8-byte block (bytes loaded least significant first).
inline void encryptBlock(const RoundTables& r, const std::uint32_t* key, const unsigned char* in,
                         unsigned char* out) noexcept
{
    std::uint32_t n1 = load32(in), n2 = load32(in + 4);
    encryptBlocks<1>(r, &key, &n1, &n2);
    store32(out, n1);
    store32(out + 4, n2);
}

// Allocation and release of the C-style contexts: every context type has a
// 4-byte `tag` member and a static TAG that it must equal.
template <class T> T* allocateContext() noexcept
{
    try {
        return std::make_unique<T>().release();
    } catch (...) {
        return nullptr;
    }
}

template <class T> bool hasTag(const T* p) noexcept
{
    return p != nullptr && std::memcmp(p->tag, T::TAG, sizeof(p->tag)) == 0;
}

// Frees *p when its tag matches (else 2), after wiping it; nulls the pointer.
template <class T> int releaseContext(T** p) noexcept
{
    if (p == nullptr || !hasTag(*p))
        return 2;
    std::unique_ptr<T> owner(*p);
    *p = nullptr;
    bs::secureZero(owner.get(), sizeof(T));
    return 0;
}

// Allocates a context with `alloc` and prepares it with `init`; a context
// whose preparation fails is released again and `Error` is thrown, so an
// owning class either holds a ready context or never comes to exist.
template <class Error, class T, class Init>
T* openContext(T* (*alloc)() noexcept, int (*release)(T**) noexcept, Init init)
{
    T* ctx = alloc();
    if (ctx == nullptr)
        throw std::bad_alloc();
    if (init(&ctx) != 0) {
        release(&ctx);
        throw Error();
    }
    return ctx;
}

} // namespace icrypto::detail
