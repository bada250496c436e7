#include "asn1/tlv.h"

#include "asn1/errors.h"

Tlv::Tlv(std::uint8_t tag, const bytes& value) : m_tag(tag), m_value(value), m_encodedSize(0)
{
    m_encodedSize = 1 + encodeLength(m_value.size()).size() + m_value.size();
}

Tlv::Tlv(const bytes& encoding) : Tlv(encoding.data(), encoding.size()) {}

Tlv::Tlv(const std::uint8_t* encoding, std::size_t size) : m_tag(0), m_encodedSize(0)
{
    if (encoding == nullptr || size < 2) {
        throw Asn1DecodingError();
    }
    m_tag = encoding[0];
    const std::uint8_t first = encoding[1];
    std::size_t header = 2;
    std::size_t length = 0;
    if (first < 0x80) {
        length = first;
    } else if (first == 0x80) {
        // An indefinite length (BER) is refused: reading it as an empty
        // element would silently drop the content.
        throw Asn1DecodingError();
    } else {
        const std::size_t count = first & 0x7F;
        if (count > 4 || size < 2 + count) {
            throw Asn1DecodingError();
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            value = (value << 8) | encoding[2 + i];
        }
        // No element of this system comes near 2 GiB; a length that does not
        // fit in 31 bits is malformed input.
        if (value > 0x7FFFFFFFu) {
            throw Asn1DecodingError();
        }
        header += count;
        length = value;
    }
    if (length > size - header) {
        throw Asn1DecodingError();
    }
    m_value.assign(encoding + header, encoding + header + length);
    m_encodedSize = header + length;
}

bytes Tlv::encodeLength(std::size_t length)
{
    if (length <= 0x7F) {
        return bytes{static_cast<std::uint8_t>(length)};
    }
    std::size_t count = 1;
    if (length > 0xFFFFFF) {
        count = 4;
    } else if (length > 0xFFFF) {
        count = 3;
    } else if (length > 0xFF) {
        count = 2;
    }
    bytes out;
    out.reserve(1 + count);
    out.push_back(static_cast<std::uint8_t>(0x80 | count));
    for (std::size_t i = count; i > 0; --i) {
        out.push_back(static_cast<std::uint8_t>((length >> (8 * (i - 1))) & 0xFF));
    }
    return out;
}

bytes Tlv::dataLength() const
{
    return encodeLength(m_value.size());
}

bytes Tlv::data() const
{
    bytes out;
    const bytes length = dataLength();
    out.reserve(1 + length.size() + m_value.size());
    out.push_back(m_tag);
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), m_value.begin(), m_value.end());
    return out;
}

bytes findTagValue(std::uint8_t tag, const bytes& data, std::uint8_t offset)
{
    // Offsets wrap modulo 256, so a list longer than 256 octets can cycle;
    // 256 steps visit every reachable offset at least once.
    std::uint8_t pos = offset;
    for (int steps = 0; steps < 256; ++steps) {
        if (static_cast<std::size_t>(pos) + 1 >= data.size()) {
            return {};
        }
        const std::uint8_t length = data[pos + 1];
        if (data[pos] == tag) {
            const std::size_t start = static_cast<std::size_t>(pos) + 2;
            if (length == 0 || start + length > data.size()) {
                return {};
            }
            return bytes(data.begin() + static_cast<std::ptrdiff_t>(start),
                         data.begin() + static_cast<std::ptrdiff_t>(start + length));
        }
        pos = static_cast<std::uint8_t>(pos + 2 + length);
    }
    return {};
}
