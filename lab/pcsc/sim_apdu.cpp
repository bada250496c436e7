#include "sim_apdu.h"

#include <stdexcept>

namespace lab
{

std::optional<CardCommand> parseCommand(const bytes& apdu)
{
    const std::size_t n = apdu.size();
    if (n < 4) {
        return std::nullopt;
    }
    CardCommand c;
    c.cla = apdu[0];
    c.ins = apdu[1];
    c.p1 = apdu[2];
    c.p2 = apdu[3];
    if (n == 4) {
        return c;
    }
    if (n == 5) {
        c.le = apdu[4] == 0 ? 256 : apdu[4];
        return c;
    }
    if (apdu[4] != 0) {
        const std::size_t lc = apdu[4];
        if (n != 5 + lc && n != 6 + lc) {
            return std::nullopt;
        }
        c.data.assign(apdu.begin() + 5, apdu.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
        if (n == 6 + lc) {
            c.le = apdu[n - 1] == 0 ? 256 : apdu[n - 1];
        }
        return c;
    }
    // Extended form: 00 followed by two length bytes.
    if (n < 7) {
        return std::nullopt;
    }
    c.extended = true;
    const std::size_t first = static_cast<std::size_t>(apdu[5]) << 8 | apdu[6];
    if (n == 7) {
        c.le = first == 0 ? 65536 : static_cast<int>(first);
        return c;
    }
    const std::size_t lc = first;
    if (lc == 0 || (n != 7 + lc && n != 9 + lc)) {
        return std::nullopt;
    }
    c.data.assign(apdu.begin() + 7, apdu.begin() + 7 + static_cast<std::ptrdiff_t>(lc));
    if (n == 9 + lc) {
        const int le = apdu[n - 2] << 8 | apdu[n - 1];
        c.le = le == 0 ? 65536 : le;
    }
    return c;
}

bytes withSw(bytes data, std::uint16_t sw)
{
    data.push_back(static_cast<std::uint8_t>(sw >> 8));
    data.push_back(static_cast<std::uint8_t>(sw & 0xFF));
    return data;
}

bytes swOnly(std::uint16_t sw)
{
    return withSw({}, sw);
}

std::optional<bytes> refuseCommand(const std::optional<CardCommand>& cmd)
{
    if (!cmd) {
        return swOnly(0x6700);
    }
    if (cmd->cla != 0x00 && cmd->cla != 0x80) {
        return swOnly(0x6E00);
    }
    return std::nullopt;
}

std::string toHex(const bytes& data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(data.size() * 2);
    for (auto b : data) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

static int nibble(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bytes fromHex(const std::string& text)
{
    if (text.size() % 2 != 0) {
        throw std::invalid_argument("odd number of hex digits");
    }
    bytes out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]);
        const int lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) {
            throw std::invalid_argument("not a hex digit in '" + text + "'");
        }
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return out;
}

std::optional<std::vector<std::pair<std::uint8_t, bytes>>> parseShortTlvs(const bytes& data)
{
    std::vector<std::pair<std::uint8_t, bytes>> out;
    std::size_t pos = 0;
    while (pos < data.size()) {
        if (data.size() - pos < 2) {
            return std::nullopt;
        }
        const std::uint8_t tag = data[pos];
        std::size_t len = data[pos + 1];
        pos += 2;
        if (len == 0 && data.size() - pos >= 2) {
            // 00 hi lo: the long form used from 256 bytes on.
            const std::size_t longLen = static_cast<std::size_t>(data[pos]) << 8 | data[pos + 1];
            if (longLen >= 256) {
                len = longLen;
                pos += 2;
            }
        }
        if (data.size() - pos < len) {
            return std::nullopt;
        }
        out.emplace_back(tag, bytes(data.begin() + static_cast<std::ptrdiff_t>(pos),
                                    data.begin() + static_cast<std::ptrdiff_t>(pos + len)));
        pos += len;
    }
    return out;
}

bytes withTck(bytes atr)
{
    std::uint8_t tck = 0;
    for (std::size_t i = 1; i < atr.size(); ++i) {
        tck ^= atr[i];
    }
    atr.push_back(tck);
    return atr;
}

} // namespace lab
