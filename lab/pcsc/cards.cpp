#include "cards.h"

#include <algorithm>
#include <stdexcept>

#include <gcrypt.h>

#include "token_cards.h"
#include "vel_card.h"

namespace lab
{
namespace
{

bytes pattern(std::size_t n)
{
    bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(i & 0xFF);
    }
    return out;
}

// A card of no known make: answers every command with "instruction not supported".
class UnknownCard : public Card
{
  public:
    bytes atr() override
    {
        // A generic contact card offering T=1.
        return withTck({0x3B, 0x88, 0x01, 'L', 'A', 'B', 'O', 'T', 'H', 'E', 'R'});
    }
    std::optional<bytes> process(const bytes&) override { return swOnly(0x6D00); }
};

// Presents an ATR, then never answers a command.
class MuteCard : public UnknownCard
{
  public:
    std::optional<bytes> process(const bytes&) override { return std::nullopt; }
};

// The MS_KEY K Angara card is reached through its PKCS#11 module only; on
// the card interface it shows its ATR.
class MsKeyCard : public Card
{
  public:
    bytes atr() override
    {
        return {0x3B, 0x9E, 0x96, 0x00, 0x80, 0x31, 0xC0, 0x65, 0x4D,
                0x53, 0x00, 0x00, 0x00, 0x72, 0xF7, 0x41, 0x81, 0x07};
    }
    std::optional<bytes> process(const bytes& apdu) override
    {
        const auto cmd = parseCommand(apdu);
        if (!cmd) {
            return swOnly(0x6700);
        }
        return swOnly(cmd->cla == 0x00 || cmd->cla == 0x80 ? 0x6D00 : 0x6E00);
    }
};

// A card for exercising the reader access layer itself:
//   INS 12: reports how the command arrived: extended flag, Lc (2 bytes),
//           Le (2 bytes, FFFF when absent), then SHA-256 of the data;
//   INS 61: prepares P1 bytes (0 = 256) and answers 61 P1; GET RESPONSE
//           (INS C0) then hands them out;
//   INS 6C: answers 6C P1 unless the command's Le is P1, then P1 bytes;
//   INS EE: answers with the status word P1 P2 and no data;
//   INS 4C: answers P1 P2 bytes of data (longer than a short buffer holds).
// Data returned is 00 01 02 ... FF 00 ...
class TestCard : public Card
{
  public:
    explicit TestCard(bool t0) : m_t0(t0) {}

    bytes atr() override
    {
        if (m_t0) {
            return {0x3B, 0x05, 'L', 'A', 'B', 'T', '0'}; // no interface bytes: T=0 only
        }
        return withTck({0x3B, 0x85, 0x01, 'L', 'A', 'B', 'T', '1'}); // TD1 = 01: T=1 only
    }

    void powerOff() override { m_pending.clear(); }

    std::optional<bytes> process(const bytes& apdu) override
    {
        const auto cmd = parseCommand(apdu);
        if (auto refusal = refuseCommand(cmd)) {
            return refusal;
        }
        switch (cmd->ins) {
        case 0xC0: {
            if (m_pending.empty()) {
                return swOnly(0x6985);
            }
            const std::size_t n = std::min<std::size_t>(cmd->le < 0 ? 256 : cmd->le, m_pending.size());
            bytes out(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
            m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
            if (!m_pending.empty()) {
                return withSw(out, static_cast<std::uint16_t>(0x6100 | (m_pending.size() & 0xFF)));
            }
            return withSw(out, 0x9000);
        }
        case 0x12: {
            const std::size_t lc = cmd->data.size();
            bytes out{static_cast<std::uint8_t>(cmd->extended), static_cast<std::uint8_t>(lc >> 8),
                      static_cast<std::uint8_t>(lc & 0xFF)};
            const unsigned le = cmd->le < 0 ? 0xFFFF : static_cast<unsigned>(cmd->le);
            out.push_back(static_cast<std::uint8_t>(le >> 8));
            out.push_back(static_cast<std::uint8_t>(le & 0xFF));
            bytes digest(32);
            gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), cmd->data.data(), cmd->data.size());
            out.insert(out.end(), digest.begin(), digest.end());
            return withSw(out, 0x9000);
        }
        case 0x61:
            m_pending = pattern(cmd->p1 == 0 ? 256 : cmd->p1);
            return swOnly(static_cast<std::uint16_t>(0x6100 | cmd->p1));
        case 0x6C: {
            const int wanted = cmd->p1 == 0 ? 256 : cmd->p1;
            if (cmd->le != wanted) {
                return swOnly(static_cast<std::uint16_t>(0x6C00 | cmd->p1));
            }
            return withSw(pattern(static_cast<std::size_t>(wanted)), 0x9000);
        }
        case 0xEE:
            return swOnly(static_cast<std::uint16_t>(cmd->p1 << 8 | cmd->p2));
        case 0x4C:
            return withSw(pattern(static_cast<std::size_t>(cmd->p1 << 8 | cmd->p2)), 0x9000);
        default:
            return swOnly(0x6D00);
        }
    }

  private:
    bool m_t0;
    bytes m_pending;
};

} // namespace

std::unique_ptr<Card> makeCard(const CardOptions& options)
{
    const std::string& kind = options.kind;
    if (kind == "unknown") {
        return std::make_unique<UnknownCard>();
    }
    if (kind == "mute") {
        return std::make_unique<MuteCard>();
    }
    if (kind == "mskey") {
        return std::make_unique<MsKeyCard>();
    }
    if (kind == "test" || kind == "test-t0") {
        return std::make_unique<TestCard>(kind == "test-t0");
    }
    if (kind == "vel") {
        return makeVelCard(options.stateDir, options.device);
    }
    if (kind == "rutoken" || kind == "jacarta") {
        return makeTokenCard(kind, options.stateDir, options.device);
    }
    throw std::invalid_argument("unknown card kind '" + kind + "'");
}

} // namespace lab
