// OBJECT IDENTIFIER decoding, and encoding of arbitrary dotted text.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "asn1/oid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes input(data, data + size);
    try {
        const ObjectIdentifier oid = der::getObjectIdentifier(input);
        // Every decoded text is a valid identifier that survives a round trip.
        const bytes der = der::encode(oid);
        if (der::getObjectIdentifier(der) != oid) {
            std::abort();
        }
    } catch (const Asn1DecodingError&) {
    }

    const ObjectIdentifier text(std::string(reinterpret_cast<const char*>(data), size));
    try {
        const bytes der = der::encode(text);
        if (!text.empty()) {
            // Accepted text (leading zeros and all) reads back in canonical
            // form, which is stable from then on.
            const ObjectIdentifier canonical = der::getObjectIdentifier(der);
            if (der::encode(canonical) != der) {
                std::abort();
            }
        }
    } catch (const Asn1DecodingError&) {
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
    return 0;
}
