// BER to DER: indefinite lengths, strings in pieces, nesting and trailing
// octets in any mix.
#include <cstdint>
#include <cstdlib>

#include "asn1/ber.h"
#include "asn1/errors.h"
#include "asn1/tlv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes input(data, data + size);
    bytes der;
    try {
        der = ber::toDer(input);
    } catch (const Asn1DecodingError&) {
        return 0;
    }
    // The result is DER: it comes back identical...
    if (ber::toDer(der) != der) {
        std::abort();
    }
    // ...and, with a one-octet tag, the DER reader takes it as one whole
    // element (the input is refused by it where it had an indefinite length).
    if ((der[0] & 0x1F) != 0x1F) {
        const Tlv tlv(der);
        if (tlv.encodedSize() != der.size()) {
            std::abort();
        }
    }
    return 0;
}
