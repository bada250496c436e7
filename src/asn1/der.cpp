#include "asn1/der.h"

#include <stdexcept>
#include <string>

#include "asn1/binary.h"
#include "asn1/errors.h"
#include "base/encoding.h"

namespace der
{

namespace
{

Tlv expect(const bytes& der, std::uint8_t tag)
{
    Tlv tlv(der);
    if (tlv.tag() != tag) {
        throw Asn1DecodingError();
    }
    return tlv;
}

// Well-formed UTF-8 (RFC 3629): shortest forms only, no surrogates, nothing
// above U+10FFFF, no sequence cut off by the end.
bool isWellFormedUtf8(const bytes& text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const std::uint8_t lead = text[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t low = 0x80;
        std::uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (length > text.size() - i || text[i + 1] < low || text[i + 1] > high) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

bytes retag(const bytes& encoding, std::uint8_t tag)
{
    bytes out = encoding;
    if (!out.empty()) {
        out[0] = tag;
    }
    return out;
}

} // namespace

bytes encode()
{
    return bytes{0x05, 0x00};
}

bytes encode(const Boolean& value)
{
    return Tlv(asn1tag::BOOLEAN, conv::bool_to_binary(value.value)).data();
}

bytes encode(std::uint64_t value)
{
    bytes content = conv::int_to_binary(value);
    if (content[0] >= 0x80) {
        content.insert(content.begin(), 0x00);
    }
    return Tlv(asn1tag::INTEGER, content).data();
}

bytes encodeBinaryInt(const bytes& content)
{
    return Tlv(asn1tag::INTEGER, content).data();
}

bytes encode(const ObjectIdentifier& oid)
{
    return oid.derEncoding();
}

bytes encode(std::string_view text)
{
    return encodeString(Asn1Tag::UTF8_STRING, text);
}

bytes encodeString(Asn1Tag tag, std::string_view text)
{
    return Tlv(static_cast<std::uint8_t>(tag), bytes(text.begin(), text.end())).data();
}

bytes encode(const bytes& content)
{
    return Tlv(asn1tag::OCTET_STRING, content).data();
}

bytes encode(const bytes& content, std::uint8_t unusedBits)
{
    if (unusedBits >= 8) {
        throw std::invalid_argument("incorrect unused bits count");
    }
    bytes value;
    value.reserve(content.size() + 1);
    value.push_back(unusedBits);
    value.insert(value.end(), content.begin(), content.end());
    return Tlv(asn1tag::BIT_STRING, value).data();
}

namespace
{

template <class Container> bytes concatenate(std::uint8_t tag, const Container& elements)
{
    std::size_t size = 0;
    for (const bytes& e : elements) {
        size += e.size();
    }
    bytes value;
    value.reserve(size);
    for (const bytes& e : elements) {
        value.insert(value.end(), e.begin(), e.end());
    }
    return Tlv(tag, value).data();
}

} // namespace

bytes encode(const std::vector<bytes>& elements)
{
    return concatenate(asn1tag::SEQUENCE, elements);
}

bytes encode(const std::set<bytes>& elements)
{
    return concatenate(asn1tag::SET, elements);
}

bytes encodeExplicit(const bytes& encoding)
{
    return retag(encoding, asn1tag::CONTEXT_0_EXPLICIT);
}

bytes encodeImplicit(const bytes& encoding)
{
    return retag(encoding, asn1tag::CONTEXT_0_IMPLICIT);
}

bytes getBinaryInt(const bytes& der)
{
    return expect(der, asn1tag::INTEGER).value();
}

bytes getOctetString(const bytes& der)
{
    return expect(der, asn1tag::OCTET_STRING).value();
}

bytes getBitString(const bytes& der)
{
    const Tlv tlv = expect(der, asn1tag::BIT_STRING);
    const bytes& content = tlv.valueRef();
    if (content.empty() || content[0] > 7 || (content.size() == 1 && content[0] != 0)) {
        throw Asn1DecodingError();
    }
    return bytes(content.begin() + 1, content.end());
}

std::vector<bytes> readVector(const bytes& data, bool allowEmpty)
{
    if (data.empty()) {
        if (allowEmpty) {
            return {};
        }
        throw Asn1DecodingError();
    }
    std::vector<bytes> out;
    std::size_t pos = 0;
    while (pos < data.size()) {
        const Tlv tlv(data.data() + pos, data.size() - pos);
        out.push_back(tlv.data());
        // Advance by what was parsed, so a non-minimal length in the input
        // cannot shift the next element's start.
        pos += tlv.encodedSize();
    }
    return out;
}

std::vector<bytes> getSequense(const bytes& der, bool allowEmpty)
{
    return readVector(expect(der, asn1tag::SEQUENCE).valueRef(), allowEmpty);
}

std::set<bytes> getSet(const bytes& der)
{
    const std::vector<bytes> children = readVector(expect(der, asn1tag::SET).valueRef(), false);
    return std::set<bytes>(children.begin(), children.end());
}

std::string parseString(const bytes& der)
{
    const Tlv tlv(der);
    const bytes& content = tlv.valueRef();
    if (tlv.tag() == asn1tag::BMP_STRING) {
        std::wstring wide;
        wide.reserve(content.size() / 2);
        for (std::size_t i = 0; i + 1 < content.size(); i += 2) {
            wide.push_back(static_cast<wchar_t>((content[i] << 8) | content[i + 1]));
        }
        // Pairs are read as one character; a half without the other is
        // shown as U+FFFD rather than failing the whole structure.
        encoding::replaceLoneSurrogates(wide);
        return encoding::utf16_to_utf8(wide);
    }
    // The full UTF-8 rules, not the narrow check used for key aliases: text
    // with three-octet characters ("№", dashes) stays as it is, and a lone
    // lead octet at the end marks Windows-1251 text rather than passing on
    // as broken UTF-8.
    const std::string text(content.begin(), content.end());
    if (isWellFormedUtf8(content)) {
        return text;
    }
    return encoding::cp1251_to_utf8(text);
}

ObjectIdentifier getObjectIdentifier(const bytes& der)
{
    return ObjectIdentifier::fromDer(der);
}

} // namespace der
