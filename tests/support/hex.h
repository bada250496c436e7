// Bytes from hex text, for the expected encodings the tests spell out.
#pragma once

#include <string_view>

#include "base/conv.h"

inline bytes hex(std::string_view text)
{
    return conv::hex_to_bytes(text);
}
