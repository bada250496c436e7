#include "base/encoding.h"

#include "base/errors.h"

#include <cstdint>
#include <map>

namespace encoding
{

// clang-format off
const std::array<char16_t, 128> CP1251_TABLE = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

const std::array<char16_t, 128> CP866_TABLE = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};
// clang-format on

namespace
{

constexpr wchar_t REPLACEMENT = 0xFFFD;

bool isContinuation(unsigned char b) noexcept
{
    return (b & 0xC0) == 0x80;
}

// Code point -> CP1251 byte, built once from the table.
const std::map<std::uint32_t, char>& cp1251Reverse()
{
    static const std::map<std::uint32_t, char> reverse = [] {
        std::map<std::uint32_t, char> map;
        for (std::size_t i = 0; i < CP1251_TABLE.size(); ++i) {
            map.emplace(CP1251_TABLE[i], static_cast<char>(0x80 + i));
        }
        return map;
    }();
    return reverse;
}

bool isHighSurrogate(std::uint32_t c) noexcept
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool isLowSurrogate(std::uint32_t c) noexcept
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The code point at text[i]: a surrogate pair gives one code point and moves
// `i` to its second half. A lone surrogate, or an element beyond U+10FFFF,
// is not text: bs::InvalidUnicodeText.
std::uint32_t codePointAt(std::wstring_view text, std::size_t& i)
{
    const auto c = static_cast<std::uint32_t>(text[i]);
    if (isHighSurrogate(c) && i + 1 < text.size()) {
        const auto low = static_cast<std::uint32_t>(text[i + 1]);
        if (isLowSurrogate(low)) {
            ++i;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    if (isHighSurrogate(c) || isLowSurrogate(c) || c > 0x10FFFF) {
        throw bs::InvalidUnicodeText();
    }
    return c;
}

// A code point of a three-byte sequence as one unit: a surrogate (what a
// sequence encoding half of a pair, or one read leniently, names) becomes
// U+FFFD, so the result never holds half of a pair.
wchar_t bmpUnit(std::uint32_t c) noexcept
{
    return isHighSurrogate(c) || isLowSurrogate(c) ? REPLACEMENT : static_cast<wchar_t>(c);
}

} // namespace

std::string utf16_to_utf8(std::wstring_view text)
{
    // Measured first, so that the result is allocated once: a PIN or password
    // converted here leaves no partial copy behind in a reallocated buffer.
    std::size_t length = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint32_t c = codePointAt(text, i);
        length += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    std::string out(length, '\0');
    std::size_t at = 0;
    const auto put = [&](std::uint32_t byte) { out[at++] = static_cast<char>(byte); };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint32_t c = codePointAt(text, i);
        if (c < 0x80) {
            put(c);
        } else if (c < 0x800) {
            put(0xC0 | (c >> 6));
            put(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            put(0xE0 | (c >> 12));
            put(0x80 | ((c >> 6) & 0x3F));
            put(0x80 | (c & 0x3F));
        } else {
            put(0xF0 | (c >> 18));
            put(0x80 | ((c >> 12) & 0x3F));
            put(0x80 | ((c >> 6) & 0x3F));
            put(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void replaceLoneSurrogates(std::wstring& text) noexcept
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<std::uint32_t>(text[i]);
        if (isHighSurrogate(c) && i + 1 < text.size() &&
            isLowSurrogate(static_cast<std::uint32_t>(text[i + 1]))) {
            ++i;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            text[i] = REPLACEMENT;
        }
    }
}

std::wstring utf8_to_utf16(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out.push_back(static_cast<wchar_t>(b));
            ++i;
        } else if ((b & 0xE0) == 0xC0) {
            std::uint32_t c = (b & 0x1Fu) << 6;
            if (i + 1 >= size) {
                out.push_back(static_cast<wchar_t>(c));
                break;
            }
            c |= static_cast<unsigned char>(text[i + 1]) & 0x3Fu;
            out.push_back(static_cast<wchar_t>(c));
            i += 2;
        } else if ((b & 0xF0) == 0xE0) {
            std::uint32_t c = (b & 0x0Fu) << 12;
            if (i + 1 >= size) {
                out.push_back(bmpUnit(c));
                break;
            }
            c |= (static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6;
            if (i + 2 >= size) {
                out.push_back(bmpUnit(c));
                break;
            }
            c |= static_cast<unsigned char>(text[i + 2]) & 0x3Fu;
            out.push_back(bmpUnit(c));
            i += 3;
        } else if ((b & 0xF8) == 0xF0) {
            // Beyond U+FFFF: one code point when the sequence is whole and
            // names one from U+10000 to U+10FFFF, else one replacement
            // character for the whole sequence.
            std::uint32_t c = b & 0x07u;
            ++i;
            int n = 0;
            for (; n < 3 && i < size && isContinuation(static_cast<unsigned char>(text[i])); ++n) {
                c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3Fu);
                ++i;
            }
            out.push_back(n == 3 && c >= 0x10000 && c <= 0x10FFFF ? static_cast<wchar_t>(c) : REPLACEMENT);
        } else {
            // A stray continuation byte or a byte that never starts a sequence.
            out.push_back(REPLACEMENT);
            ++i;
        }
    }
    return out;
}

std::u16string utf8_to_utf16_units(std::string_view text)
{
    const std::wstring wide = utf8_to_utf16(text);
    std::u16string units;
    units.reserve(wide.size());
    for (const wchar_t ch : wide) {
        const auto c = static_cast<std::uint32_t>(ch);
        if (c >= 0x10000) {
            // utf8_to_utf16 gives nothing beyond U+10FFFF.
            units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(c));
        }
    }
    return units;
}

std::wstring cp1251_to_utf16(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        out.push_back(b < 0x80 ? static_cast<wchar_t>(b) : static_cast<wchar_t>(CP1251_TABLE[b - 0x80]));
    }
    return out;
}

std::string utf16_to_cp1251(std::wstring_view text)
{
    const auto& reverse = cp1251Reverse();
    std::string out;
    out.reserve(text.size());
    for (const wchar_t ch : text) {
        const auto c = static_cast<std::uint32_t>(ch);
        const auto found = reverse.find(c);
        if (found != reverse.end()) {
            out.push_back(found->second);
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('?');
        }
    }
    return out;
}

std::string utf8_to_cp1251(std::string_view text)
{
    return utf16_to_cp1251(utf8_to_utf16(text));
}

std::string cp1251_to_utf8(std::string_view text)
{
    return utf16_to_utf8(cp1251_to_utf16(text));
}

std::string utf8_to_sys(std::string_view text)
{
    return std::string(text);
}

std::string sys_to_utf8(std::string_view text)
{
    return std::string(text);
}

std::string utf16_to_sys(std::wstring_view text)
{
    return utf16_to_utf8(text);
}

std::wstring sys_to_utf16(std::string_view text)
{
    return utf8_to_utf16(text);
}

std::string cp866_to_cp1251(std::string_view text)
{
    std::string out(text);
    for (char& ch : out) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == 0) {
            break;
        }
        if (b >= 0x80 && b <= 0xAF) {
            ch = static_cast<char>(b + 0x40);
        } else if (b >= 0xE0 && b <= 0xEF) {
            ch = static_cast<char>(b + 0x10);
        }
    }
    return out;
}

std::string cp1251_to_cp866(std::string_view text)
{
    std::string out(text);
    for (char& ch : out) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == 0) {
            break;
        }
        if (b >= 0xC0 && b <= 0xEF) {
            ch = static_cast<char>(b - 0x40);
        } else if (b >= 0xF0) {
            ch = static_cast<char>(b - 0x10);
        }
    }
    return out;
}

std::string cp866_to_utf8(std::string_view text)
{
    return cp1251_to_utf8(cp866_to_cp1251(text));
}

std::string utf8_to_cp866(std::string_view text)
{
    return cp1251_to_cp866(utf8_to_cp1251(text));
}

bool isValidUTF8(std::string_view text)
{
    const std::size_t size = text.size();
    if (size < 2) {
        return true;
    }
    std::size_t i = 0;
    while (i < size - 1) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            ++i;
        } else if ((b & 0xE0) == 0xC0) {
            if (!isContinuation(static_cast<unsigned char>(text[i + 1]))) {
                return false;
            }
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace encoding
