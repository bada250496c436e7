// Character-set conversion between UTF-8, wide strings (one code point per
// element; a string taken from Java's UTF-16 may hold surrogate pairs, two
// elements for one code point), CP1251 and CP866.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace encoding
{

// Code points of the bytes 0x80..0xFF. CP1251 maps 0x98 to U+0098.
extern const std::array<char16_t, 128> CP1251_TABLE;
extern const std::array<char16_t, 128> CP866_TABLE;

// Well-formed UTF-8, allocated once (no partial copy of a secret is left
// behind). A surrogate pair is encoded as the one code point it stands for,
// as is an element from U+10000 to U+10FFFF; a lone surrogate or an element
// beyond U+10FFFF throws bs::InvalidUnicodeText.
std::string utf16_to_utf8(std::wstring_view text);

// Replaces each surrogate that is not part of a pair with U+FFFD, for text
// from outside (DER strings) that must convert whatever it holds.
void replaceLoneSurrogates(std::wstring& text) noexcept;

// Decodes one- to three-byte sequences; continuation bytes are not checked,
// and a sequence cut off by the end yields the bits gathered so far. A whole
// four-byte sequence gives its code point when that is U+10000..U+10FFFF.
// A byte that cannot start a sequence, any other four-byte sequence, or a
// three-byte one naming a surrogate (U+D800..U+DFFF) gives U+FFFD: the
// result holds no half of a surrogate pair.
std::wstring utf8_to_utf16(std::string_view text);
// The UTF-16 units of utf8_to_utf16 (as a Java string holds them): a code
// point beyond U+FFFF becomes its surrogate pair.
std::u16string utf8_to_utf16_units(std::string_view text);

std::wstring cp1251_to_utf16(std::string_view text);
// Characters without a CP1251 byte become "?" (those below 0x80 pass as is).
std::string utf16_to_cp1251(std::wstring_view text);
std::string utf8_to_cp1251(std::string_view text);
std::string cp1251_to_utf8(std::string_view text);

// The system encoding is UTF-8.
std::string utf8_to_sys(std::string_view text);
std::string sys_to_utf8(std::string_view text);
std::string utf16_to_sys(std::wstring_view text);
std::wstring sys_to_utf16(std::string_view text);

// Byte-wise shift of the Russian letters А..я between CP866 and CP1251 (Ё,
// ё and every other byte are kept); rewriting stops at the first NUL byte.
std::string cp866_to_cp1251(std::string_view text);
std::string cp1251_to_cp866(std::string_view text);
std::string cp866_to_utf8(std::string_view text);
std::string utf8_to_cp866(std::string_view text);

// Deliberately narrow: accepts ASCII mixed with two-byte sequences only
// (which covers Cyrillic); three- and four-byte sequences are rejected, and
// the last byte is never examined on its own. Inputs of 0 or 1 bytes pass.
bool isValidUTF8(std::string_view text);

} // namespace encoding
