// Binary codecs: Base64 (standard and URL-safe alphabets) and hexadecimal;
// and the reading of a boolean text.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace conv
{

// Base64, standard alphabet, padded with "=", no line breaks.
std::string binary_to_base64(const std::vector<unsigned char>& data);
std::string binary_to_base64(const unsigned char* data, std::size_t size);
std::string string_to_base64(std::string_view text);

// Base64 with the URL-safe alphabet ("-" and "_"), padded with "=" as well.
std::string binary_to_base64UrlSafe(const std::vector<unsigned char>& data);

// Strict decoding. CR and LF are skipped anywhere; any other character that
// is not of the alphabet ends the data, and what follows it must be "="
// padding only (at most 3). Leftover bits must be zero and the characters
// that count (padding included) a multiple of 4. Otherwise
// std::invalid_argument with the catalogue text "BS-0001".
std::vector<unsigned char> base64_to_binary(std::string_view text);
std::string base64_to_string(std::string_view text);
std::vector<unsigned char> base64UrlSafe_to_binary(std::string_view text);

// Upper-case hex, two digits a byte.
std::string bytes_to_hex(const std::vector<unsigned char>& data);
std::string bytes_to_hex(const unsigned char* data, std::size_t size);

// Accepts both cases. Empty text gives no bytes; an odd length or a
// character that is not a hex digit throws std::invalid_argument with the
// catalogue text "BS-0005".
std::vector<unsigned char> hex_to_bytes(std::string_view text);

// Upper-case hex of the low `byteCount` bytes of `value`, most significant
// first. Without `keepLeadingZeros` the leading zero digits are dropped
// (so 0 gives an empty string); afterwards every byte gives two digits.
std::string int_to_hex(unsigned long long value, unsigned char byteCount, bool keepLeadingZeros);

// true exactly for "true" after trimming, in any case.
bool str_to_bool(std::string_view text);

// The bytes read as characters of type Char in the machine's byte order
// (for wchar_t, four bytes a character); a trailing partial character is
// left out.
template <class Char> std::basic_string<Char> binary_to_str(const std::vector<unsigned char>& data)
{
    std::basic_string<Char> out(data.size() / sizeof(Char), Char());
    if (!out.empty()) {
        std::memcpy(out.data(), data.data(), out.size() * sizeof(Char));
    }
    return out;
}

} // namespace conv

// Hexadecimal for very large buffers: above HEX_BLOCK units the work is split
// over the hardware threads, and every part is joined before returning.
namespace parallel
{

inline constexpr std::size_t HEX_BLOCK = 0xA00000; // 10 485 760

std::string bytes_to_hex(const std::vector<unsigned char>& data);

// As conv::hex_to_bytes; an invalid character in any part is rethrown to the
// caller after all parts have finished.
std::vector<unsigned char> hex_to_bytes(std::string_view text);

// Share of one part: `total` when `parts` < 2, else total / parts, made even
// (one less) when `even` is set and the quotient is odd.
std::size_t blockSize(std::size_t total, std::size_t parts, bool even);

} // namespace parallel
