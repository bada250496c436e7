// The symbols a key alias may not hold. Aliases are stored on the devices in
// Windows-1251, so the check runs on that form.
#pragma once

#include <string_view>

namespace provider
{

// Rejects a (trimmed) alias that is empty (EmptyKeyAlias), not UTF-8
// (InvalidKeyAlias without a symbol) or that holds one of the forbidden
// Windows-1251 bytes: control characters other than line feed and carriage
// return, DEL and the punctuation and symbols of 0x80-0xBF that are not
// Cyrillic letters. The forbidden byte reported is the first of the table
// that occurs in the alias, given back as one UTF-8 character. Each
// rejection is logged before it is thrown.
void checkAliasSymbols(std::string_view alias);

} // namespace provider
