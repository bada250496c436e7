// Object identifiers held as their dotted decimal text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "asn1/bytes.h"

class ObjectIdentifier
{
  public:
    ObjectIdentifier() = default;
    explicit ObjectIdentifier(std::string text) : m_text(std::move(text)) {}
    explicit ObjectIdentifier(std::string_view text) : m_text(text) {}
    explicit ObjectIdentifier(const char* text) : m_text(text) {}

    const std::string& toString() const noexcept { return m_text; }
    const std::string& text() const noexcept { return m_text; }
    bool empty() const noexcept { return m_text.empty(); }

    // Arcs are numbers of any size up to this many bits (2.25.<128-bit UUID>
    // is the largest in real use); the bound keeps hostile input cheap.
    static constexpr std::size_t MAX_ARC_BITS = 4096;

    // DER OBJECT IDENTIFIER element; empty vector for an empty identifier.
    // Asn1DecodingError for a bad arc structure, std::invalid_argument for an
    // arc that is not a decimal number, std::out_of_range for an arc above
    // MAX_ARC_BITS bits.
    bytes derEncoding() const;

    // Parses a complete OBJECT IDENTIFIER element; Asn1DecodingError when it
    // is malformed or an arc is above MAX_ARC_BITS bits.
    static ObjectIdentifier fromDer(const bytes& der);

    // True when both identifiers have the same DER encoding. Texts in the
    // form the decoder writes (decimal arcs without leading zeros, a valid
    // first pair) are compared as text; any other text is encoded, with the
    // errors of derEncoding().
    bool sameEncoding(const ObjectIdentifier& other) const;

    // Decimal arcs without leading zeros, at least two, a first arc of 0, 1
    // or 2 and a second arc below 40 under 0 and 1: the text fromDer() gives.
    bool hasCanonicalText() const noexcept;

    friend bool operator==(const ObjectIdentifier& a, const ObjectIdentifier& b) noexcept
    {
        return a.m_text == b.m_text;
    }
    friend bool operator!=(const ObjectIdentifier& a, const ObjectIdentifier& b) noexcept
    {
        return !(a == b);
    }
    // Descending text order: maps keyed by identifiers iterate from the
    // greatest text to the smallest.
    friend bool operator<(const ObjectIdentifier& a, const ObjectIdentifier& b) noexcept
    {
        return b.m_text < a.m_text;
    }

  private:
    std::string m_text;
};
