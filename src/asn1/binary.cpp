#include "asn1/binary.h"

#include <algorithm>

namespace conv
{

bytes int_to_binary(std::uint64_t value)
{
    bytes out(8);
    for (int i = 7; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
    const auto first = std::find_if(out.begin(), out.end() - 1, [](std::uint8_t b) { return b != 0; });
    return bytes(first, out.end());
}

bytes bool_to_binary(bool value)
{
    return bytes{static_cast<std::uint8_t>(value ? 0xFF : 0x00)};
}

std::uint64_t binary_to_int(const bytes& data)
{
    const std::size_t n = std::min<std::size_t>(data.size(), 8);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        value = (value << 8) | data[i];
    }
    return value;
}

} // namespace conv
