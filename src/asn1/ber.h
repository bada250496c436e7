// Reading BER from outside: one element turned into its DER form.
#pragma once

#include <cstddef>

#include "asn1/bytes.h"

namespace ber
{

// Deepest nesting of constructed elements toDer accepts.
inline constexpr std::size_t MAX_DEPTH = 64;

// Reads one complete BER element and returns its DER form: every length
// definite and minimal, and universal string types sent in constructed form
// (OCTET STRING, BIT STRING, the character strings and times) joined into one
// primitive element. Everything else is copied octet for octet: contents are
// not checked or normalised and SET OF elements keep their order. A
// context-tagged constructed element stays constructed (whether it is an
// implicitly tagged string cannot be told without its schema). Input that is
// already DER comes back identical.
// Asn1DecodingError for malformed or truncated input, octets after the
// element, an indefinite length on a primitive element, a misplaced
// end-of-contents marker or nesting deeper than MAX_DEPTH.
bytes toDer(const bytes& input);

} // namespace ber
