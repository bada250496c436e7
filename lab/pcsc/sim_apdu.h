// Command APDUs as a card sees them: short and extended forms, all four cases.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lab
{

using bytes = std::vector<std::uint8_t>;

struct CardCommand {
    std::uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    bytes data;
    int le = -1; // -1 absent; 256 or 65536 for a zero Le
    bool extended = false;
};

// std::nullopt when the length bytes do not match the size of the APDU.
std::optional<CardCommand> parseCommand(const bytes& apdu);

// What a card of the 00/80 class families answers before it looks at the
// instruction: 6700 when the length bytes are wrong, 6E00 for any other class;
// std::nullopt for a command it goes on to handle.
std::optional<bytes> refuseCommand(const std::optional<CardCommand>& cmd);

bytes withSw(bytes data, std::uint16_t sw);
bytes swOnly(std::uint16_t sw);

std::string toHex(const bytes& data);
// Throws std::invalid_argument on odd length or a non-hex character.
bytes fromHex(const std::string& text);

// Simple TLV list (one-byte tag, one-byte or 00 hi lo length) as the
// confirmation token's commands use it; std::nullopt when malformed.
std::optional<std::vector<std::pair<std::uint8_t, bytes>>> parseShortTlvs(const bytes& data);

// ATR with its check byte appended (XOR of every byte after TS).
bytes withTck(bytes atr);

} // namespace lab
