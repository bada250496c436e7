// The octet vector every codec of the library works on.
#pragma once

#include <cstdint>
#include <vector>

using bytes = std::vector<std::uint8_t>;
