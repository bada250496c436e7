// Tlv parsing and re-encoding, and the flat short-TLV search.
#include <cstdint>
#include <cstdlib>

#include "asn1/errors.h"
#include "asn1/tlv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes input(data, data + size);
    try {
        const Tlv tlv(input);
        if (tlv.encodedSize() > size) {
            std::abort();
        }
        // Our own encoding reads back to the same element.
        const Tlv again(tlv.data());
        if (again.tag() != tlv.tag() || again.value() != tlv.value() || again.data() != tlv.data()) {
            std::abort();
        }
    } catch (const Asn1DecodingError&) {
    }
    if (size > 0) {
        const bytes found = findTagValue(data[0], input, size > 1 ? data[1] : 0);
        if (found.size() > size) {
            std::abort();
        }
    }
    return 0;
}
