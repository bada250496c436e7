#include "base/conv.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <future>
#include <stdexcept>
#include <thread>

#include "base/errors.h"
#include "base/strings.h"

namespace conv
{

namespace
{

constexpr char STANDARD_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char URL_SAFE_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

constexpr std::int32_t SKIP = -2;    // CR and LF
constexpr std::int32_t INVALID = -1; // ends the data part

using DecodeTable = std::array<std::int32_t, 256>;

constexpr DecodeTable makeDecodeTable(const char* alphabet)
{
    DecodeTable table{};
    for (auto& entry : table) {
        entry = INVALID;
    }
    for (std::int32_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = i;
    }
    table['\r'] = SKIP;
    table['\n'] = SKIP;
    return table;
}

constexpr DecodeTable STANDARD_TABLE = makeDecodeTable(STANDARD_ALPHABET);
constexpr DecodeTable URL_SAFE_TABLE = makeDecodeTable(URL_SAFE_ALPHABET);

std::string encodeBase64(const unsigned char* data, std::size_t size, const char* alphabet)
{
    std::string out((size + 2) / 3 * 4, '\0');
    char* p = out.data();
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t group =
            (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
        p[0] = alphabet[(group >> 18) & 0x3F];
        p[1] = alphabet[(group >> 12) & 0x3F];
        p[2] = alphabet[(group >> 6) & 0x3F];
        p[3] = alphabet[group & 0x3F];
        p += 4;
    }
    const std::size_t rest = size - i;
    if (rest != 0) {
        // A remainder of 2 or 4 bits is padded with zero bits, then "=" fills
        // the group of four.
        const std::uint32_t group =
            (std::uint32_t{data[i]} << 16) | (rest == 2 ? std::uint32_t{data[i + 1]} << 8 : 0);
        p[0] = alphabet[(group >> 18) & 0x3F];
        p[1] = alphabet[(group >> 12) & 0x3F];
        p[2] = rest == 2 ? alphabet[(group >> 6) & 0x3F] : '=';
        p[3] = '=';
    }
    return out;
}

[[noreturn]] void throwNotBase64()
{
    throw bs::standardError<std::invalid_argument>(bs::localization, "BS-0001");
}

[[noreturn]] void throwNotHex()
{
    throw bs::standardError<std::invalid_argument>(bs::localization, "BS-0005");
}

template <class Out> void decodeBase64(std::string_view text, const DecodeTable& table, Out& out)
{
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    unsigned bitCount = 0;
    std::size_t counted = 0; // characters that were not skipped
    std::size_t pos = 0;
    for (; pos < text.size(); ++pos) {
        const std::int32_t value = table[static_cast<unsigned char>(text[pos])];
        if (value == SKIP) {
            continue;
        }
        if (value == INVALID) {
            break;
        }
        ++counted;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out.push_back(static_cast<typename Out::value_type>((bits >> bitCount) & 0xFF));
        }
    }
    if (bitCount >= 6 || (bits & ((1u << bitCount) - 1)) != 0) {
        throwNotBase64();
    }
    // Only padding may follow the data part. Line breaks stay allowed there
    // too, so that a body ending in "==\n" (PEM) decodes.
    std::size_t padding = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '=') {
            ++padding;
            ++counted;
        } else if (table[static_cast<unsigned char>(c)] != SKIP) {
            throwNotBase64();
        }
    }
    if (padding > 3 || counted % 4 != 0) {
        throwNotBase64();
    }
}

// Digit values of the 256 byte values; -1 for bytes that are not hex digits.
constexpr std::array<std::int8_t, 256> makeHexTable()
{
    std::array<std::int8_t, 256> table{};
    for (auto& entry : table) {
        entry = -1;
    }
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<std::int8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        table['a' + i] = static_cast<std::int8_t>(10 + i);
        table['A' + i] = static_cast<std::int8_t>(10 + i);
    }
    return table;
}

constexpr std::array<std::int8_t, 256> HEX_VALUES = makeHexTable();

} // namespace

namespace detail
{
namespace
{

// Writes 2 * size digits at `out`.
void encodeHex(const unsigned char* data, std::size_t size, char* out) noexcept
{
    for (std::size_t i = 0; i < size; ++i) {
        out[2 * i] = HEX_DIGITS[data[i] >> 4];
        out[2 * i + 1] = HEX_DIGITS[data[i] & 0x0F];
    }
}

// Reads an even number of digits and writes half as many bytes at `out`;
// throws BS-0005 on the first character that is not a hex digit.
void decodeHex(const char* text, std::size_t size, unsigned char* out)
{
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const int high = HEX_VALUES[static_cast<unsigned char>(text[i])];
        const int low = HEX_VALUES[static_cast<unsigned char>(text[i + 1])];
        if ((high | low) < 0) {
            throwNotHex();
        }
        out[i / 2] = static_cast<unsigned char>((high << 4) | low);
    }
}

[[noreturn]] void throwNotHexText()
{
    throwNotHex();
}

} // namespace
} // namespace detail

std::string binary_to_base64(const std::vector<unsigned char>& data)
{
    return encodeBase64(data.data(), data.size(), STANDARD_ALPHABET);
}

std::string binary_to_base64(const unsigned char* data, std::size_t size)
{
    return encodeBase64(data, size, STANDARD_ALPHABET);
}

std::string string_to_base64(std::string_view text)
{
    return encodeBase64(reinterpret_cast<const unsigned char*>(text.data()), text.size(), STANDARD_ALPHABET);
}

std::string binary_to_base64UrlSafe(const std::vector<unsigned char>& data)
{
    return encodeBase64(data.data(), data.size(), URL_SAFE_ALPHABET);
}

std::vector<unsigned char> base64_to_binary(std::string_view text)
{
    std::vector<unsigned char> out;
    decodeBase64(text, STANDARD_TABLE, out);
    return out;
}

std::string base64_to_string(std::string_view text)
{
    std::string out;
    decodeBase64(text, STANDARD_TABLE, out);
    return out;
}

std::vector<unsigned char> base64UrlSafe_to_binary(std::string_view text)
{
    std::vector<unsigned char> out;
    decodeBase64(text, URL_SAFE_TABLE, out);
    return out;
}

std::string bytes_to_hex(const std::vector<unsigned char>& data)
{
    return bytes_to_hex(data.data(), data.size());
}

std::string bytes_to_hex(const unsigned char* data, std::size_t size)
{
    std::string out(2 * size, '\0');
    detail::encodeHex(data, size, out.data());
    return out;
}

std::vector<unsigned char> hex_to_bytes(std::string_view text)
{
    if (text.size() % 2 != 0) {
        throwNotHex();
    }
    std::vector<unsigned char> out(text.size() / 2);
    detail::decodeHex(text.data(), text.size(), out.data());
    return out;
}

std::string int_to_hex(unsigned long long value, unsigned char byteCount, bool keepLeadingZeros)
{
    std::string out;
    out.reserve(2 * std::size_t{byteCount});
    bool started = keepLeadingZeros;
    for (unsigned index = byteCount; index-- > 0;) {
        // Bytes above the width of the value are zero.
        const unsigned byte =
            index < sizeof(value) ? static_cast<unsigned>((value >> (8 * index)) & 0xFF) : 0u;
        const unsigned high = byte >> 4;
        const unsigned low = byte & 0x0F;
        if (started || high != 0) {
            out.push_back(HEX_DIGITS[high]);
            started = true;
        }
        if (started || low != 0) {
            out.push_back(HEX_DIGITS[low]);
            started = true;
        }
    }
    return out;
}

bool str_to_bool(std::string_view text)
{
    std::string value = bs::trim(text);
    std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return value == "true";
}

} // namespace conv

namespace parallel
{

namespace
{

std::size_t partCount(std::size_t size)
{
    const std::size_t blocks = size / HEX_BLOCK + (size % HEX_BLOCK != 0 ? 1 : 0);
    std::size_t threads = std::thread::hardware_concurrency();
    if (threads == 0) {
        threads = 2;
    }
    return blocks < threads ? blocks : threads;
}

// Runs work(offset, length) over `parts` slices of `size` units: the first
// parts - 1 slices of `share` units each on their own threads, the rest on
// the calling thread. Every task is joined before the first failure (in part
// order) is rethrown.
template <class Work> void runSplit(std::size_t size, std::size_t parts, std::size_t share, const Work& work)
{
    std::vector<std::future<void>> tasks;
    std::vector<std::exception_ptr> failures(parts);
    tasks.reserve(parts - 1);
    std::size_t offset = 0;
    for (std::size_t part = 0; part + 1 < parts; ++part, offset += share) {
        try {
            tasks.push_back(std::async(std::launch::async, work, offset, share));
        } catch (const std::system_error&) {
            // No thread to be had: do this slice here instead.
            tasks.emplace_back();
            try {
                work(offset, share);
            } catch (...) {
                failures[part] = std::current_exception();
            }
        }
    }
    try {
        work(offset, size - offset);
    } catch (...) {
        failures[parts - 1] = std::current_exception();
    }
    for (std::size_t part = 0; part < tasks.size(); ++part) {
        if (!tasks[part].valid()) {
            continue;
        }
        try {
            tasks[part].get();
        } catch (...) {
            failures[part] = std::current_exception();
        }
    }
    for (const auto& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

} // namespace

std::size_t blockSize(std::size_t total, std::size_t parts, bool even)
{
    if (parts < 2) {
        return total;
    }
    std::size_t share = total / parts;
    if (even && share % 2 != 0) {
        --share;
    }
    return share;
}

std::string bytes_to_hex(const std::vector<unsigned char>& data)
{
    const std::size_t parts = partCount(data.size());
    if (parts < 2) {
        return conv::bytes_to_hex(data);
    }
    std::string out(2 * data.size(), '\0');
    const unsigned char* in = data.data();
    char* dest = out.data();
    runSplit(data.size(), parts, blockSize(data.size(), parts, false),
             [in, dest](std::size_t offset, std::size_t length) {
                 conv::detail::encodeHex(in + offset, length, dest + 2 * offset);
             });
    return out;
}

std::vector<unsigned char> hex_to_bytes(std::string_view text)
{
    if (text.size() % 2 != 0) {
        conv::detail::throwNotHexText();
    }
    const std::size_t parts = partCount(text.size());
    if (parts < 2) {
        return conv::hex_to_bytes(text);
    }
    std::vector<unsigned char> out(text.size() / 2, 0);
    const char* in = text.data();
    unsigned char* dest = out.data();
    runSplit(text.size(), parts, blockSize(text.size(), parts, true),
             [in, dest](std::size_t offset, std::size_t length) {
                 conv::detail::decodeHex(in + offset, length, dest + offset / 2);
             });
    return out;
}

} // namespace parallel
