// GOST R 34.11-94 hash, as a C-style context with return codes and as an
// owning class that throws.
#pragma once

#include <cstddef>
#include <vector>

#include "icrypto/endian.h"
#include "icrypto/gost28147.h"

namespace icrypto
{

constexpr std::size_t GOST3411_SIZE = 32;

struct gost3411_ctx;

gost3411_ctx* digest_alloc() noexcept;
// startVector: 32 bytes, least significant byte first.
int digest_init(gost3411_ctx** ctx, gost28147_params* const* params,
                const unsigned char* startVector) noexcept;
int digest_update(gost3411_ctx** ctx, const unsigned char* data, std::size_t length) noexcept;
// Writes the 32-byte hash most significant byte first and resets the context
// to hash a new message with the same start vector.
int digest_dofinal(gost3411_ctx** ctx, unsigned char* out) noexcept;
int digest_free(gost3411_ctx** ctx) noexcept;

class Gost3411
{
  public:
    // startVector must hold 32 bytes, else Gost3411Error.
    Gost3411(const Gost28147Params& params, const std::vector<unsigned char>& startVector);
    ~Gost3411();
    Gost3411(const Gost3411&) = delete;
    Gost3411& operator=(const Gost3411&) = delete;

    void update(const std::vector<unsigned char>& data);
    void update(const unsigned char* data, std::size_t length);

    // Little: the hash as digest_dofinal writes it; Big: those bytes
    // reversed. The object is then ready for a new message.
    std::vector<unsigned char> dofinal(Endian endian);

  private:
    gost3411_ctx* m_ctx = nullptr;
};

// The hash of `data` with the test parameter set (S-box set 0), a zero start
// vector and Endian::Little: the form token password hashes are kept in.
std::vector<unsigned char> gost3411Digest(const std::vector<unsigned char>& data);

} // namespace icrypto
