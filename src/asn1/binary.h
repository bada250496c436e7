// Integer and truth-value conversions to and from big-endian octets.
#pragma once

#include <cstdint>

#include "asn1/bytes.h"

namespace conv
{

// Big-endian octets of `value` without leading zero octets (at least one).
bytes int_to_binary(std::uint64_t value);
// One octet: FF for true, 00 for false.
bytes bool_to_binary(bool value);
// Up to 8 big-endian octets to an integer; shorter input is left-padded with
// zeros, longer input uses its first 8 octets.
std::uint64_t binary_to_int(const bytes& data);

} // namespace conv
