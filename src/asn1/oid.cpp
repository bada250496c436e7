#include "asn1/oid.h"

#include <bit>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "asn1/errors.h"
#include "asn1/tlv.h"

namespace
{

constexpr std::size_t MAX_ARC_BITS = ObjectIdentifier::MAX_ARC_BITS;
// Decimal digits of the largest arc (2^4096 has 1234).
constexpr std::size_t MAX_ARC_DIGITS = 1234;
// Base-128 groups of the largest subidentifier: the first one combines two
// arcs and may be one bit longer.
constexpr std::size_t MAX_GROUPS = (MAX_ARC_BITS + 1 + 6) / 7;

// An unsigned number of any size: 32-bit limbs, least significant first,
// without leading zero limbs (zero has none).
class Arc
{
  public:
    // Decimal text; std::invalid_argument unless a plain run of digits,
    // std::out_of_range above MAX_ARC_BITS bits.
    static Arc fromDecimal(std::string_view text)
    {
        if (text.empty()) {
            throw std::invalid_argument("object identifier arc is empty");
        }
        for (char c : text) {
            if (c < '0' || c > '9') {
                throw std::invalid_argument("object identifier arc is not a decimal number");
            }
        }
        const auto significant = text.find_first_not_of('0');
        text.remove_prefix(significant == std::string_view::npos ? text.size() : significant);
        if (text.size() > MAX_ARC_DIGITS) {
            throw std::out_of_range("object identifier arc is too large");
        }
        Arc arc;
        while (!text.empty()) {
            const std::size_t take = text.size() < 9 ? text.size() : 9;
            std::uint32_t chunk = 0;
            std::uint32_t scale = 1;
            for (std::size_t i = 0; i < take; ++i) {
                chunk = chunk * 10 + static_cast<std::uint32_t>(text[i] - '0');
                scale *= 10;
            }
            arc.mulAdd(scale, chunk);
            text.remove_prefix(take);
        }
        if (arc.bitLength() > MAX_ARC_BITS) {
            throw std::out_of_range("object identifier arc is too large");
        }
        return arc;
    }

    void mulAdd(std::uint32_t factor, std::uint32_t addend)
    {
        std::uint64_t carry = addend;
        for (std::uint32_t& limb : m_limbs) {
            const std::uint64_t v = static_cast<std::uint64_t>(limb) * factor + carry;
            limb = static_cast<std::uint32_t>(v);
            carry = v >> 32;
        }
        if (carry != 0) {
            m_limbs.push_back(static_cast<std::uint32_t>(carry));
        }
    }

    // Subtracts a value not above this one.
    void subtract(std::uint32_t value)
    {
        std::uint64_t borrow = value;
        for (std::size_t i = 0; borrow != 0 && i < m_limbs.size(); ++i) {
            const std::uint64_t limb = m_limbs[i];
            m_limbs[i] = static_cast<std::uint32_t>(limb - borrow);
            borrow = limb < borrow ? 1 : 0;
        }
        trim();
    }

    // Divides in place, returning the remainder.
    std::uint32_t divide(std::uint32_t divisor)
    {
        std::uint64_t remainder = 0;
        for (std::size_t i = m_limbs.size(); i-- > 0;) {
            const std::uint64_t current = (remainder << 32) | m_limbs[i];
            m_limbs[i] = static_cast<std::uint32_t>(current / divisor);
            remainder = current % divisor;
        }
        trim();
        return static_cast<std::uint32_t>(remainder);
    }

    std::optional<std::uint64_t> small() const
    {
        if (m_limbs.size() > 2) {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (std::size_t i = m_limbs.size(); i-- > 0;) {
            value = (value << 32) | m_limbs[i];
        }
        return value;
    }

    std::size_t bitLength() const
    {
        if (m_limbs.empty()) {
            return 0;
        }
        return (m_limbs.size() - 1) * 32 + static_cast<std::size_t>(std::bit_width(m_limbs.back()));
    }

    // Base-128, most significant group first, every octet but the last
    // with bit 0x80 set.
    void appendBase128(bytes& out) const
    {
        const std::size_t bits = bitLength();
        const std::size_t groups = bits == 0 ? 1 : (bits + 6) / 7;
        for (std::size_t g = groups; g-- > 0;) {
            std::uint8_t group = 0;
            for (std::size_t b = 7; b-- > 0;) {
                group = static_cast<std::uint8_t>((group << 1) | bit(7 * g + b));
            }
            out.push_back(static_cast<std::uint8_t>(g > 0 ? group | 0x80 : group));
        }
    }

    std::string toDecimal() const
    {
        if (const auto value = small()) {
            return std::to_string(*value);
        }
        Arc rest = *this;
        std::vector<std::uint32_t> chunks; // base 10^9, least significant first
        while (!rest.m_limbs.empty()) {
            chunks.push_back(rest.divide(1000000000u));
        }
        std::string text = std::to_string(chunks.back());
        for (std::size_t i = chunks.size() - 1; i-- > 0;) {
            const std::string chunk = std::to_string(chunks[i]);
            text.append(9 - chunk.size(), '0');
            text += chunk;
        }
        return text;
    }

  private:
    std::uint8_t bit(std::size_t index) const
    {
        const std::size_t limb = index / 32;
        return limb < m_limbs.size() ? static_cast<std::uint8_t>((m_limbs[limb] >> (index % 32)) & 1) : 0;
    }

    void trim()
    {
        while (!m_limbs.empty() && m_limbs.back() == 0) {
            m_limbs.pop_back();
        }
    }

    std::vector<std::uint32_t> m_limbs;
};

// Reads one subidentifier at `pos`; Asn1DecodingError when it runs past the
// content or is longer than any arc this library holds.
Arc readSubidentifier(const bytes& content, std::size_t& pos)
{
    Arc value;
    for (std::size_t groups = 1;; ++groups) {
        if (pos >= content.size()) {
            // The last subidentifier still announces a continuation.
            throw Asn1DecodingError();
        }
        if (groups > MAX_GROUPS) {
            throw Asn1DecodingError();
        }
        const std::uint8_t octet = content[pos++];
        value.mulAdd(128, octet & 0x7F);
        if ((octet & 0x80) == 0) {
            return value;
        }
    }
}

} // namespace

bytes ObjectIdentifier::derEncoding() const
{
    if (m_text.empty()) {
        return {};
    }
    std::vector<Arc> arcs;
    std::string_view rest = m_text;
    while (true) {
        const auto dot = rest.find('.');
        arcs.push_back(Arc::fromDecimal(rest.substr(0, dot)));
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    if (arcs.size() < 2) {
        throw Asn1DecodingError();
    }
    const auto first = arcs[0].small();
    const auto second = arcs[1].small();
    if (!first || !((*first <= 1 && second && *second < 40) || *first == 2)) {
        throw Asn1DecodingError();
    }
    // The first subidentifier combines the first two arcs: first * 40 + second.
    Arc combined = arcs[1];
    combined.mulAdd(1, static_cast<std::uint32_t>(*first * 40));
    bytes content;
    combined.appendBase128(content);
    for (std::size_t i = 2; i < arcs.size(); ++i) {
        arcs[i].appendBase128(content);
    }
    return Tlv(0x06, content).data();
}

bool ObjectIdentifier::hasCanonicalText() const noexcept
{
    // Arcs of at most this many digits stay below MAX_ARC_BITS bits.
    constexpr std::size_t MAX_DIGITS = 1000;
    std::size_t arcCount = 0;
    std::size_t first = 0;
    std::string_view rest = m_text;
    while (true) {
        const auto dot = rest.find('.');
        const std::string_view arc = rest.substr(0, dot);
        if (arc.empty() || arc.size() > MAX_DIGITS || (arc.size() > 1 && arc[0] == '0')) {
            return false;
        }
        for (const char c : arc) {
            if (c < '0' || c > '9') {
                return false;
            }
        }
        if (arcCount == 0) {
            if (arc.size() != 1 || arc[0] > '2') {
                return false;
            }
            first = static_cast<std::size_t>(arc[0] - '0');
        } else if (arcCount == 1 && first < 2 && (arc.size() > 2 || (arc.size() == 2 && arc[0] >= '4'))) {
            return false;
        }
        ++arcCount;
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    return arcCount >= 2;
}

bool ObjectIdentifier::sameEncoding(const ObjectIdentifier& other) const
{
    if (m_text == other.m_text) {
        return true;
    }
    // Distinct canonical texts name distinct arc lists, whose encodings
    // differ; only other texts need encoding to compare.
    if (hasCanonicalText() && other.hasCanonicalText()) {
        return false;
    }
    return derEncoding() == other.derEncoding();
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
    std::size_t pos = 0;
    Arc first = readSubidentifier(content, pos);
    std::string text;
    const auto small = first.small();
    if (small && *small < 80) {
        text = std::to_string(*small / 40) + "." + std::to_string(*small % 40);
    } else {
        first.subtract(80);
        if (first.bitLength() > MAX_ARC_BITS) {
            throw Asn1DecodingError();
        }
        text = "2." + first.toDecimal();
    }
    while (pos < content.size()) {
        const Arc arc = readSubidentifier(content, pos);
        if (arc.bitLength() > MAX_ARC_BITS) {
            throw Asn1DecodingError();
        }
        text += '.';
        text += arc.toDecimal();
    }
    return ObjectIdentifier(std::move(text));
}
