#include "asn1/oid.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "asn1/errors.h"
#include "asn1/tlv.h"

namespace
{

// Decimal arc as a 32-bit value; std::invalid_argument for anything that is
// not a plain run of digits, std::out_of_range above 32 bits.
std::uint32_t parseArc(std::string_view arc)
{
    if (arc.empty()) {
        throw std::invalid_argument("object identifier arc is empty");
    }
    std::uint64_t value = 0;
    for (char c : arc) {
        if (c < '0' || c > '9') {
            throw std::invalid_argument("object identifier arc is not a decimal number");
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            throw std::out_of_range("object identifier arc exceeds 32 bits");
        }
    }
    return static_cast<std::uint32_t>(value);
}

void appendBase128(bytes& out, std::uint64_t value)
{
    std::uint8_t groups[10];
    int count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1) {
        out.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
    }
    out.push_back(groups[0]);
}

} // namespace

bytes ObjectIdentifier::derEncoding() const
{
    if (m_text.empty()) {
        return {};
    }
    std::vector<std::uint32_t> arcs;
    std::string_view rest = m_text;
    while (true) {
        const auto dot = rest.find('.');
        arcs.push_back(parseArc(rest.substr(0, dot)));
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    if (arcs.size() < 2) {
        throw Asn1DecodingError();
    }
    if (!((arcs[0] <= 1 && arcs[1] < 40) || arcs[0] == 2)) {
        throw Asn1DecodingError();
    }
    // Subidentifiers are 32-bit, the combined first one included.
    const std::uint64_t firstSubidentifier = static_cast<std::uint64_t>(arcs[0]) * 40 + arcs[1];
    if (firstSubidentifier > std::numeric_limits<std::uint32_t>::max()) {
        throw std::out_of_range("object identifier arc exceeds 32 bits");
    }
    bytes content;
    appendBase128(content, firstSubidentifier);
    for (std::size_t i = 2; i < arcs.size(); ++i) {
        appendBase128(content, arcs[i]);
    }
    return Tlv(0x06, content).data();
}

ObjectIdentifier ObjectIdentifier::fromDer(const bytes& der)
{
    const Tlv tlv(der);
    if (tlv.tag() != 0x06) {
        throw Asn1DecodingError();
    }
    const bytes& content = tlv.valueRef();
    if (content.empty()) {
        return ObjectIdentifier("0.0");
    }
    std::string text;
    std::size_t pos = 0;
    bool first = true;
    while (pos < content.size()) {
        std::uint64_t value = 0;
        std::size_t groups = 0;
        while (true) {
            if (pos >= content.size()) {
                // The last subidentifier still announces a continuation.
                throw Asn1DecodingError();
            }
            const std::uint8_t octet = content[pos++];
            value = (value << 7) | (octet & 0x7F);
            if (++groups > 5 || value > std::numeric_limits<std::uint32_t>::max()) {
                // Subidentifiers are 32-bit.
                throw Asn1DecodingError();
            }
            if ((octet & 0x80) == 0) {
                break;
            }
        }
        if (first) {
            first = false;
            if (value >= 119) {
                text = "2." + std::to_string(value - 80);
            } else {
                const std::uint64_t arc1 = value / 40;
                text = std::to_string(arc1) + "." + std::to_string(value - 40 * arc1);
            }
        } else {
            text += '.';
            text += std::to_string(value);
        }
    }
    return ObjectIdentifier(std::move(text));
}
