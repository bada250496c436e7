// DER encoders and decoders working on whole encodings.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"
#include "asn1/oid.h"
#include "asn1/tlv.h"

namespace der
{

// A truth value, kept apart from the integer overload of encode().
struct Boolean {
    explicit Boolean(bool v) : value(v) {}
    bool value;
};

// NULL: 05 00.
bytes encode();
// BOOLEAN: 01 01 FF / 01 01 00.
bytes encode(const Boolean& value);
// INTEGER of a non-negative value, minimal, with a sign octet when needed.
bytes encode(std::uint64_t value);
// INTEGER whose content is `content` as given (two's complement, big-endian).
bytes encodeBinaryInt(const bytes& content);
// OBJECT IDENTIFIER; an empty identifier gives an empty vector.
bytes encode(const ObjectIdentifier& oid);
// UTF8String of the text's octets.
bytes encode(std::string_view text);
// Element with a string tag and the text's octets unchanged.
bytes encodeString(Asn1Tag tag, std::string_view text);
// OCTET STRING.
bytes encode(const bytes& content);
// BIT STRING; std::invalid_argument when unusedBits >= 8.
bytes encode(const bytes& content, std::uint8_t unusedBits);
// SEQUENCE of complete encodings, in the given order.
bytes encode(const std::vector<bytes>& elements);
// SET of complete encodings, in ascending octet order, duplicates once.
bytes encode(const std::set<bytes>& elements);
// Copy of an encoding with the tag octet replaced by A0 / 80 (retagging
// only; an empty input gives an empty result).
bytes encodeExplicit(const bytes& encoding);
bytes encodeImplicit(const bytes& encoding);

// Content octets of an INTEGER.
bytes getBinaryInt(const bytes& der);
// Content of an OCTET STRING.
bytes getOctetString(const bytes& der);
// Content of a BIT STRING after the unused-bits octet.
bytes getBitString(const bytes& der);
// Children of a SEQUENCE as complete encodings.
std::vector<bytes> getSequense(const bytes& der, bool allowEmpty = false);
// Children of a non-empty SET, sorted, duplicates merged.
std::set<bytes> getSet(const bytes& der);
// Splits a concatenation of elements into their encodings.
std::vector<bytes> readVector(const bytes& data, bool allowEmpty = false);
// Content of any element as UTF-8 (BMPString converted; other octets taken
// as UTF-8 when valid, else as Windows-1251).
std::string parseString(const bytes& der);
// OBJECT IDENTIFIER element to its dotted text.
ObjectIdentifier getObjectIdentifier(const bytes& der);

} // namespace der
