#include "icrypto/gost28147.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "icrypto/errors.h"
#include "icrypto/gost28147_core.h"

namespace icrypto
{

namespace detail
{

// clang-format off
const SboxSet SBOX_SETS[SBOX_SET_COUNT] = {
    { // id-GostR3411-94-TestParamSet
        {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
        {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
        {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
        {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
        {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
        {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
        {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
        {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
    },
    { // id-Gost28147-89-TestParamSet
        {4, 2, 15, 5, 9, 1, 0, 8, 14, 3, 11, 12, 13, 7, 10, 6},
        {12, 9, 15, 14, 8, 1, 3, 10, 2, 7, 4, 13, 6, 0, 11, 5},
        {13, 8, 14, 12, 7, 3, 9, 10, 1, 5, 2, 4, 6, 15, 0, 11},
        {14, 9, 11, 2, 5, 15, 7, 1, 0, 13, 12, 6, 10, 4, 3, 8},
        {3, 14, 5, 9, 6, 8, 0, 13, 10, 11, 7, 12, 2, 1, 15, 4},
        {8, 15, 6, 11, 1, 9, 12, 5, 13, 3, 7, 10, 0, 14, 2, 4},
        {9, 11, 12, 0, 3, 6, 7, 5, 4, 8, 14, 15, 1, 10, 2, 13},
        {12, 6, 5, 2, 11, 0, 9, 13, 3, 14, 7, 10, 15, 4, 1, 8},
    },
    { // id-Gost28147-89-CryptoPro-A-ParamSet
        {9, 6, 3, 2, 8, 11, 1, 7, 10, 4, 14, 15, 12, 0, 13, 5},
        {3, 7, 14, 9, 8, 10, 15, 0, 5, 2, 6, 12, 11, 4, 13, 1},
        {14, 4, 6, 2, 11, 3, 13, 8, 12, 15, 5, 10, 0, 7, 1, 9},
        {14, 7, 10, 12, 13, 1, 3, 9, 0, 2, 11, 4, 15, 8, 5, 6},
        {11, 5, 1, 9, 8, 13, 15, 0, 14, 4, 2, 3, 12, 7, 10, 6},
        {3, 10, 13, 12, 1, 2, 0, 11, 7, 5, 9, 4, 8, 15, 14, 6},
        {1, 13, 2, 9, 7, 10, 6, 0, 8, 12, 4, 5, 15, 3, 11, 14},
        {11, 10, 15, 5, 0, 12, 14, 8, 6, 2, 3, 9, 1, 7, 13, 4},
    },
    { // id-Gost28147-89-CryptoPro-B-ParamSet
        {8, 4, 11, 1, 3, 5, 0, 9, 2, 14, 10, 12, 13, 6, 7, 15},
        {0, 1, 2, 10, 4, 13, 5, 12, 9, 7, 3, 15, 11, 8, 6, 14},
        {14, 12, 0, 10, 9, 2, 13, 11, 7, 5, 8, 15, 3, 6, 1, 4},
        {7, 5, 0, 13, 11, 6, 1, 2, 3, 10, 12, 15, 4, 14, 9, 8},
        {2, 7, 12, 15, 9, 5, 10, 11, 1, 4, 0, 13, 6, 8, 14, 3},
        {8, 3, 2, 6, 4, 13, 14, 11, 12, 1, 7, 15, 10, 0, 9, 5},
        {5, 2, 10, 11, 9, 1, 12, 3, 7, 4, 13, 0, 6, 15, 8, 14},
        {0, 4, 11, 14, 8, 3, 7, 1, 10, 2, 9, 6, 15, 13, 5, 12},
    },
    { // id-Gost28147-89-CryptoPro-C-ParamSet
        {1, 11, 12, 2, 9, 13, 0, 15, 4, 5, 8, 14, 10, 7, 6, 3},
        {0, 1, 7, 13, 11, 4, 5, 2, 8, 14, 15, 12, 9, 10, 6, 3},
        {8, 2, 5, 0, 4, 9, 15, 10, 3, 7, 12, 13, 6, 14, 1, 11},
        {3, 6, 0, 1, 5, 13, 10, 8, 11, 2, 9, 7, 14, 15, 12, 4},
        {8, 13, 11, 0, 4, 5, 1, 2, 9, 3, 12, 14, 6, 15, 10, 7},
        {12, 9, 11, 1, 8, 14, 2, 4, 7, 3, 6, 5, 10, 0, 15, 13},
        {10, 9, 6, 8, 13, 14, 2, 0, 15, 3, 5, 11, 4, 1, 12, 7},
        {7, 4, 0, 5, 10, 2, 15, 14, 12, 6, 1, 11, 13, 9, 3, 8},
    },
    { // id-Gost28147-89-CryptoPro-D-ParamSet
        {15, 12, 2, 10, 6, 4, 5, 0, 7, 9, 14, 13, 1, 11, 8, 3},
        {11, 6, 3, 4, 12, 15, 14, 2, 7, 13, 8, 0, 5, 10, 9, 1},
        {1, 12, 11, 0, 15, 14, 6, 5, 10, 13, 4, 8, 9, 3, 7, 2},
        {1, 5, 14, 12, 10, 7, 0, 13, 6, 2, 11, 4, 9, 3, 15, 8},
        {0, 12, 8, 9, 13, 2, 10, 11, 7, 3, 6, 5, 4, 14, 15, 1},
        {8, 0, 15, 3, 2, 5, 14, 11, 1, 10, 4, 7, 12, 9, 13, 6},
        {3, 0, 6, 15, 1, 14, 9, 2, 13, 8, 12, 4, 11, 10, 5, 7},
        {1, 10, 6, 8, 15, 11, 0, 4, 12, 3, 5, 9, 7, 13, 2, 14},
    },
    { // id-GostR3411-94-CryptoProParamSet
        {10, 4, 5, 6, 8, 1, 3, 7, 13, 12, 14, 0, 9, 2, 11, 15},
        {5, 15, 4, 0, 2, 13, 11, 9, 1, 7, 6, 3, 12, 14, 10, 8},
        {7, 15, 12, 14, 9, 4, 1, 0, 3, 11, 5, 2, 6, 10, 8, 13},
        {4, 10, 7, 12, 0, 15, 2, 8, 14, 1, 6, 5, 13, 11, 9, 3},
        {7, 6, 4, 11, 9, 12, 2, 10, 1, 8, 0, 14, 15, 13, 3, 5},
        {7, 6, 2, 4, 13, 9, 15, 0, 10, 1, 5, 11, 8, 14, 12, 3},
        {13, 14, 4, 1, 7, 0, 5, 10, 3, 12, 8, 15, 6, 2, 9, 11},
        {1, 3, 10, 9, 5, 11, 4, 15, 8, 6, 7, 14, 13, 0, 2, 12},
    },
    { // id-tc26-gost-28147-param-Z
        {12, 4, 6, 2, 10, 5, 11, 9, 14, 8, 13, 7, 0, 3, 15, 1},
        {6, 8, 2, 3, 9, 10, 5, 12, 1, 14, 4, 7, 11, 13, 0, 15},
        {11, 3, 5, 8, 2, 15, 10, 13, 14, 1, 7, 4, 12, 9, 6, 0},
        {12, 8, 2, 1, 13, 4, 15, 6, 7, 0, 10, 5, 3, 14, 9, 11},
        {7, 15, 5, 10, 8, 1, 6, 13, 0, 9, 3, 14, 11, 4, 2, 12},
        {5, 13, 15, 6, 9, 2, 12, 10, 11, 7, 8, 1, 4, 3, 14, 0},
        {8, 14, 2, 5, 6, 9, 1, 12, 15, 4, 11, 0, 13, 10, 3, 7},
        {1, 7, 14, 13, 0, 5, 8, 3, 4, 15, 10, 6, 9, 12, 11, 2},
    },
};
// clang-format on

void expandSbox(const SboxSet& sbox, RoundTables& out) noexcept
{
    for (unsigned k = 0; k < 4; ++k) {
        for (unsigned x = 0; x < 256; ++x) {
            const std::uint32_t t =
                std::uint32_t(sbox[2 * k][x & 0xF]) | std::uint32_t(sbox[2 * k + 1][x >> 4]) << 4;
            const std::uint32_t v = t << (8 * k);
            out.t[k][x] = v << 11 | v >> 21;
        }
    }
}

} // namespace detail

using detail::RoundTables;

struct gost28147_params {
    static constexpr char TAG[4] = {'!', '!', '!', '!'};
    char tag[4] = {'!', '!', '!', '!'};
    RoundTables tables{};
    bool initialised = false;
};

struct gost28147_ctr_ctx {
    static constexpr char TAG[4] = {'#', '#', '#', '#'};
    char tag[4] = {'#', '#', '#', '#'};
    RoundTables tables{};
    std::uint32_t key[8]{};
    std::uint32_t n3 = 0, n4 = 0;
    unsigned char gamma[32]{};
    std::size_t used = sizeof(gamma); // gamma bytes already consumed
    bool initialised = false;
};

struct gost28147_mac_ctx {
    static constexpr char TAG[4] = {'%', '%', '%', '%'};
    char tag[4] = {'%', '%', '%', '%'};
    RoundTables tables{};
    std::uint32_t key[8]{};
    unsigned char block[8]{}; // chaining block, data XORed in as it arrives
    std::size_t fill = 0;     // bytes of the current partial block
    std::size_t blocks = 0;   // transformed blocks of this message (counted up to 2)
    bool initialised = false;
};

namespace
{

constexpr std::uint32_t C1 = 0x01010104;
constexpr std::uint32_t C2 = 0x01010101;

// Checks the tag, then the initialised flag, of a parameter block handle.
int checkParams(gost28147_params* const* params) noexcept
{
    if (params == nullptr || !detail::hasTag(*params))
        return GOST_ERR_BAD_TAG;
    return (*params)->initialised ? GOST_OK : GOST_ERR_NOT_INITIALISED;
}

template <class T> int checkContext(T** ctx) noexcept
{
    if (ctx == nullptr || !detail::hasTag(*ctx))
        return GOST_ERR_BAD_TAG;
    return (*ctx)->initialised ? GOST_OK : GOST_ERR_NOT_INITIALISED;
}

void loadKey(std::uint32_t* words, const unsigned char* key) noexcept
{
    for (int i = 0; i < 8; ++i)
        words[i] = detail::load32(key + 4 * i);
}

// Four gamma blocks from the next four counter values.
void nextGamma(gost28147_ctr_ctx& c, unsigned char* out) noexcept
{
    std::uint32_t n1[4], n2[4];
    for (int j = 0; j < 4; ++j) {
        c.n3 += C2;
        const std::uint32_t sum = c.n4 + C1;
        c.n4 = sum + (sum < C1 ? 1 : 0); // addition modulo 2^32 - 1
        n1[j] = c.n3;
        n2[j] = c.n4;
    }
    const std::uint32_t* keys[4] = {c.key, c.key, c.key, c.key};
    detail::encryptBlocks<4>(c.tables, keys, n1, n2);
    for (int j = 0; j < 4; ++j) {
        detail::store32(out + 8 * j, n1[j]);
        detail::store32(out + 8 * j + 4, n2[j]);
    }
}

void xorBytes(unsigned char* out, const unsigned char* in, const unsigned char* gamma, std::size_t n) noexcept
{
    for (std::size_t i = 0; i < n; ++i)
        out[i] = in[i] ^ gamma[i];
}

void macBlock(gost28147_mac_ctx& c) noexcept
{
    std::uint32_t n1 = detail::load32(c.block), n2 = detail::load32(c.block + 4);
    detail::macTransform(c.tables, c.key, n1, n2);
    detail::store32(c.block, n1);
    detail::store32(c.block + 4, n2);
    if (c.blocks < 2)
        ++c.blocks;
}

} // namespace

int detail::paramsTables(gost28147_params* const* params, const RoundTables** tables) noexcept
{
    const int rc = checkParams(params);
    if (rc == GOST_OK)
        *tables = &(*params)->tables;
    return rc;
}

gost28147_params* gost28147_params_alloc() noexcept
{
    return detail::allocateContext<gost28147_params>();
}

int gost28147_params_init_default(gost28147_params** params, gost28147_params_id_t id) noexcept
{
    if (params == nullptr || !detail::hasTag(*params))
        return GOST_ERR_BAD_TAG;
    if (id >= detail::SBOX_SET_COUNT)
        return GOST_ERR_UNKNOWN_PARAMS;
    detail::expandSbox(detail::SBOX_SETS[id], (*params)->tables);
    (*params)->initialised = true;
    return GOST_OK;
}

int gost28147_params_free(gost28147_params** params) noexcept
{
    return detail::releaseContext(params);
}

gost28147_ctr_ctx* ctr_alloc() noexcept
{
    return detail::allocateContext<gost28147_ctr_ctx>();
}

int ctr_init(gost28147_ctr_ctx** ctx, gost28147_params* const* params, const unsigned char* iv,
             const unsigned char* key) noexcept
{
    if (ctx == nullptr || !detail::hasTag(*ctx))
        return GOST_ERR_BAD_TAG;
    if (int rc = checkParams(params); rc != GOST_OK)
        return rc;
    if (iv == nullptr || key == nullptr)
        return GOST_ERR_NULL_ARGUMENT;
    gost28147_ctr_ctx& c = **ctx;
    c.tables = (*params)->tables;
    loadKey(c.key, key);
    unsigned char s[8];
    detail::encryptBlock(c.tables, c.key, iv, s);
    c.n3 = detail::load32(s);
    c.n4 = detail::load32(s + 4);
    bs::secureZero(c.gamma, sizeof(c.gamma));
    c.used = sizeof(c.gamma);
    c.initialised = true;
    return GOST_OK;
}

int ctr_crypt(gost28147_ctr_ctx** ctx, const unsigned char* in, unsigned char* out,
              std::size_t length) noexcept
{
    if (int rc = checkContext(ctx); rc != GOST_OK)
        return rc;
    if (length == 0)
        return GOST_OK;
    if (in == nullptr || out == nullptr)
        return GOST_ERR_NULL_ARGUMENT;
    const auto a = reinterpret_cast<std::uintptr_t>(in);
    const auto b = reinterpret_cast<std::uintptr_t>(out);
    if (a != b && a < b + length && b < a + length)
        return GOST_ERR_OVERLAP;

    gost28147_ctr_ctx& c = **ctx;
    // Rest of the previous batch of gamma.
    if (c.used < sizeof(c.gamma)) {
        const std::size_t n = std::min(length, sizeof(c.gamma) - c.used);
        xorBytes(out, in, c.gamma + c.used, n);
        c.used += n;
        in += n;
        out += n;
        length -= n;
    }
    // Whole batches straight into the output.
    unsigned char gamma[32];
    while (length >= sizeof(gamma)) {
        nextGamma(c, gamma);
        xorBytes(out, in, gamma, sizeof(gamma));
        in += sizeof(gamma);
        out += sizeof(gamma);
        length -= sizeof(gamma);
    }
    bs::secureZero(gamma, sizeof(gamma));
    // A partial batch keeps its unused bytes for the next call.
    if (length > 0) {
        nextGamma(c, c.gamma);
        xorBytes(out, in, c.gamma, length);
        c.used = length;
    }
    return GOST_OK;
}

int ctr_free(gost28147_ctr_ctx** ctx) noexcept
{
    return detail::releaseContext(ctx);
}

gost28147_mac_ctx* mac_alloc() noexcept
{
    return detail::allocateContext<gost28147_mac_ctx>();
}

int mac_init(gost28147_mac_ctx** ctx, gost28147_params* const* params, const unsigned char* key) noexcept
{
    if (ctx == nullptr || !detail::hasTag(*ctx))
        return GOST_ERR_BAD_TAG;
    if (int rc = checkParams(params); rc != GOST_OK)
        return rc;
    if (key == nullptr)
        return GOST_ERR_NULL_ARGUMENT;
    gost28147_mac_ctx& c = **ctx;
    c.tables = (*params)->tables;
    loadKey(c.key, key);
    std::memset(c.block, 0, sizeof(c.block));
    c.fill = 0;
    c.blocks = 0;
    c.initialised = true;
    return GOST_OK;
}

int mac_update(gost28147_mac_ctx** ctx, const unsigned char* data, std::size_t length) noexcept
{
    if (int rc = checkContext(ctx); rc != GOST_OK)
        return rc;
    if (length == 0)
        return GOST_OK;
    if (data == nullptr)
        return GOST_ERR_NULL_ARGUMENT;
    gost28147_mac_ctx& c = **ctx;
    for (std::size_t i = 0; i < length; ++i) {
        c.block[c.fill++] ^= data[i];
        if (c.fill == sizeof(c.block)) {
            macBlock(c);
            c.fill = 0;
        }
    }
    return GOST_OK;
}

int mac_dofinal(gost28147_mac_ctx** ctx, unsigned char* out) noexcept
{
    if (int rc = checkContext(ctx); rc != GOST_OK)
        return rc;
    if (out == nullptr)
        return GOST_ERR_NULL_ARGUMENT;
    gost28147_mac_ctx& c = **ctx;
    if (c.fill > 0) // the missing bytes of a partial block are zero
        macBlock(c);
    if (c.blocks == 1) // the standard asks for at least two blocks: add a zero block
        macBlock(c);
    std::memcpy(out, c.block, GOST28147_MAC_SIZE);
    std::memset(c.block, 0, sizeof(c.block));
    c.fill = 0;
    c.blocks = 0;
    return GOST_OK;
}

int mac_free(gost28147_mac_ctx** ctx) noexcept
{
    return detail::releaseContext(ctx);
}

Gost28147Params::Gost28147Params(gost28147_params_id_t id)
{
    if (id >= detail::SBOX_SET_COUNT)
        throw Gost28147ParamsUnknown();
    m_params = detail::openContext<Gost28147ParamsUnknown>(
        gost28147_params_alloc, gost28147_params_free,
        [id](gost28147_params** p) { return gost28147_params_init_default(p, id); });
}

Gost28147Params::~Gost28147Params()
{
    gost28147_params_free(&m_params);
}

Gost28147CTR::Gost28147CTR(const Gost28147Params& params, const std::vector<unsigned char>& iv,
                           const std::vector<unsigned char>& key)
{
    if (iv.size() != GOST28147_IV_SIZE || key.size() != GOST28147_KEY_SIZE)
        throw Gost28147CTRError();
    m_ctx = detail::openContext<Gost28147CTRError>(ctr_alloc, ctr_free, [&](gost28147_ctr_ctx** ctx) {
        return ctr_init(ctx, params.get(), iv.data(), key.data());
    });
}

Gost28147CTR::~Gost28147CTR()
{
    ctr_free(&m_ctx);
}

std::vector<unsigned char> Gost28147CTR::crypt(const std::vector<unsigned char>& data)
{
    std::vector<unsigned char> out(data.size());
    if (ctr_crypt(&m_ctx, data.data(), out.data(), data.size()) != GOST_OK)
        throw Gost28147CTRError();
    return out;
}

Gost28147MAC::Gost28147MAC(const Gost28147Params& params, const std::vector<unsigned char>& key)
{
    if (key.size() != GOST28147_KEY_SIZE)
        throw Gost28147MACError();
    m_ctx = detail::openContext<Gost28147MACError>(mac_alloc, mac_free, [&](gost28147_mac_ctx** ctx) {
        return mac_init(ctx, params.get(), key.data());
    });
}

Gost28147MAC::~Gost28147MAC()
{
    mac_free(&m_ctx);
}

void Gost28147MAC::update(const std::vector<unsigned char>& data)
{
    if (mac_update(&m_ctx, data.data(), data.size()) != GOST_OK)
        throw Gost28147MACError();
}

std::vector<unsigned char> Gost28147MAC::dofinal()
{
    std::vector<unsigned char> out(GOST28147_MAC_SIZE);
    if (mac_dofinal(&m_ctx, out.data()) != GOST_OK)
        throw Gost28147MACError();
    return out;
}

std::vector<unsigned char> encrypt(const std::vector<unsigned char>& data,
                                   const std::vector<unsigned char>& iv,
                                   const std::vector<unsigned char>& key)
{
    const Gost28147Params params(GOST28147_PARAMS_GOSTR3411_CRYPTOPRO);
    Gost28147CTR ctr(params, iv, key);
    return ctr.crypt(data);
}

} // namespace icrypto
