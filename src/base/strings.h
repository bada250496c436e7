// Small string and byte helpers.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/secure.h"

namespace bs
{

// Blank bytes are 0x01..0x20 (control characters and space); NUL is not.
bool isspacesymb(int c);
std::string ltrim(std::string_view text);
std::string rtrim(std::string_view text);
std::string trim(std::string_view text);

// Pieces between delimiters (a trailing delimiter gives no empty piece);
// pieces blank after trimming are dropped; `trim` stores the trimmed form,
// `unique` drops repeats.
std::vector<std::string> splitVector(std::string_view text, char delimiter, bool trim, bool unique);

// false for empty text or text without the separator; else key and value are
// the parts before and after the first separator, trimmed when `trim`.
bool splitKeyValue(std::string_view text, std::string& key, std::string& value, char separator, bool trim);

// One key-value pair per "\n"-ended line; lines without the separator are
// left out; a repeated key keeps its first value.
std::map<std::string, std::string> splitMap(std::string_view text, char separator, bool trim);

std::string join(const std::vector<std::string>& parts, std::string_view separator);
std::size_t textSize(const std::vector<std::string>& parts);

// Non-overlapping occurrences, left to right; an empty pattern gives 0.
std::size_t countStringOccurrences(std::string_view text, std::string_view pattern);

// true when any byte belongs to the UTF-8 form of a Russian letter (0xD0,
// 0xD1, 0x80..0xBF): any non-ASCII UTF-8 text counts.
bool isContainCyrillic(std::string_view text);

// Prefixes "0" up to `width` characters; longer text is returned unchanged.
std::string addLeadingZeros(std::string_view text, std::size_t width);

// Drops leading 0x00 bytes but keeps the last byte (all zeros give one 0x00).
std::vector<unsigned char> deleteLeadingZeros(const std::vector<unsigned char>& data);

// Swaps the bytes of every 16-bit unit in place; a trailing odd byte stays.
void changeByteOrder(unsigned char* data, std::size_t size);

} // namespace bs
