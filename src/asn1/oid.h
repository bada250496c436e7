// Object identifiers held as their dotted decimal text.
#pragma once

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

    // DER OBJECT IDENTIFIER element; empty vector for an empty identifier.
    // Asn1DecodingError for a bad arc structure, std::invalid_argument or
    // std::out_of_range for an arc that is not a 32-bit decimal number.
    bytes derEncoding() const;

    // Parses a complete OBJECT IDENTIFIER element.
    static ObjectIdentifier fromDer(const bytes& der);

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
