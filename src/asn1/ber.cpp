#include "asn1/ber.h"

#include <cstdint>

#include "asn1/errors.h"
#include "asn1/tlv.h"

namespace ber
{

namespace
{

constexpr std::uint8_t CONSTRUCTED = 0x20;
constexpr std::uint8_t CLASS_MASK = 0xC0;
constexpr std::uint8_t NUMBER_MASK = 0x1F;
constexpr std::uint8_t BIT_STRING_NUMBER = 0x03;
constexpr std::uint8_t OCTET_STRING_NUMBER = 0x04;
// Tag numbers above 30 take further octets; five cover every 32-bit number.
constexpr std::size_t MAX_TAG_NUMBER_OCTETS = 5;
// Lengths the rest of the library reads (Tlv) fit in 31 bits.
constexpr std::size_t LARGEST_INPUT = 0x7FFFFFFF;

// Universal types whose value may be sent in pieces (constructed form).
bool isStringType(std::uint8_t number)
{
    switch (number) {
    case 3:  // BIT STRING
    case 4:  // OCTET STRING
    case 7:  // ObjectDescriptor
    case 12: // UTF8String
    case 18: // NumericString
    case 19: // PrintableString
    case 20: // T61String
    case 21: // VideotexString
    case 22: // IA5String
    case 23: // UTCTime
    case 24: // GeneralizedTime
    case 25: // GraphicString
    case 26: // VisibleString
    case 27: // GeneralString
    case 28: // UniversalString
    case 30: // BMPString
        return true;
    default:
        return false;
    }
}

struct Header {
    std::size_t tagStart = 0;
    std::size_t tagEnd = 0;
    std::uint8_t first = 0;
    bool indefinite = false;
    std::size_t length = 0; // content length when definite

    bool constructed() const { return (first & CONSTRUCTED) != 0; }
    bool universal() const { return (first & CLASS_MASK) == 0; }
    std::uint8_t number() const { return first & NUMBER_MASK; }
};

// The collected pieces of a string sent in constructed form.
struct StringValue {
    bytes content;
    std::uint8_t unusedBits = 0;
    bool closed = false; // a BIT STRING piece with unused bits came: it must be the last
};

class Reader
{
  public:
    explicit Reader(const bytes& input) : m_in(input) {}

    std::size_t position() const { return m_pos; }

    // Reads one element lying within [position, end) and appends its DER form.
    void element(bytes& out, std::size_t end, std::size_t depth)
    {
        const Header h = header(end);
        if (!h.constructed()) {
            append(out, h, m_in.data() + m_pos, h.length);
            m_pos += h.length;
            return;
        }
        if (depth >= MAX_DEPTH) {
            throw Asn1DecodingError();
        }
        const std::size_t contentEnd = h.indefinite ? end : m_pos + h.length;
        if (h.universal() && isStringType(h.number())) {
            StringValue value;
            if (h.number() == BIT_STRING_NUMBER) {
                value.content.push_back(0); // unused-bits octet, set at the end
            }
            pieces(value, h.number(), h.indefinite, contentEnd, depth + 1);
            if (h.number() == BIT_STRING_NUMBER) {
                value.content[0] = value.unusedBits;
            }
            Header primitive = h;
            primitive.first = static_cast<std::uint8_t>(h.first & ~CONSTRUCTED);
            append(out, primitive, value.content.data(), value.content.size());
            return;
        }
        bytes content;
        while (!atContentEnd(h.indefinite, contentEnd)) {
            element(content, contentEnd, depth + 1);
        }
        append(out, h, content.data(), content.size());
    }

  private:
    // Tag and length octets of the element at the current position; the
    // position moves to its first content octet.
    Header header(std::size_t end)
    {
        Header h;
        h.tagStart = m_pos;
        h.first = next(end);
        if ((h.first & ~CONSTRUCTED) == 0) {
            // Universal 0 is the end-of-contents marker, never an element.
            throw Asn1DecodingError();
        }
        if (h.number() == NUMBER_MASK) {
            std::size_t count = 0;
            std::uint8_t octet = 0;
            do {
                octet = next(end);
                if (++count > MAX_TAG_NUMBER_OCTETS) {
                    throw Asn1DecodingError();
                }
            } while ((octet & 0x80) != 0);
        }
        h.tagEnd = m_pos;
        const std::uint8_t first = next(end);
        if (first == 0x80) {
            if (!h.constructed()) {
                throw Asn1DecodingError();
            }
            h.indefinite = true;
            return h;
        }
        if (first == 0xFF) {
            throw Asn1DecodingError(); // reserved
        }
        std::size_t length = first;
        if (first > 0x80) {
            const std::size_t count = first & 0x7F;
            if (count > end - m_pos) {
                throw Asn1DecodingError();
            }
            const std::size_t available = end - m_pos - count;
            length = 0;
            for (std::size_t i = 0; i < count; ++i) {
                // Leading zero octets (allowed in BER) keep the value small;
                // it only grows, so it is checked as it is built.
                length = (length << 8) | m_in[m_pos++];
                if (length > available) {
                    throw Asn1DecodingError();
                }
            }
        }
        if (length > end - m_pos) {
            throw Asn1DecodingError();
        }
        h.length = length;
        return h;
    }

    std::uint8_t next(std::size_t end)
    {
        if (m_pos >= end) {
            throw Asn1DecodingError();
        }
        return m_in[m_pos++];
    }

    // True (and the marker consumed) when the contents of a constructed
    // element end here.
    bool atContentEnd(bool indefinite, std::size_t contentEnd)
    {
        if (!indefinite) {
            return m_pos == contentEnd;
        }
        if (contentEnd - m_pos >= 2 && m_in[m_pos] == 0 && m_in[m_pos + 1] == 0) {
            m_pos += 2;
            return true;
        }
        if (m_pos >= contentEnd) {
            throw Asn1DecodingError(); // end-of-contents marker missing
        }
        return false;
    }

    // Pieces of a string in constructed form: each of the string's own type
    // (or OCTET STRING, as character strings are sent), themselves primitive
    // or constructed.
    void pieces(StringValue& value, std::uint8_t number, bool indefinite, std::size_t contentEnd,
                std::size_t depth)
    {
        while (!atContentEnd(indefinite, contentEnd)) {
            const Header h = header(contentEnd);
            const bool bitString = number == BIT_STRING_NUMBER;
            if (!h.universal() ||
                (h.number() != number && (bitString || h.number() != OCTET_STRING_NUMBER))) {
                throw Asn1DecodingError();
            }
            if (h.constructed()) {
                if (depth >= MAX_DEPTH) {
                    throw Asn1DecodingError();
                }
                pieces(value, number, h.indefinite, h.indefinite ? contentEnd : m_pos + h.length, depth + 1);
                continue;
            }
            const std::uint8_t* data = m_in.data() + m_pos;
            std::size_t size = h.length;
            m_pos += h.length;
            if (bitString) {
                if (size == 0 || value.closed || data[0] > 7 || (size == 1 && data[0] != 0)) {
                    throw Asn1DecodingError();
                }
                value.unusedBits = data[0];
                value.closed = data[0] != 0;
                ++data;
                --size;
            }
            value.content.insert(value.content.end(), data, data + size);
        }
    }

    // Tag octets as read (the first one as given), minimal length, content.
    void append(bytes& out, const Header& h, const std::uint8_t* content, std::size_t size) const
    {
        out.push_back(h.first);
        out.insert(out.end(), m_in.begin() + static_cast<std::ptrdiff_t>(h.tagStart + 1),
                   m_in.begin() + static_cast<std::ptrdiff_t>(h.tagEnd));
        const bytes length = Tlv::encodeLength(size);
        out.insert(out.end(), length.begin(), length.end());
        out.insert(out.end(), content, content + size);
    }

    const bytes& m_in;
    std::size_t m_pos = 0;
};

} // namespace

bytes toDer(const bytes& input)
{
    if (input.size() > LARGEST_INPUT) {
        throw Asn1DecodingError();
    }
    Reader reader(input);
    bytes out;
    out.reserve(input.size());
    reader.element(out, input.size(), 0);
    if (reader.position() != input.size()) {
        throw Asn1DecodingError(); // octets after the element
    }
    return out;
}

} // namespace ber
