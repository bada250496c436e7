#include "icrypto/gost3411.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "icrypto/errors.h"
#include "icrypto/gost28147_core.h"

namespace icrypto
{

using detail::RoundTables;

// 256-bit values are held as four 64-bit words, least significant first.
struct gost3411_ctx {
    static constexpr char TAG[4] = {'1', '1', '1', '1'};
    char tag[4] = {'1', '1', '1', '1'};
    RoundTables tables{};
    std::uint64_t start[4]{};
    std::uint64_t h[4]{};
    std::uint64_t sigma[4]{};
    std::uint64_t length[4]{}; // message length in bits
    unsigned char buffer[32]{};
    std::size_t fill = 0;
    bool initialised = false;
};

namespace
{

// The mixing transform psi acts on sixteen 16-bit words (word 0 least
// significant): it shifts every word down by one and puts
// w0 ^ w1 ^ w2 ^ w3 ^ w12 ^ w15 on top. It is linear, so any power of it is
// a fixed matrix: output word j is the XOR of the input words whose bits are
// set in row[j].
struct WordMatrix {
    std::uint16_t row[16];
};

constexpr WordMatrix psiPower(int k)
{
    WordMatrix m{};
    for (int j = 0; j < 16; ++j)
        m.row[j] = static_cast<std::uint16_t>(1u << j);
    for (int step = 0; step < k; ++step) {
        WordMatrix n{};
        for (int j = 0; j < 15; ++j)
            n.row[j] = m.row[j + 1];
        n.row[15] =
            static_cast<std::uint16_t>(m.row[0] ^ m.row[1] ^ m.row[2] ^ m.row[3] ^ m.row[12] ^ m.row[15]);
        m = n;
    }
    return m;
}

constexpr WordMatrix PSI13 = psiPower(13);
constexpr WordMatrix PSI61 = psiPower(61);

template <std::uint16_t Mask, std::size_t... I>
inline std::uint16_t combine(const std::uint16_t* in, std::index_sequence<I...>) noexcept
{
    return static_cast<std::uint16_t>(((((Mask >> I) & 1u) ? in[I] : 0u) ^ ...));
}

template <const WordMatrix& M, std::size_t... J>
inline void applyMatrix(const std::uint16_t* in, std::uint16_t* out, std::index_sequence<J...>) noexcept
{
    ((out[J] = combine<M.row[J]>(in, std::make_index_sequence<16>{})), ...);
}

template <const WordMatrix& M> inline void apply(const std::uint16_t* in, std::uint16_t* out) noexcept
{
    applyMatrix<M>(in, out, std::make_index_sequence<16>{});
}

inline void toWords16(const std::uint64_t* x, std::uint16_t* w) noexcept
{
    for (int i = 0; i < 16; ++i)
        w[i] = static_cast<std::uint16_t>(x[i / 4] >> (16 * (i % 4)));
}

// Constant C3 of the key generation (C2 and C4 are zero).
constexpr std::uint64_t C3[4] = {0xff00ff00ff00ff00ULL, 0x00ff00ff00ff00ffULL, 0xff0000ff00ffff00ULL,
                                 0xff00ffff000000ffULL};

// Transform P: byte 4m + i of the key is byte 8i + m of w; as key words,
// word m gathers byte m of each 64-bit word.
inline void keyFromP(const std::uint64_t* w, std::uint32_t* key) noexcept
{
    for (int m = 0; m < 8; ++m)
        key[m] = std::uint32_t((w[0] >> (8 * m)) & 0xFF) | std::uint32_t((w[1] >> (8 * m)) & 0xFF) << 8 |
                 std::uint32_t((w[2] >> (8 * m)) & 0xFF) << 16 |
                 std::uint32_t((w[3] >> (8 * m)) & 0xFF) << 24;
}

// One step of the hash: H = f(H, M).
void step(const RoundTables& r, std::uint64_t* h, const std::uint64_t* m) noexcept
{
    std::uint32_t keys[4][8];
    std::uint64_t u[4] = {h[0], h[1], h[2], h[3]};
    std::uint64_t v[4] = {m[0], m[1], m[2], m[3]};
    std::uint64_t w[4];
    for (int i = 0; i < 4; ++i)
        w[i] = u[i] ^ v[i];
    keyFromP(w, keys[0]);
    for (int k = 1; k < 4; ++k) {
        // U = A(U) ^ C, V = A(A(V)), with A(y4|y3|y2|y1) = (y1^y2)|y4|y3|y2.
        const std::uint64_t a = u[0] ^ u[1];
        u[0] = u[1];
        u[1] = u[2];
        u[2] = u[3];
        u[3] = a;
        if (k == 2) {
            for (int i = 0; i < 4; ++i)
                u[i] ^= C3[i];
        }
        const std::uint64_t b0 = v[0] ^ v[1], b1 = v[1] ^ v[2];
        v[0] = v[2];
        v[1] = v[3];
        v[2] = b0;
        v[3] = b1;
        for (int i = 0; i < 4; ++i)
            w[i] = u[i] ^ v[i];
        keyFromP(w, keys[k]);
    }

    // Each 64-bit word of H is encrypted with its own key.
    std::uint32_t n1[4], n2[4];
    for (int j = 0; j < 4; ++j) {
        n1[j] = static_cast<std::uint32_t>(h[j]);
        n2[j] = static_cast<std::uint32_t>(h[j] >> 32);
    }
    const std::uint32_t* keyPtrs[4] = {keys[0], keys[1], keys[2], keys[3]};
    detail::encryptBlocks<4>(r, keyPtrs, n1, n2);
    std::uint64_t s[4];
    for (int j = 0; j < 4; ++j)
        s[j] = std::uint64_t(n1[j]) | std::uint64_t(n2[j]) << 32;

    // H' = psi^61(H ^ psi(M ^ psi^12(S))) = psi^61(H ^ psi(M) ^ psi^13(S)).
    std::uint16_t sw[16], mw[16], hw[16], t[16], out[16];
    toWords16(s, sw);
    toWords16(m, mw);
    toWords16(h, hw);
    apply<PSI13>(sw, t);
    for (int j = 0; j < 15; ++j)
        t[j] ^= hw[j] ^ mw[j + 1];
    t[15] ^= hw[15] ^ mw[0] ^ mw[1] ^ mw[2] ^ mw[3] ^ mw[12] ^ mw[15];
    apply<PSI61>(t, out);
    for (int i = 0; i < 4; ++i)
        h[i] = std::uint64_t(out[4 * i]) | std::uint64_t(out[4 * i + 1]) << 16 |
               std::uint64_t(out[4 * i + 2]) << 32 | std::uint64_t(out[4 * i + 3]) << 48;
}

inline void add256(std::uint64_t* acc, const std::uint64_t* x) noexcept
{
    unsigned carry = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint64_t s = acc[i] + x[i];
        const unsigned c1 = s < x[i];
        acc[i] = s + carry;
        carry = c1 | (acc[i] < s);
    }
}

inline void addLength(std::uint64_t* length, std::uint64_t bits) noexcept
{
    const std::uint64_t add[4] = {bits, 0, 0, 0};
    add256(length, add);
}

inline void load256(const unsigned char* p, std::uint64_t* x) noexcept
{
    for (int i = 0; i < 4; ++i)
        x[i] = std::uint64_t(detail::load32(p + 8 * i)) | std::uint64_t(detail::load32(p + 8 * i + 4)) << 32;
}

void processBlock(gost3411_ctx& c, const unsigned char* block) noexcept
{
    std::uint64_t m[4];
    load256(block, m);
    add256(c.sigma, m);
    addLength(c.length, 256);
    step(c.tables, c.h, m);
}

void resetState(gost3411_ctx& c) noexcept
{
    std::memcpy(c.h, c.start, sizeof(c.h));
    bs::secureZero(c.sigma, sizeof(c.sigma));
    bs::secureZero(c.length, sizeof(c.length));
    bs::secureZero(c.buffer, sizeof(c.buffer));
    c.fill = 0;
}

int checkContext(gost3411_ctx** ctx) noexcept
{
    if (ctx == nullptr || !detail::hasTag(*ctx))
        return GOST_ERR_BAD_TAG;
    return (*ctx)->initialised ? GOST_OK : GOST_ERR_NOT_INITIALISED;
}

} // namespace

gost3411_ctx* digest_alloc() noexcept
{
    return detail::allocateContext<gost3411_ctx>();
}

int digest_init(gost3411_ctx** ctx, gost28147_params* const* params,
                const unsigned char* startVector) noexcept
{
    if (ctx == nullptr || !detail::hasTag(*ctx))
        return GOST_ERR_BAD_TAG;
    const RoundTables* tables = nullptr;
    if (int rc = detail::paramsTables(params, &tables); rc != GOST_OK)
        return rc;
    if (startVector == nullptr)
        return GOST_ERR_NULL_ARGUMENT;
    gost3411_ctx& c = **ctx;
    c.tables = *tables;
    load256(startVector, c.start);
    resetState(c);
    c.initialised = true;
    return GOST_OK;
}

int digest_update(gost3411_ctx** ctx, const unsigned char* data, std::size_t length) noexcept
{
    if (int rc = checkContext(ctx); rc != GOST_OK)
        return rc;
    if (length == 0)
        return GOST_OK;
    if (data == nullptr)
        return GOST_ERR_NULL_ARGUMENT;
    gost3411_ctx& c = **ctx;
    // A full buffer is processed only once more input arrives, so the last
    // block of the message always reaches dofinal.
    if (c.fill == sizeof(c.buffer)) {
        processBlock(c, c.buffer);
        c.fill = 0;
    }
    if (c.fill > 0) {
        const std::size_t n = std::min(length, sizeof(c.buffer) - c.fill);
        std::memcpy(c.buffer + c.fill, data, n);
        c.fill += n;
        data += n;
        length -= n;
        if (length == 0)
            return GOST_OK;
        processBlock(c, c.buffer);
        c.fill = 0;
    }
    while (length > sizeof(c.buffer)) {
        processBlock(c, data);
        data += sizeof(c.buffer);
        length -= sizeof(c.buffer);
    }
    std::memcpy(c.buffer, data, length);
    c.fill = length;
    return GOST_OK;
}

int digest_dofinal(gost3411_ctx** ctx, unsigned char* out) noexcept
{
    if (int rc = checkContext(ctx); rc != GOST_OK)
        return rc;
    if (out == nullptr)
        return GOST_ERR_NULL_ARGUMENT;
    gost3411_ctx& c = **ctx;
    // The last block, zero-padded (all zero for the empty message), with its
    // true length; then the length and the control sum.
    std::memset(c.buffer + c.fill, 0, sizeof(c.buffer) - c.fill);
    std::uint64_t m[4];
    load256(c.buffer, m);
    add256(c.sigma, m);
    addLength(c.length, 8 * static_cast<std::uint64_t>(c.fill));
    step(c.tables, c.h, m);
    step(c.tables, c.h, c.length);
    step(c.tables, c.h, c.sigma);
    for (int i = 0; i < 32; ++i)
        out[31 - i] = static_cast<unsigned char>(c.h[i / 8] >> (8 * (i % 8)));
    bs::secureZero(m, sizeof(m));
    resetState(c);
    return GOST_OK;
}

int digest_free(gost3411_ctx** ctx) noexcept
{
    return detail::releaseContext(ctx);
}

Gost3411::Gost3411(const Gost28147Params& params, const std::vector<unsigned char>& startVector)
{
    if (startVector.size() != GOST3411_SIZE)
        throw Gost3411Error();
    m_ctx = detail::openContext<Gost3411Error>(digest_alloc, digest_free, [&](gost3411_ctx** ctx) {
        return digest_init(ctx, params.get(), startVector.data());
    });
}

Gost3411::~Gost3411()
{
    digest_free(&m_ctx);
}

void Gost3411::update(const std::vector<unsigned char>& data)
{
    update(data.data(), data.size());
}

void Gost3411::update(const unsigned char* data, std::size_t length)
{
    if (digest_update(&m_ctx, data, length) != GOST_OK)
        throw Gost3411Error();
}

std::vector<unsigned char> Gost3411::dofinal(Endian endian)
{
    if (endian != Endian::Big && endian != Endian::Little)
        throw Gost3411Error();
    std::vector<unsigned char> out(GOST3411_SIZE);
    if (digest_dofinal(&m_ctx, out.data()) != GOST_OK)
        throw Gost3411Error();
    if (endian == Endian::Big)
        std::reverse(out.begin(), out.end());
    return out;
}

std::vector<unsigned char> gost3411Digest(const std::vector<unsigned char>& data)
{
    const Gost28147Params params(GOST28147_PARAMS_GOSTR3411_TEST);
    Gost3411 hash(params, std::vector<unsigned char>(GOST3411_SIZE, 0));
    hash.update(data);
    return hash.dofinal(Endian::Little);
}

} // namespace icrypto
