// GOST 28147-89: S-box parameter sets, counter ("gamma") mode and MAC
// (imitovstavka), as C-style contexts with return codes and as owning
// classes that throw.
#pragma once

#include <cstddef>
#include <vector>

namespace icrypto
{

// S-box parameter sets.
enum gost28147_params_id_t : unsigned {
    GOST28147_PARAMS_GOSTR3411_TEST = 0,      // id-GostR3411-94-TestParamSet
    GOST28147_PARAMS_TEST = 1,                // id-Gost28147-89-TestParamSet
    GOST28147_PARAMS_CRYPTOPRO_A = 2,         // id-Gost28147-89-CryptoPro-A-ParamSet
    GOST28147_PARAMS_CRYPTOPRO_B = 3,         // id-Gost28147-89-CryptoPro-B-ParamSet
    GOST28147_PARAMS_CRYPTOPRO_C = 4,         // id-Gost28147-89-CryptoPro-C-ParamSet
    GOST28147_PARAMS_CRYPTOPRO_D = 5,         // id-Gost28147-89-CryptoPro-D-ParamSet
    GOST28147_PARAMS_GOSTR3411_CRYPTOPRO = 6, // id-GostR3411-94-CryptoProParamSet
    GOST28147_PARAMS_TC26_Z = 7,              // id-tc26-gost-28147-param-Z
};

// Return codes of the C-style functions.
enum : int {
    GOST_OK = 0,
    GOST_ERR_NULL_ARGUMENT = 1,   // a data, key, IV or output pointer is null
    GOST_ERR_BAD_TAG = 2,         // null context or a context of another kind
    GOST_ERR_NOT_INITIALISED = 3, // context or parameters not initialised
    GOST_ERR_UNKNOWN_PARAMS = 4,  // parameter id above 7
    GOST_ERR_OVERLAP = 17,        // ctr_crypt input and output overlap but differ
};

constexpr std::size_t GOST28147_IV_SIZE = 8;
constexpr std::size_t GOST28147_KEY_SIZE = 32;
constexpr std::size_t GOST28147_MAC_SIZE = 4;

struct gost28147_params;
struct gost28147_ctr_ctx;
struct gost28147_mac_ctx;

// Allocation returns null when memory is short. The free functions release
// only an object whose tag matches (else 2), wipe it and null the pointer.
gost28147_params* gost28147_params_alloc() noexcept;
int gost28147_params_init_default(gost28147_params** params, gost28147_params_id_t id) noexcept;
int gost28147_params_free(gost28147_params** params) noexcept;

gost28147_ctr_ctx* ctr_alloc() noexcept;
// iv: 8 bytes, key: 32 bytes.
int ctr_init(gost28147_ctr_ctx** ctx, gost28147_params* const* params, const unsigned char* iv,
             const unsigned char* key) noexcept;
// XORs `length` bytes with the gamma; `out` may equal `in` but must not
// overlap it otherwise (17).
int ctr_crypt(gost28147_ctr_ctx** ctx, const unsigned char* in, unsigned char* out,
              std::size_t length) noexcept;
int ctr_free(gost28147_ctr_ctx** ctx) noexcept;

gost28147_mac_ctx* mac_alloc() noexcept;
int mac_init(gost28147_mac_ctx** ctx, gost28147_params* const* params, const unsigned char* key) noexcept;
int mac_update(gost28147_mac_ctx** ctx, const unsigned char* data, std::size_t length) noexcept;
// Writes 4 bytes and makes the context ready for a new message.
int mac_dofinal(gost28147_mac_ctx** ctx, unsigned char* out) noexcept;
int mac_free(gost28147_mac_ctx** ctx) noexcept;

// An expanded S-box set.
class Gost28147Params
{
  public:
    explicit Gost28147Params(gost28147_params_id_t id);
    ~Gost28147Params();
    Gost28147Params(const Gost28147Params&) = delete;
    Gost28147Params& operator=(const Gost28147Params&) = delete;

    gost28147_params* const* get() const noexcept { return &m_params; }

  private:
    gost28147_params* m_params = nullptr;
};

// Counter mode; the gamma continues across crypt() calls.
class Gost28147CTR
{
  public:
    // iv must hold 8 bytes and key 32, else Gost28147CTRError.
    Gost28147CTR(const Gost28147Params& params, const std::vector<unsigned char>& iv,
                 const std::vector<unsigned char>& key);
    ~Gost28147CTR();
    Gost28147CTR(const Gost28147CTR&) = delete;
    Gost28147CTR& operator=(const Gost28147CTR&) = delete;

    std::vector<unsigned char> crypt(const std::vector<unsigned char>& data);

  private:
    gost28147_ctr_ctx* m_ctx = nullptr;
};

// MAC; dofinal() returns 4 bytes and starts a new message.
class Gost28147MAC
{
  public:
    // key must hold 32 bytes, else Gost28147MACError.
    Gost28147MAC(const Gost28147Params& params, const std::vector<unsigned char>& key);
    ~Gost28147MAC();
    Gost28147MAC(const Gost28147MAC&) = delete;
    Gost28147MAC& operator=(const Gost28147MAC&) = delete;

    void update(const std::vector<unsigned char>& data);
    std::vector<unsigned char> dofinal();

  private:
    gost28147_mac_ctx* m_ctx = nullptr;
};

// Counter mode with the GOST R 34.11-94 CryptoPro S-box (set 6).
std::vector<unsigned char> encrypt(const std::vector<unsigned char>& data,
                                   const std::vector<unsigned char>& iv,
                                   const std::vector<unsigned char>& key);

} // namespace icrypto
