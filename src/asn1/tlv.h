// One DER tag-length-value element.
#pragma once

#include <cstddef>
#include <cstdint>

#include "asn1/bytes.h"

// String tags accepted by der::encodeString.
enum class Asn1Tag : std::uint8_t {
    UTF8_STRING = 0x0C,
    NUMERIC_STRING = 0x12,
    PRINTABLE_STRING = 0x13,
    IA5_STRING = 0x16,
    UTC_TIME = 0x17,
    GENERALIZED_TIME = 0x18,
    BMP_STRING = 0x1E,
};

namespace asn1tag
{
inline constexpr std::uint8_t BOOLEAN = 0x01;
inline constexpr std::uint8_t INTEGER = 0x02;
inline constexpr std::uint8_t BIT_STRING = 0x03;
inline constexpr std::uint8_t OCTET_STRING = 0x04;
inline constexpr std::uint8_t NULL_TAG = 0x05;
inline constexpr std::uint8_t OBJECT_IDENTIFIER = 0x06;
inline constexpr std::uint8_t UTF8_STRING = 0x0C;
inline constexpr std::uint8_t NUMERIC_STRING = 0x12;
inline constexpr std::uint8_t PRINTABLE_STRING = 0x13;
inline constexpr std::uint8_t IA5_STRING = 0x16;
inline constexpr std::uint8_t UTC_TIME = 0x17;
inline constexpr std::uint8_t GENERALIZED_TIME = 0x18;
inline constexpr std::uint8_t BMP_STRING = 0x1E;
inline constexpr std::uint8_t SEQUENCE = 0x30;
inline constexpr std::uint8_t SET = 0x31;
inline constexpr std::uint8_t CONTEXT_0_IMPLICIT = 0x80;
inline constexpr std::uint8_t CONTEXT_0_EXPLICIT = 0xA0;
} // namespace asn1tag

class Tlv
{
  public:
    Tlv(std::uint8_t tag, const bytes& value);
    // Parses the first element of `encoding` (DER); octets after it are
    // ignored. Asn1DecodingError when the header is malformed, the content is
    // cut or the length is indefinite (BER from outside goes through
    // ber::toDer first).
    explicit Tlv(const bytes& encoding);
    // The same over a raw range.
    Tlv(const std::uint8_t* encoding, std::size_t size);
    virtual ~Tlv() = default;
    Tlv(const Tlv&) = default;
    Tlv& operator=(const Tlv&) = default;

    std::uint8_t tag() const noexcept { return m_tag; }
    bytes value() const { return m_value; }
    const bytes& valueRef() const noexcept { return m_value; }
    // The length octets in minimal definite form.
    bytes dataLength() const;
    // Tag, length and content: the whole DER encoding.
    bytes data() const;
    // Size of the header plus content as it was parsed (equals data().size()
    // for DER input).
    std::size_t encodedSize() const noexcept { return m_encodedSize; }

    static bytes encodeLength(std::size_t length);

  private:
    std::uint8_t m_tag;
    bytes m_value;
    std::size_t m_encodedSize;
};

// Flat lists of short elements (one tag octet, one length octet): content of
// the first element tagged `tag` at or after `offset`; empty when it is not
// found or is empty. Never looks past offset 255.
bytes findTagValue(std::uint8_t tag, const bytes& data, std::uint8_t offset);
